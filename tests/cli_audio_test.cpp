// velitems on audio files as a person runs it, on a fresh store: reading and
// validating the families, and the picture command's answers.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "testing/CliTest.h"

using namespace vel::testing;

namespace {

namespace fs = std::filesystem;

class CliAudioTest : public CliTest {};

TEST_F(CliAudioTest, PictureArgumentsAreChecked) {
  for (const char* args : {"picture", "picture get a.m4a", "picture set a.m4a", "picture clear", "picture show a.m4a",
                           "picture get a.m4a out.jpg extra", "picture --raw", "picture --raw get a.m4a",
                           "picture clear a.m4a --raw extra"}) {
    const Result r = Velitems(args);
    EXPECT_EQ(r.status, 2) << args << "\n" << r.err;
    EXPECT_NE(r.err.find("usage: velitems"), std::string::npos) << args;
  }
}

TEST_F(CliAudioTest, PictureNeedsAnAudioPlugin) {
  const std::string message = dir_ + "/a.vmg", other = dir_ + "/a.xyz";
  WriteText(message, "BEGIN:VMSG\r\nEND:VMSG\r\n");
  WriteText(other, "x");
  Result r = Velitems("picture get " + message + " " + dir_ + "/out.jpg");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("the SMS plugin keeps no pictures"), std::string::npos) << r.err;
  r = Velitems("picture clear " + other);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("no plugin is registered for this file"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(dir_ + "/out.jpg"));
}

// A WAVE file has no picture: get says so, set and clear change nothing (set says so).
TEST_F(CliAudioTest, PictureOfAWaveFile) {
  const std::string wave = dir_ + "/a.wav", image = dir_ + "/cover.jpg", out = dir_ + "/out.jpg";
  WriteText(wave, std::string("RIFF\0\0\0\0WAVEfmt ", 16) + std::string(40, '\0'));
  WriteText(image, "\xFF\xD8\xFF\xE0 picture bytes");
  const std::string before = ReadText(wave);

  Result r = Velitems("picture get " + wave + " " + out);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find(wave + ": no picture"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(out));

  r = Velitems("picture set " + wave + " " + image);
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_NE(r.err.find(wave + ": this file keeps no pictures; it was left as it is"), std::string::npos) << r.err;
  r = Velitems("picture clear " + wave);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err.find("keeps no pictures"), std::string::npos) << r.err;  // it has none, as asked
  EXPECT_EQ(ReadText(wave), before);
}

TEST_F(CliAudioTest, PictureFailuresAreReported) {
  const std::string missing = dir_ + "/missing.m4a", song = dir_ + "/a.m4a";
  WriteText(song, "x");
  // The image cannot be read: the audio file is not touched.
  Result r = Velitems("picture set " + song + " " + dir_ + "/no-such.jpg");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("no-such.jpg: cannot read"), std::string::npos) << r.err;
  EXPECT_EQ(ReadText(song), "x");
  // The audio file is not there: the plugin's report.
  r = Velitems("picture clear " + missing);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("velitems: WritePicture: The system cannot find the file specified. (0x80045D53)"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(r.err.find("CVelItemAudio::WritePicture"), std::string::npos) << r.err;
  r = Velitems("picture clear --verbose " + missing);
  EXPECT_NE(r.err.find("CVelItemAudio::WritePicture"), std::string::npos) << r.err;
  r = Velitems("picture get " + missing + " " + dir_ + "/out.jpg");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("velitems: ReadPicture: The system cannot find the file specified. (0x80045D53)"),
            std::string::npos)
      << r.err;
}

// Without the Windows Media runtime a ".wma" file still validates (0), and the
// file log says that the runtime could not open it.
TEST_F(CliAudioTest, ValidateWindowsMediaWithoutTheRuntime) {
  const std::string wma = dir_ + "/a.wma";
  WriteText(wma, "not really");
  const Result r = Velitems("validate " + wma);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, wma + "\t0\tOK\n");
  EXPECT_NE(Log().find("Failed to validate file: " + wma), std::string::npos) << Log();
}

TEST_F(CliAudioTest, ReadAndValidateAWaveMadeByFfmpeg) {
  if (!HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
  const std::string wave = dir_ + "/tone.wav";
  ASSERT_EQ(std::system(("ffmpeg -v error -f lavfi -i sine=frequency=440:sample_rate=16000:duration=2 -ac 2 "
                         "-c:a pcm_s16le -y " + wave).c_str()),
            0);
  Result r = Velitems("read --json " + wave);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("{\"name\":\"Duration\",\"namespace\":\"urn:zandor:vel:core\",\"vt\":\"VT_R8\",\"value\":2}"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("{\"name\":\"Bitrate\",\"namespace\":\"urn:zandor:vel:core\",\"vt\":\"VT_I4\",\"value\":512000}"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("{\"name\":\"SamplingFrequency\",\"namespace\":\"urn:zandor:vel:core\",\"vt\":\"VT_R8\","
                       "\"value\":16000}"),
            std::string::npos)
      << r.out;
  r = Velitems("validate " + wave);
  EXPECT_EQ(r.out, wave + "\t0\tOK\n");
}

}  // namespace
