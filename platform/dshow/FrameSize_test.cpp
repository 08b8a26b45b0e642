// Frame sizes from the codecs' own headers, on elementary streams ffmpeg
// makes in the test: MPEG-4 Part 2 video object layers and H.263 picture
// headers of standard and custom formats; every cut-off prefix gives the size
// or nothing, never a read past the bytes.
#include "platform/dshow/FrameSize.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testing/ChildProcess.h"
#include "testing/FileBytes.h"
#include "testing/TempDir.h"
#include "testing/Tools.h"

using vel::dshow::FrameSize;
using vel::dshow::H263FrameSize;
using vel::dshow::Mpeg4VolFrameSize;

namespace {

TEST(FrameSizeTest, FromTheHeadersFfmpegWrites) {
  if (!vel::testing::HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
  struct Case {
    const char* label;
    const char* args;  // codec and elementary stream format
    bool mpeg4;
    int width, height;
  };
  const Case cases[] = {
      {"MPEG-4 320x240", "-c:v mpeg4 -f m4v", true, 320, 240},
      {"MPEG-4 200x152", "-c:v mpeg4 -f m4v", true, 200, 152},
      {"MPEG-4 64x48", "-c:v mpeg4 -f m4v", true, 64, 48},
      {"H.263 sub-QCIF", "-c:v h263 -f h263", false, 128, 96},
      {"H.263 CIF", "-c:v h263 -f h263", false, 352, 288},
      {"H.263+ custom", "-c:v h263p -f h263", false, 200, 152},
  };
  vel::testing::TempDir dir("framesize");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const std::string path = dir.File("stream");
    const std::string command = "ffmpeg -v error -y -f lavfi -i testsrc=size=" + std::to_string(c.width) + "x" +
                                std::to_string(c.height) + ":rate=10:d=0.2 " + c.args + " " + path;
    ASSERT_EQ(vel::testing::RunCommand(command).status, 0) << command;
    const vel::testing::Bytes bytes = vel::testing::ReadBytes(path);
    const auto size = c.mpeg4 ? Mpeg4VolFrameSize(bytes) : H263FrameSize(bytes);
    ASSERT_TRUE(size.has_value());
    EXPECT_EQ(size->width, c.width);
    EXPECT_EQ(size->height, c.height);
    // Cut off anywhere in the header: the size or nothing.
    for (std::size_t n = 0; n < std::min<std::size_t>(bytes.size(), 64); ++n) {
      const std::span<const std::uint8_t> prefix(bytes.data(), n);
      const auto cut = c.mpeg4 ? Mpeg4VolFrameSize(prefix) : H263FrameSize(prefix);
      if (cut) {
        EXPECT_EQ(cut->width, c.width) << n;
        EXPECT_EQ(cut->height, c.height) << n;
      }
    }
  }
}

TEST(FrameSizeTest, WhatIsNoSuchHeaderGivesNothing) {
  const std::vector<std::vector<std::uint8_t>> junk = {
      {}, {0, 0, 1}, {0, 0, 1, 0x20}, {0, 0, 0x80, 0x02}, std::vector<std::uint8_t>(64, 0xFF),
      std::vector<std::uint8_t>(64, 0)};
  for (const auto& bytes : junk) {
    EXPECT_FALSE(Mpeg4VolFrameSize(bytes).has_value()) << bytes.size();
    EXPECT_FALSE(H263FrameSize(bytes).has_value()) << bytes.size();
  }
}

}  // namespace
