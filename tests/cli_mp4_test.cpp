// MP4 audio through velitems as a person runs it, on files that ffmpeg makes
// in the test, checked against the peers: exiftool and mutagen must read the
// tags and the cover velitems wrote, ffmpeg must decode the very same audio,
// and ffprobe must find nothing to complain about. Peer checks are skipped
// when the peer is not installed.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "testing/CliTest.h"
#include "testing/ItemJson.h"

using namespace vel::testing;

namespace {

namespace fs = std::filesystem;

// Standard output of a shell command; its exit status in status.
std::string Shell(const std::string& command, int* status = nullptr) {
  std::string out;
  FILE* p = popen(command.c_str(), "r");
  if (p == nullptr) return out;
  char buf[4096];
  std::size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  const int rc = pclose(p);
  if (status != nullptr) *status = rc;
  return out;
}

// The system's own Python, where the mutagen package lives.
std::string Python() { return fs::exists("/usr/bin/python3") ? "/usr/bin/python3" : "python3"; }
bool HaveMutagen() { return std::system((Python() + " -c 'import mutagen.mp4' >/dev/null 2>&1").c_str()) == 0; }

std::map<std::string, JsonProperty> Properties(const std::string& json) { return ItemJsonProperties(json); }

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

// The size field of the file's first "mdat" atom (a 32-bit size).
std::uint64_t MdatSize(const std::string& bytes) {
  const std::size_t at = bytes.find("mdat");
  if (at == std::string::npos || at < 4) return 0;
  std::uint64_t size = 0;
  for (std::size_t i = at - 4; i < at; ++i) size = (size << 8) | static_cast<unsigned char>(bytes[i]);
  return size;
}

class CliMp4Test : public CliTest {
 protected:
  void SetUp() override {
    CliTest::SetUp();
    if (!HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
    cover_ = dir_ + "/cover.jpg";
    ASSERT_EQ(std::system(("ffmpeg -v error -f lavfi -i color=c=blue:s=64x64 -frames:v 1 -y " + cover_).c_str()), 0);
  }
  // A 1.5 s AAC tone with tags, made by ffmpeg with extra options.
  std::string Make(const std::string& name, const std::string& options, bool withCover) {
    const std::string path = dir_ + "/" + name;
    std::string command = "ffmpeg -v error -f lavfi -i sine=frequency=440:sample_rate=22050:duration=1.5 ";
    if (withCover) command += "-i " + cover_ + " -map 0:a -map 1:v -c:v copy -disposition:v attached_pic ";
    command += "-c:a aac -b:a 32k -ac 1 -metadata title=\"First Title\" -metadata artist=\"An Artist\" "
               "-metadata album=\"An Album\" -metadata track=3/12 -metadata disc=1/2 " +
               options + " -y " + path;
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    return path;
  }
  std::map<std::string, JsonProperty> Read(const std::string& path) {
    const Result r = Velitems("read --json " + path);
    EXPECT_EQ(r.status, 0) << r.err;
    return Properties(r.out);
  }
  // The decoded audio's digest: tags and covers must not change it.
  std::string AudioMd5(const std::string& path) {
    return Shell("ffmpeg -v error -i " + path + " -map 0:a -f md5 - 2>&1");
  }
  void ExpectProbeSilent(const std::string& path) {
    if (!HaveTool("ffprobe")) return;
    int status = 0;
    const std::string out = Shell("ffprobe -v error " + path + " 2>&1", &status);
    EXPECT_EQ(status, 0) << path;
    EXPECT_EQ(out, "") << path;
  }

  std::string cover_;
};

TEST_F(CliMp4Test, ReadsWhatFfmpegWrote) {
  struct Case {
    const char* name;
    const char* file;
    const char* options;
    bool cover;
  };
  const Case cases[] = {
      {"moov after mdat", "late.m4a", "", false},
      {"faststart", "fast.m4a", "-movflags +faststart", false},
      // Named ".m4a": the factory asks the video plugin about ".mp4" files first.
      {"brand mp42", "brand.m4a", "-f mp4 -brand mp42", false},
      {"with a cover", "cover.m4a", "", true},
      {"faststart with a cover", "fastcover.m4a", "-movflags +faststart", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = Make(c.file, std::string(c.options) + " -metadata genre=Electronic", c.cover);
    const std::string bytes = ReadText(path);
    auto p = Read(path);
    EXPECT_EQ(p["Title"].value, Quoted("First Title"));
    EXPECT_EQ(p["Artist"].value, Quoted("An Artist"));
    EXPECT_EQ(p["Album"].value, Quoted("An Album"));
    EXPECT_EQ(p["Track"].vt, "VT_INT");
    EXPECT_EQ(p["Track"].value, "3");
    EXPECT_EQ(p["Disk"].vt, "VT_INT");
    EXPECT_EQ(p["Disk"].value, "1");
    EXPECT_EQ(p["SamplingFrequency"].vt, "VT_R8");
    EXPECT_EQ(p["SamplingFrequency"].value, "22050");
    EXPECT_EQ(p["Protected"].vt, "VT_I2");
    // ffmpeg stores the genre as text ("©gen").
    EXPECT_EQ(p["Genre"].value, Quoted("Electronic"));
    ASSERT_EQ(p["Duration"].vt, "VT_R8");
    const double seconds = std::stod(p["Duration"].value);
    EXPECT_NEAR(seconds, 1.5, 0.05);
    if (HaveTool("ffprobe")) {
      const double probed = std::stod(Shell("ffprobe -v error -show_entries format=duration -of csv=p=0 " + path));
      EXPECT_NEAR(seconds, probed, 0.001);
    }
    // The bit rate is the mdat's size over the duration.
    ASSERT_EQ(p["Bitrate"].vt, "VT_INT");
    EXPECT_NEAR(std::stod(p["Bitrate"].value), std::round(MdatSize(bytes) * 8.0 / seconds), 1.0);
    // ReadMetadata leaves the picture out; the picture command gives it exactly.
    EXPECT_EQ(p["Picture"].vt, "VT_EMPTY");
    const std::string out = dir_ + "/out.jpg";
    fs::remove(out);
    const Result r = Velitems("picture get " + path + " " + out);
    if (c.cover) {
      EXPECT_EQ(r.status, 0) << r.err;
      EXPECT_EQ(ReadText(out), ReadText(cover_));
    } else {
      EXPECT_EQ(r.status, 1);
      EXPECT_NE(r.err.find("no picture"), std::string::npos) << r.err;
    }
    // Validation loads the file.
    EXPECT_EQ(Velitems("validate " + path).out, path + "\t0\tOK\n");
  }
}

TEST_F(CliMp4Test, WrittenTagsAndCoverReachThePeers) {
  for (const char* options : {"", "-movflags +faststart"}) {
    SCOPED_TRACE(std::string("ffmpeg options: ") + options);
    const std::string path = Make(std::string("song") + (options[0] ? "fast" : "") + ".m4a", options, false);
    const std::string audio = AudioMd5(path);
    ASSERT_NE(audio.find("MD5="), std::string::npos) << audio;

    Result r = Velitems("write " + path + " 'Title=New Title' 'Artist=Somebody Else' AlbumArtist=Band Genre=Rock "
                        "Track:VT_I4=7 Composer=Writer 'Comment=just a test'");
    ASSERT_EQ(r.status, 0) << r.err;
    auto p = Read(path);
    EXPECT_EQ(p["Title"].value, Quoted("New Title"));
    EXPECT_EQ(p["Artist"].value, Quoted("Somebody Else"));
    EXPECT_EQ(p["AlbumArtist"].value, Quoted("Band"));
    EXPECT_EQ(p["Genre"].value, Quoted("Rock"));
    EXPECT_EQ(p["Track"].value, "7");
    EXPECT_EQ(p["Composer"].value, Quoted("Writer"));
    EXPECT_EQ(p["Album"].value, Quoted("An Album"));  // not mentioned: kept
    EXPECT_EQ(AudioMd5(path), audio);
    ExpectProbeSilent(path);

    const std::string cover2 = dir_ + "/red.jpg";
    ASSERT_EQ(std::system(("ffmpeg -v error -f lavfi -i color=c=red:s=48x32 -frames:v 1 -y " + cover2).c_str()), 0);
    r = Velitems("picture set " + path + " " + cover2);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const std::string out = dir_ + "/out.jpg";
    r = Velitems("picture get " + path + " " + out);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadText(out), ReadText(cover2));
    EXPECT_EQ(Read(path)["Title"].value, Quoted("New Title"));  // the picture write keeps the tags
    EXPECT_EQ(AudioMd5(path), audio);
    ExpectProbeSilent(path);

    if (HaveTool("exiftool")) {
      const std::string tags = Shell("exiftool -s -s -s -Title -Artist -AlbumArtist -Genre -Composer " + path);
      EXPECT_EQ(tags, "New Title\nSomebody Else\nBand\nRock\nWriter\n");
      EXPECT_EQ(Shell("exiftool -b -CoverArt " + path), ReadText(cover2));
    }
    if (HaveMutagen()) {
      const std::string script =
          "import sys, mutagen.mp4\n"
          "f = mutagen.mp4.MP4(sys.argv[1])\n"
          "for k in sorted(f.tags.keys()):\n"
          "    v = f.tags[k]\n"
          "    print(k, [bytes(x).hex() if k == 'covr' else x for x in v])\n";
      std::ofstream(dir_ + "/tags.py") << script;
      const std::string keys = Shell(Python() + " " + dir_ + "/tags.py " + path + " 2>&1");
      for (const std::string line :
           {"\xC2\xA9nam ['New Title']", "\xC2\xA9" "ART ['Somebody Else']", "aART ['Band']", "\xC2\xA9wrt ['Writer']",
            "\xC2\xA9" "alb ['An Album']", "\xC2\xA9" "cmt ['just a test']",
            // The track number changes; the file's total stays.
            "trkn [(7, 12)]"})
        EXPECT_NE(keys.find(line + "\n"), std::string::npos) << line << "\n" << keys;
      std::string coverHex;
      for (unsigned char c : ReadText(cover2)) {
        static const char* digits = "0123456789abcdef";
        coverHex += digits[c >> 4];
        coverHex += digits[c & 15];
      }
      EXPECT_NE(keys.find("covr ['" + coverHex + "']"), std::string::npos) << keys;
    }

    // A second write far larger than any padding left: still a valid file.
    const std::string lyrics(20000, 'x');
    r = Velitems("write " + path + " '{urn:zandor:vel:extended}Lyrics=" + lyrics + "' 'Title=Third Title'");
    ASSERT_EQ(r.status, 0) << r.err;
    p = Read(path);
    EXPECT_EQ(p["Title"].value, Quoted("Third Title"));
    EXPECT_EQ(p["Lyrics"].value, Quoted(lyrics));
    EXPECT_EQ(p["Artist"].value, Quoted("Somebody Else"));
    EXPECT_EQ(AudioMd5(path), audio);
    ExpectProbeSilent(path);
    if (HaveMutagen()) {
      const std::string title =
          Shell(Python() + " -c \"import sys, mutagen.mp4; print(mutagen.mp4.MP4(sys.argv[1])['\\xa9nam'][0])\" " + path);
      EXPECT_EQ(title, "Third Title\n");
    }

    // Clearing the picture removes the cover and nothing else.
    r = Velitems("picture clear " + path);
    ASSERT_EQ(r.status, 0) << r.err;
    r = Velitems("picture get " + path + " " + out);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(Read(path)["Title"].value, Quoted("Third Title"));
    EXPECT_EQ(AudioMd5(path), audio);
    ExpectProbeSilent(path);
  }
}

// Equal values are recognised: writing what the file holds leaves it as it is.
TEST_F(CliMp4Test, WritingTheSameValuesLeavesTheFileAlone) {
  const std::string path = Make("same.m4a", "", true);
  const std::string before = ReadText(path);
  Result r = Velitems("write " + path + " 'Title=First Title' Duration:VT_R8=99");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadText(path), before);
  // Setting the cover it already has changes nothing either.
  r = Velitems("picture set " + path + " " + cover_);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadText(path), before);
}

