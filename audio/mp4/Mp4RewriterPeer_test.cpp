// Peer tests: files made by ffmpeg, rewritten, then read back by ffmpeg,
// ffprobe and exiftool. Skipped where those tools are missing.
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <filesystem>
#include <string>

#include "audio/mp4/Mp4Rewriter.h"
#include "platform/text.h"
#include "testing/ChildProcess.h"
#include "testing/Mp4Builder.h"

namespace {

using namespace vel::testing;

// out holds standard output and standard error.
using CommandResult = ProcessResult;

CommandResult RunTool(const std::string& command) { return RunCommand(command + " 2>&1"); }

// The start of a tool's output, for failure messages (a broken file can make
// a decoder print thousands of lines).
std::string Head(const std::string& text) { return text.size() <= 600 ? text : text.substr(0, 600) + "..."; }

bool Have(const std::string& tool) { return RunTool("command -v " + tool).status == 0; }

// A udta holding an iTunes-style item list with one title ("©nam").
Bytes TitleUserData(const std::string& title, std::size_t padding) {
  const AtomWriter w;
  const Bytes text(title.begin(), title.end());
  const Bytes hdlr = w.Atom("hdlr", {w.U32(0), w.U32(0), w.Code("mdir"), w.Code("appl"), Zeros(8), Bytes{0}});
  const Bytes ilst = w.Atom("ilst", {w.Atom("\xA9nam", {w.Atom("data", {w.U32(1), w.U32(0), text})})});
  Bytes meta = w.Atom("meta", {w.U32(0), hdlr, ilst});
  if (padding > 0) meta = Cat({meta, w.Free(padding)});
  return w.Atom("udta", {meta});
}

class Mp4RewriterPeerTest : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "velmp4p-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  std::string dir_;
};

// ffmpeg's own layouts: media before moov; moov first with a small free atom
// before the media; fragments with base offsets and a fragment index.
TEST_P(Mp4RewriterPeerTest, FfmpegFileKeepsItsAudioAndShowsTheTitle) {
  if (!Have("ffmpeg") || !Have("ffprobe") || !Have("exiftool")) GTEST_SKIP() << "ffmpeg or exiftool is not installed";
  const std::string file = dir_ + "/x.m4a";
  const std::string make = "ffmpeg -v error -y -f lavfi -i sine=frequency=440:duration=2 -c:a aac -b:a 64k " +
                           std::string(GetParam()) + " '" + file + "'";
  ASSERT_EQ(RunTool(make).status, 0) << make;
  const std::string decode = "ffmpeg -v error -i '" + file + "' -map 0:a -f md5 -";
  const CommandResult before = RunTool(decode);
  ASSERT_EQ(before.status, 0) << before.out;
  ASSERT_NE(before.out.find("MD5="), std::string::npos) << before.out;

  // Grow, grow past any padding, shrink: each leaves a file the tools read.
  struct Step {
    const char* title;
    std::size_t padding;
  };
  const Step steps[] = {{"First title", 0}, {"A longer second title", 3000}, {"Short", 0}};
  for (const Step& step : steps) {
    SCOPED_TRACE(step.title);
    const Bytes userData = TitleUserData(step.title, step.padding);
    ASSERT_EQ(Mp4RewriteUserData(vel::FromUtf8(file),
                                 [&](std::span<const std::uint8_t>, Mp4ByteOrder) -> std::optional<Bytes> {
                                   return userData;
                                 }),
              Mp4RewriteStatus::kWritten);
    const CommandResult after = RunTool(decode);
    EXPECT_TRUE(after.out == before.out) << Head(after.out);
    const CommandResult probe = RunTool("ffprobe -v error '" + file + "'");
    EXPECT_EQ(probe.status, 0);
    EXPECT_TRUE(probe.out.empty()) << Head(probe.out);
    const CommandResult tags = RunTool("exiftool -s -Title '" + file + "'");
    EXPECT_NE(tags.out.find(std::string(": ") + step.title + "\n"), std::string::npos) << tags.out;
  }
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_), std::filesystem::directory_iterator()), 1);
}

std::string LayoutName(const ::testing::TestParamInfo<const char*>& info) {
  static const char* const names[] = {"MediaFirst", "Faststart", "Fragmented"};
  return names[info.index];
}

INSTANTIATE_TEST_SUITE_P(Layouts, Mp4RewriterPeerTest,
                         ::testing::Values("", "-movflags +faststart", "-movflags frag_keyframe+empty_moov"),
                         LayoutName);

}  // namespace
