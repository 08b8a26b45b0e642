// Windows Media family files (".mp3" and ".wma") through velitems as a person
// runs it, on files that ffmpeg makes in the test (a ".wma" cover is added by
// mutagen: ffmpeg's ASF writer keeps attached pictures as a video stream),
// checked against the peers: exiftool, mutagen and ffprobe must read the tags
// and covers velitems wrote. Peer checks are skipped when the peer is not
// installed.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "testing/CliTest.h"
#include "testing/FileBytes.h"
#include "testing/ItemJson.h"
#include "testing/Tools.h"

using namespace vel::testing;

namespace {

namespace fs = std::filesystem;

// Standard output of a shell command.
std::string Shell(const std::string& command) {
  std::string out;
  FILE* p = popen(command.c_str(), "r");
  if (p == nullptr) return out;
  char buf[4096];
  std::size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  pclose(p);
  return out;
}

// The system's own Python, where the mutagen package lives.
std::string Python() { return fs::exists("/usr/bin/python3") ? "/usr/bin/python3" : "python3"; }
bool HaveMutagen() { return std::system((Python() + " -c 'import mutagen' >/dev/null 2>&1").c_str()) == 0; }

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

// A "JPEG" of n bytes whose content a reader cannot mistake for another.
std::string JpegLike(std::size_t n) {
  std::string bytes = "\xFF\xD8\xFF\xE0";
  unsigned state = 12345;
  while (bytes.size() + 2 < n) {
    state = state * 1103515245u + 12345u;
    bytes.push_back(static_cast<char>(state >> 16));
  }
  return bytes + "\xFF\xD9";
}

struct Kind {
  const char* name;
  const char* ext;
  const char* track;  // as stored
};

class CliWmaTest : public CliTest, public ::testing::WithParamInterface<Kind> {
 protected:
  void SetUp() override {
    CliTest::SetUp();
    if (!HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
    cover_ = dir_ + "/cover.jpg";
    ASSERT_EQ(std::system(("ffmpeg -v error -f lavfi -i color=c=red:s=64x64 -frames:v 1 -y " + cover_).c_str()), 0);
    path_ = Make();
  }

  // A 1.5 s tone with tags and the cover, as the kind's file.
  std::string Make() {
    const Kind& kind = GetParam();
    const std::string path = dir_ + "/song" + kind.ext;
    std::string command = "ffmpeg -v error -f lavfi -i sine=frequency=440:sample_rate=22050:duration=1.5 ";
    if (std::string(kind.ext) == ".mp3") {
      command += "-i " + cover_ + " -map 0:a -map 1:v -c:v copy -disposition:v attached_pic "
                 "-metadata:s:v comment=\"Cover (front)\" -c:a libmp3lame -b:a 32k -id3v2_version 3 -metadata date=2026 ";
    } else {
      command += "-c:a wmav2 -b:a 32k -metadata WM/Year=2026 ";
    }
    command += std::string("-ac 1 -metadata title=\"Sample Tone\" -metadata artist=\"Vel Band\" "
                           "-metadata album=\"Demo Tones\" -metadata genre=Electronic -metadata track=") +
               kind.track + " -y " + path;
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    if (std::string(kind.ext) == ".wma") {
      if (!HaveMutagen()) {
        ADD_FAILURE() << "mutagen is needed to give the .wma file its cover";
        return path;
      }
      const std::string script =
          "import struct, sys; from mutagen.asf import ASF, ASFByteArrayAttribute; f = ASF(sys.argv[1]); "
          "d = open(sys.argv[2], 'rb').read(); "
          "f['WM/Picture'] = [ASFByteArrayAttribute(struct.pack('<BI', 3, len(d)) + 'image/jpeg'.encode('utf-16-le') "
          "+ bytes(2) + 'Front'.encode('utf-16-le') + bytes(2) + d)]; f.save()";
      EXPECT_EQ(std::system((Python() + " -c \"" + script + "\" " + path + " " + cover_).c_str()), 0);
    }
    return path;
  }

  std::map<std::string, JsonProperty> Read() {
    const Result r = Velitems("read --json " + path_);
    EXPECT_EQ(r.status, 0) << r.err;
    return ItemJsonProperties(r.out);
  }

  std::string cover_;
  std::string path_;
};

TEST_P(CliWmaTest, ReadsTheTagsFfmpegWrote) {
  auto p = Read();
  EXPECT_EQ(p["Title"].value, Quoted("Sample Tone"));
  EXPECT_EQ(p["Artist"].value, Quoted("Vel Band"));
  EXPECT_EQ(p["Author"].value, Quoted("Vel Band"));
  EXPECT_EQ(p["Album"].value, Quoted("Demo Tones"));
  EXPECT_EQ(p["Genre"].value, Quoted("Electronic"));
  EXPECT_EQ(p["Track"].vt, "VT_I4");
  EXPECT_EQ(p["Track"].value, "7");
  EXPECT_EQ(p["Year"].value, Quoted("2026"));
  EXPECT_EQ(p["Duration"].vt, "VT_R8");
  const double duration = std::atof(p["Duration"].value.c_str());
  EXPECT_GT(duration, 1.4);
  EXPECT_LT(duration, 1.8);
  EXPECT_GT(std::atof(p["Bitrate"].value.c_str()), 0) << p["Bitrate"].vt;
  EXPECT_EQ(p["SamplingFrequency"].vt, "VT_R4");
  EXPECT_EQ(p["SamplingFrequency"].value, "22050");
  EXPECT_EQ(p["Protected"].vt, "VT_BOOL");
  EXPECT_EQ(p["Protected"].value, "false");
  // read leaves the picture out; the picture command gives it.
  EXPECT_EQ(p["Picture"].vt, "VT_EMPTY");
  const std::string out = dir_ + "/out.jpg", raw = dir_ + "/out.body";
  Result r = Velitems("picture get " + path_ + " " + out);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadText(out), ReadText(cover_));
  r = Velitems("picture --raw get " + path_ + " " + raw);
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string body = ReadText(raw);
  EXPECT_EQ(body.substr(0, 13), std::string("\0image/jpeg\0\x03", 13));
  EXPECT_EQ(body.substr(body.size() - ReadText(cover_).size()), ReadText(cover_));
  r = Velitems("validate " + path_);
  EXPECT_EQ(r.out, path_ + "\t0\tOK\n");
}

TEST_P(CliWmaTest, PeersReadWhatVelitemsWrote) {
  Result r = Velitems("write " + path_ + " 'Title=New Title' 'Album=Other Album' Track:VT_I4=9 '{urn:zandor:vel:extended}Year=2027'");
  ASSERT_EQ(r.status, 0) << r.err;
  auto p = Read();
  EXPECT_EQ(p["Title"].value, Quoted("New Title"));
  EXPECT_EQ(p["Album"].value, Quoted("Other Album"));
  EXPECT_EQ(p["Track"].value, "9");
  EXPECT_EQ(p["Artist"].value, Quoted("Vel Band")) << "a tag the item does not name stays";
  if (HaveTool("exiftool")) {
    const std::string tags = Shell("exiftool -s -s -s -Title -Album -AlbumTitle " + path_);
    EXPECT_NE(tags.find("New Title"), std::string::npos) << tags;
    EXPECT_NE(tags.find("Other Album"), std::string::npos) << tags;
  }
  if (HaveTool("ffprobe")) {
    // (ffmpeg gives a ".wma" a second, lower-case "title" that velitems
    // leaves alone and ffprobe prefers; the album has one attribute only.)
    const std::string tags = ProbeTags(path_);
    EXPECT_NE(tags.find("Other Album"), std::string::npos) << tags;
  }
  if (HaveMutagen()) {
    const std::string tags = Shell(Python() + " -c \"import sys, mutagen; print(mutagen.File(sys.argv[1]).pprint())\" " + path_);
    EXPECT_NE(tags.find("New Title"), std::string::npos) << tags;
    EXPECT_NE(tags.find("Other Album"), std::string::npos) << tags;
  }
  EXPECT_TRUE(DecodesCleanly(path_));
}

TEST_P(CliWmaTest, CoversSetAndClearedAreSeenByPeers) {
  const std::string big = dir_ + "/big.jpg";
  WriteText(big, JpegLike(90000));  // beyond 16 bits of length
  Result r = Velitems("picture set " + path_ + " " + big);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err.find("keeps no pictures"), std::string::npos) << r.err;
  const std::string out = dir_ + "/out.jpg";
  r = Velitems("picture get " + path_ + " " + out);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadText(out), ReadText(big));
  EXPECT_EQ(Read()["Title"].value, Quoted("Sample Tone")) << "the picture write keeps the tags";
  if (HaveTool("exiftool")) {
    EXPECT_EQ(Shell("exiftool -b -Picture " + path_), ReadText(big));
    EXPECT_NE(Shell("exiftool -s -s -s -PictureMIMEType " + path_).find("image/jpeg"), std::string::npos);
  }
  if (HaveMutagen()) {
    const std::string sizes =
        Shell(Python() + " -c \"import sys, mutagen; f = mutagen.File(sys.argv[1]); "
                         "print([len(v.data) for k, v in f.tags.items() if k.startswith('APIC')] if hasattr(f.tags, 'getall') "
                         "else [len(v.value) for v in f.tags.get('WM/Picture', [])])\" " +
              path_);
    EXPECT_NE(sizes.find("9"), std::string::npos) << sizes;  // 90000 (APIC data) or the whole WM/Picture value
  }
  r = Velitems("picture clear " + path_);
  ASSERT_EQ(r.status, 0) << r.err;
  r = Velitems("picture get " + path_ + " " + out);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("no picture"), std::string::npos) << r.err;
  if (HaveTool("exiftool")) {
    EXPECT_EQ(Shell("exiftool -s -s -s -Picture " + path_), "");
  }
  EXPECT_EQ(Read()["Album"].value, Quoted("Demo Tones"));
}

TEST_P(CliWmaTest, AReadOnlyFileIsRefused) {
  const std::string before = ReadText(path_);
  ASSERT_EQ(chmod(path_.c_str(), 0444), 0);
  const Result r = Velitems("write --verbose " + path_ + " 'Title=Never'");
  chmod(path_.c_str(), 0644);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Error writing audio metadata."), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("61004"), std::string::npos) << r.err;
  EXPECT_EQ(ReadText(path_), before);
}

TEST_P(CliWmaTest, PictureSetRefusesWhatIsNoImage) {
  const std::string text = dir_ + "/notes.txt", before = ReadText(path_);
  WriteText(text, "just words");
  Result r = Velitems("picture set " + path_ + " " + text);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("not a JPEG, PNG, GIF, BMP, WebP or TIFF image"), std::string::npos) << r.err;
  EXPECT_EQ(ReadText(path_), before);
}

INSTANTIATE_TEST_SUITE_P(Files, CliWmaTest,
                         ::testing::Values(Kind{"Mp3", ".mp3", "7/12"}, Kind{"Wma", ".wma", "07"}),
                         [](const ::testing::TestParamInfo<Kind>& info) { return std::string(info.param.name); });

}  // namespace