// An item whose "Picture" is empty removes the cover; the other tags stay.
TEST_F(CliMp4Test, WritingAnEmptyPictureRemovesTheCover) {
  const std::string path = Make("clear.m4a", "-movflags +faststart", true);
  const std::string audio = AudioMd5(path);
  Result r = Velitems("write " + path + " --clear '{urn:zandor:vel:extended}Picture'");
  ASSERT_EQ(r.status, 0) << r.err;
  r = Velitems("picture get " + path + " " + dir_ + "/out.jpg");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("no picture"), std::string::npos) << r.err;
  EXPECT_EQ(Read(path)["Title"].value, Quoted("First Title"));
  EXPECT_EQ(AudioMd5(path), audio);
  ExpectProbeSilent(path);
  if (HaveTool("exiftool")) {
    EXPECT_EQ(Shell("exiftool -s -s -s -CoverArt " + path), "");
  }

  // An empty image set as the picture clears it too, without a warning.
  const std::string other = Make("empty-image.m4a", "-movflags +faststart", true);
  WriteText(dir_ + "/empty.jpg", "");
  r = Velitems("picture set " + other + " " + dir_ + "/empty.jpg");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(Velitems("picture get " + other + " " + dir_ + "/out.jpg").status, 1);
}

// Genre numbers without a name, and ratings stored as bytes, as the plugin hands them over.
TEST_F(CliMp4Test, GenreNumbersAndRatingBytes) {
  const std::string path = Make("genre.m4a", "-movflags +faststart", false);
  Result r = Velitems("write " + path + " Genre=Rock");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Read(path)["Genre"].value, Quoted("Rock"));
  // The "gnre" item: size, "gnre", data size, "data", type, locale, 16-bit number.
  std::string bytes = ReadText(path);
  const std::size_t gnre = bytes.find("gnre");
  ASSERT_NE(gnre, std::string::npos);
  ASSERT_EQ(bytes.substr(gnre + 8, 4), "data");
  ASSERT_EQ(static_cast<unsigned char>(bytes[gnre + 21]), 18u);  // "Rock" is number 18
  for (const int number : {0, 149, 200}) {
    SCOPED_TRACE(number);
    bytes[gnre + 20] = static_cast<char>(number >> 8);
    bytes[gnre + 21] = static_cast<char>(number & 0xFF);
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    auto p = Read(path);
    EXPECT_EQ(p["Genre"].vt, "VT_EMPTY");
    EXPECT_EQ(p["Title"].value, Quoted("First Title"));
  }
  if (!HaveMutagen()) return;
  // mutagen stores "rtng" as one byte of type 21: the plugin hands over that byte as VT_UI4.
  int status = 0;
  Shell(Python() + " -c \"import sys, mutagen.mp4; f = mutagen.mp4.MP4(sys.argv[1]); f['rtng'] = [4]; f.save()\" " +
            path,
        &status);
  ASSERT_EQ(status, 0);
  auto p = Read(path);
  EXPECT_EQ(p["Rating"].vt, "VT_UI4");
  EXPECT_EQ(p["Rating"].value, "4");
}

// An ADTS stream: duration, bit rate and sampling frequency, and no tags.
TEST_F(CliMp4Test, AdtsStream) {
  const std::string path = dir_ + "/tone.aac";
  ASSERT_EQ(std::system(("ffmpeg -v error -f lavfi -i sine=frequency=440:sample_rate=22050:duration=2 -ac 1 "
                         "-c:a aac -b:a 32k -y " + path).c_str()),
            0);
  auto p = Read(path);
  EXPECT_EQ(p["SamplingFrequency"].value, "22050");
  EXPECT_EQ(p["Duration"].vt, "VT_R8");
  EXPECT_EQ(p["Bitrate"].vt, "VT_INT");
  EXPECT_GT(std::stod(p["Bitrate"].value), 0.0);
  EXPECT_EQ(p["Title"].vt, "VT_EMPTY");
  EXPECT_EQ(Velitems("validate " + path).out, path + "\t0\tOK\n");
}

}  // namespace
