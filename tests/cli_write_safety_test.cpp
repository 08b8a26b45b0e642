// Writing files through velitems when things go wrong or happen at once:
// writers of the same file at the same moment both land, a file that may not
// be written is left untouched with the system's reason on the line, and a
// file that keeps no tags is not reported as written.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <string>

#include "testing/CliTest.h"
#include "testing/ItemJson.h"
#include "testing/Mp4Builder.h"
#include "testing/TempRegistry.h"
#include "testing/Tools.h"
#include "testing/WaveBuilder.h"

using namespace vel::testing;

namespace {

namespace fs = std::filesystem;

class CliWriteSafetyTest : public CliTest {
 protected:
  void SetUp() override {
    CliTest::SetUp();
    const Result r = Velitems("register");
    ASSERT_EQ(r.status, 0) << r.err;
  }
  std::string MakeM4a(const std::string& name) {
    const std::string path = dir_ + "/" + name;
    EXPECT_TRUE(WriteBytes(path, SmallFile(Item("\xA9nam", 1, Text("Old Title")))));
    return path;
  }
  std::map<std::string, JsonProperty> Read(const std::string& path) {
    const Result r = Velitems("read --json " + path);
    EXPECT_EQ(r.status, 0) << r.err;
    return ItemJsonProperties(r.out);
  }
  std::size_t TemporaryFiles() const {
    std::size_t n = 0;
    for (const auto& e : fs::directory_iterator(dir_)) n += e.path().extension() == ".tmp" ? 1 : 0;
    return n;
  }
};

// Two processes write different properties of one file at the same moment:
// the second waits for the first and works from its result. The MP4 editor
// and the Windows Media runtime (".mp3" and ".wma") each take the file's
// writer lock before they read it.
TEST_F(CliWriteSafetyTest, ConcurrentWritersOfOneFileBothLand) {
  const std::string velitems = TestBinDir() + "/velitems";
  const bool haveFfmpeg = HaveTool("ffmpeg");
  const struct {
    const char* name;
    const char* ffmpegCodec;  // null: built in code
  } kinds[] = {{"pair.m4a", nullptr}, {"pair.mp3", "libmp3lame"}, {"pair.wma", "wmav2"}};
  for (const auto& kind : kinds) {
    SCOPED_TRACE(kind.name);
    if (kind.ffmpegCodec != nullptr && !haveFfmpeg) continue;  // (the ".m4a" row still runs)
    for (int trial = 0; trial < 8; ++trial) {
      SCOPED_TRACE(trial);
      std::string path;
      if (kind.ffmpegCodec == nullptr) {
        path = MakeM4a(kind.name);
      } else {
        path = dir_ + "/" + kind.name;
        const ProcessResult made = RunCommand("ffmpeg -v error -f lavfi -i sine=d=0.3 -c:a " +
                                              std::string(kind.ffmpegCodec) + " -metadata title=Old -y " + path);
        ASSERT_EQ(made.status, 0) << made.out;
      }
      const std::string title = "Title " + std::to_string(trial);
      const std::string artist = "Artist " + std::to_string(trial);
      const ProcessResult r = RunCommand("(" + velitems + " write " + path + " 'Title=" + title + "' & " + velitems +
                                         " write " + path + " 'Artist=" + artist + "' & wait) 2>&1; echo done");
      EXPECT_EQ(r.out, "done\n");
      const auto properties = Read(path);
      EXPECT_EQ(properties.at("Title").value, "\"" + title + "\"");
      EXPECT_EQ(properties.at("Artist").value, "\"" + artist + "\"");
    }
  }
}

TEST_F(CliWriteSafetyTest, AFileThatMayNotBeWrittenIsUntouchedAndTheLineSaysWhy) {
  const std::string path = MakeM4a("ro.m4a");
  const std::string before = ReadText(path);
  ASSERT_EQ(chmod(path.c_str(), 0444), 0);
  const Result r = Velitems("write " + path + " Title=New");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("ro.m4a: Error writing audio metadata. Access is denied."), std::string::npos) << r.err;
  EXPECT_EQ(ReadText(path), before);
  EXPECT_EQ(TemporaryFiles(), 0u);
}

TEST_F(CliWriteSafetyTest, AFileThatKeepsNoTagsIsNotReportedAsWritten) {
  const std::string path = dir_ + "/tone.wav";
  Bytes wave = Header(Format{});
  Chunk(wave, "data", 4410);
  ASSERT_TRUE(WriteBytes(path, wave));
  const std::string before = ReadText(path);
  const Result r = Velitems("write " + path + " Title=New");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("tone.wav: this file keeps no tags: nothing was stored"), std::string::npos) << r.err;
  EXPECT_EQ(ReadText(path), before);
  // Clearing what is not there is no failure.
  EXPECT_EQ(Velitems("write " + path + " --clear Title").status, 0);
}

}  // namespace
