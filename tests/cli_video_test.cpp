// Video files through velitems as a person runs it, made by ffmpeg in the
// test: the figures the video plugin reads must match what was encoded (and
// what ffprobe states), the factory must hand audio-only MP4 files to the
// audio plugin, and unreadable files must fail with the graph's error.
// Skipped when ffmpeg is not installed.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>

#include "testing/ChildProcess.h"
#include "testing/CliTest.h"
#include "testing/ItemJson.h"

using namespace vel::testing;

namespace {

constexpr const char* kTenSeconds =
    "-f lavfi -i testsrc=size=640x360:rate=25 -f lavfi -i sine=sample_rate=44100 -t 10 ";

class CliVideoTest : public CliTest {
 protected:
  void SetUp() override {
    CliTest::SetUp();
    if (!HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
  }
  std::string Make(const std::string& name, const std::string& args) {
    const std::string path = dir_ + "/" + name;
    EXPECT_TRUE(RunFfmpeg(args + " -y " + path)) << args;
    return path;
  }
  // The first line of `velitems ARGS`'s output.
  std::string FirstLine(const std::string& args) {
    const Result r = Velitems(args);
    EXPECT_EQ(r.status, 0) << args << "\n" << r.err;
    return r.out.substr(0, r.out.find('\n'));
  }
};

TEST_F(CliVideoTest, ReadsTheFiguresOfEncodedVideo) {
  struct Case {
    const char* file;
    const char* codecs;
    const char* mime;
  };
  const Case cases[] = {
      {"clip.mp4", "-c:v libx264 -preset ultrafast -pix_fmt yuv420p -c:a aac", "video/mp4"},
      {"clip.3gp", "-c:v libx264 -preset ultrafast -pix_fmt yuv420p -c:a aac", "video/3gpp"},
      {"clip.avi", "-c:v mpeg4 -c:a mp2", "video/avi"},
      {"clip.wmv", "-c:v wmv2 -c:a wmav2", "video/x-ms-wmv"},
      {"clip.mpg", "-c:v mpeg1video -c:a mp2", "video/mpeg"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const std::string path = Make(c.file, std::string(kTenSeconds) + c.codecs);
    EXPECT_EQ(FirstLine("plugin " + path), "Video");
    const Result r = Velitems("read --json " + path);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("\"plugin\":\"Video\",\"class\":\"Video\""), std::string::npos) << r.out;
    auto p = ItemJsonProperties(r.out);
    EXPECT_EQ(p["ItemType"].value, std::string("\"") + c.mime + "\"");
    EXPECT_EQ(p["Duration"].vt, "VT_R8");
    const double seconds = std::atof(p["Duration"].value.c_str());
    EXPECT_NEAR(seconds, 10.0, 0.1);
    EXPECT_EQ(p["Width"].vt, "VT_I4");
    EXPECT_EQ(p["Width"].value, "640");
    EXPECT_EQ(p["Height"].vt, "VT_I4");
    EXPECT_EQ(p["Height"].value, "360");
    EXPECT_EQ(p["Framerate"].vt, "VT_R8");
    EXPECT_NEAR(std::atof(p["Framerate"].value.c_str()), 25.0, 0.01);
    // The bit rate the file states for its video, or else the whole file's
    // bits over the duration read.
    EXPECT_EQ(p["Bitrate"].vt, "VT_I4");
    const long bitrate = std::atol(p["Bitrate"].value.c_str());
    const long fromSize = static_cast<long>(static_cast<double>(ReadText(path).size()) * 8.0 / seconds);
    std::string stated = "none";
    if (HaveTool("ffprobe")) {
      stated = RunCommand("ffprobe -v error -select_streams v:0 -show_entries stream=bit_rate -of csv=p=0 " + path).out;
      stated = stated.substr(0, stated.find_first_of("\r\n"));
    }
    EXPECT_TRUE(bitrate == fromSize || std::to_string(bitrate) == stated)
        << "bit rate " << bitrate << ", from the size " << fromSize << ", stated " << stated;
  }
}

// MP4 and 3GP files leave the frame size of MPEG-4 Part 2 and H.263 video to
// the codec's headers.
TEST_F(CliVideoTest, FrameSizesFromTheCodecsHeaders) {
  struct Case {
    const char* file;
    const char* codecs;
    const char* size;
  };
  const Case cases[] = {
      {"part2.mp4", "-c:v mpeg4", "320x240"},
      {"part2.3gp", "-c:v mpeg4", "176x144"},
      {"h263.3gp", "-c:v h263", "352x288"},
      {"small.3gp", "-c:v h263", "128x96"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const std::string path = dir_ + "/" + c.file;
    const std::string command = std::string("ffmpeg -v error -y -f lavfi -i testsrc=size=") + c.size +
                                ":rate=10:d=1 " + c.codecs + " " + path;
    ASSERT_EQ(RunCommand(command).status, 0) << command;
    const Result r = Velitems("read --json " + path);
    ASSERT_EQ(r.status, 0) << r.err;
    auto p = ItemJsonProperties(r.out);
    const std::string size = c.size;
    EXPECT_EQ(p["Width"].value, size.substr(0, size.find('x')));
    EXPECT_EQ(p["Height"].value, size.substr(size.find('x') + 1));
  }
}

TEST_F(CliVideoTest, AudioOnlyContainersGoToTheAudioPlugin) {
  const std::string cover = Make("cover.jpg", "-f lavfi -i color=c=blue:s=64x64 -frames:v 1");
  struct Case {
    const char* name;
    const char* file;
    const char* muxer;  // ffmpeg's -f option, or empty for the one the name picks
    bool withCover;
    bool tags;  // whether the tags are checked
  };
  // The tags are checked on files from the iTunes muxer; the audio plugin
  // does not read the tags ffmpeg's plain MP4 and 3GP muxers write yet.
  const Case cases[] = {
      {"audio-only .mp4", "song.mp4", "-f ipod", false, true},
      {"audio-only .mp4 with a cover", "cover.mp4", "-f ipod", true, true},
      {"audio-only .mp4 from the MP4 muxer", "plain.mp4", "", false, false},
      {"audio-only .mp4 with a cover from the MP4 muxer", "plaincover.mp4", "", true, false},
      {"audio-only .3gp", "song.3gp", "", false, false},
      {".m4a with a cover", "cover.m4a", "", true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string args = "-f lavfi -i sine=duration=2 ";
    if (c.withCover) args += "-i " + cover + " -map 0:a -map 1:v -c:v copy -disposition:v attached_pic ";
    args += "-c:a aac -metadata title=\"Song Title\" -metadata artist=\"An Artist\" " + std::string(c.muxer);
    const std::string path = Make(c.file, args);
    EXPECT_EQ(FirstLine("plugin " + path), "Audio");
    const Result r = Velitems("read --json " + path);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("\"plugin\":\"Audio\",\"class\":\"Audio\""), std::string::npos) << r.out;
    if (!c.tags) continue;
    auto p = ItemJsonProperties(r.out);
    EXPECT_EQ(p["Title"].value, "\"Song Title\"");
    EXPECT_EQ(p["Artist"].value, "\"An Artist\"");
  }
}

TEST_F(CliVideoTest, UnreadableVideoFailsWithTheGraphsError) {
  struct Case {
    const char* name;
    const char* file;
    std::function<void(const std::string& path)> make;
    const char* description;
    const char* code;
  };
  const Case cases[] = {
      // A video codec tag no decoder knows; the audio still renders. Written by
      // the QuickTime muxer, which takes any tag, under an MP4 name.
      {"video without a decoder", "nodecoder.mp4",
       [&](const std::string& path) {
         EXPECT_TRUE(RunFfmpeg("-f lavfi -i testsrc=size=160x120:rate=25 -f lavfi -i sine -t 2 -c:v mpeg4 "
                               "-vtag ABCD -c:a aac -strict -1 -f mov " + path));
       },
       "Error reading video metadata.", "61006"},
      // Random bytes without 0xFF, so no stray frame sync makes them look like
      // an MPEG stream. The factory gives ".avi" to the video plugin alone.
      {"random bytes", "noise.avi",
       [](const std::string& path) {
         std::mt19937 random(7);
         std::string noise(4096, '\0');
         for (char& b : noise) b = static_cast<char>(random() % 0xFF);
         WriteText(path, noise);
       },
       "VFW_E_UNKNOWN_FILE_TYPE", "-2147220928"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir_ + "/" + c.file;
    c.make(path);
    EXPECT_EQ(FirstLine("plugin " + path), "Video");
    Result r = Velitems("read " + path);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(path + ": " + c.description + "\n"), std::string::npos) << r.err;
    r = Velitems("read --verbose " + path);
    EXPECT_NE(r.err.find(std::string("<description>") + c.description + "</description>"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(std::string("<errorcode>") + c.code + "</errorcode>"), std::string::npos) << r.err;
  }
}

TEST_F(CliVideoTest, ValidatePathAndTimer) {
  const std::string path = Make("clip.mp4", std::string(kTenSeconds) + "-c:v libx264 -preset ultrafast -c:a aac");
  const Result validate = Velitems("validate " + path);
  EXPECT_EQ(validate.status, 0) << validate.err;
  EXPECT_NE(validate.out.find("\t0\tOK"), std::string::npos) << validate.out;
  // Filed by the file's last write time (the item has no creation date).
  ASSERT_EQ(std::system(("touch -d '2009-06-15 12:00' " + path).c_str()), 0);
  EXPECT_EQ(FirstLine("path " + path), "2009-06");
  // Building the graph is timed on every read, logged at level 4.
  HKEY logging = Create(u"Software\\Zandor\\Logging\\Zandor software");
  SetDword(logging, u"FileLogLevel", 4);
  RegCloseKey(logging);
  ASSERT_EQ(Velitems("read " + path).status, 0);
  EXPECT_NE(Log().find("==TIMER==\tBuild graph for metadata\t"), std::string::npos) << Log();
}

}  // namespace
