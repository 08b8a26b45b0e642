// CYImage and CYImageProcessor over files made at test time.
#include <dirent.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <thread>
#include <vector>

// The library's message codes, to name the code a report must carry.
#include <jpeglib.h>
#include <jerror.h>

#include "testing/FileBytes.h"
#include "testing/ReportMatchers.h"
#include "testing/TempDir.h"
#include "testing/Text.h"
#include "testing/Tools.h"
#include "ylib/YImage.h"
#include "ylib/YImageProcessor.h"

namespace {

using vel::testing::Bytes;
using vel::testing::Origin;
using vel::testing::ReportOf;
using vel::testing::U16;
using vel::testing::U8;

constexpr HRESULT kFileNotFoundHr = static_cast<HRESULT>(0x80070002u);
constexpr HRESULT kEFail = static_cast<HRESULT>(0x80004005u);

// The descriptors this process holds open.
int OpenDescriptors() {
  int n = 0;
  if (DIR* dir = opendir("/proc/self/fd")) {
    while (readdir(dir)) ++n;
    closedir(dir);
  }
  return n;
}

// A child of the entry at index: "description", "errorcode" or a detail.
std::string EntryChild(const CYException& x, std::size_t index, std::u16string_view child) {
  const auto& entries = x.GetTree().GetChildren();
  if (index >= entries.size()) return "<no entry>";
  const auto found = entries[index]->GetChildren(child);
  return found.empty() ? "<missing>" : U8(found.front()->GetValue());
}

// A JPEG made of the SOI marker, one quantisation table and EOI: tables, no frame.
Bytes TablesOnlyJpeg() {
  Bytes out = {0xFF, 0xD8, 0xFF, 0xDB, 0x00, 0x43, 0x00};
  for (int i = 0; i < 64; ++i) out.push_back(static_cast<std::uint8_t>(1 + i));
  out.insert(out.end(), {0xFF, 0xD9});
  return out;
}

class YImageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!vel::testing::HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
  }
  std::u16string Make(const std::string& name, const std::string& size) {
    const std::string path = dir_.File(name);
    EXPECT_TRUE(vel::testing::RunFfmpeg("-f lavfi -i testsrc=size=" + size + ":d=1 -frames:v 1 '" + path + "'"))
        << name;
    return U16(path);
  }
  vel::testing::TempDir dir_{"yimage"};
};

TEST_F(YImageTest, JpegSizeComesFromTheHeader) {
  struct Case {
    const char* size;
    LONG cx, cy;
  };
  for (const Case& c : {Case{"640x480", 640, 480}, Case{"16x2", 16, 2}, Case{"8x1024", 8, 1024}}) {
    SCOPED_TRACE(c.size);
    const std::u16string path = Make("a.jpg", c.size);
    const SIZE size = CYImageProcessor::GetJPEGImageSize(path);
    EXPECT_EQ(size.cx, c.cx);
    EXPECT_EQ(size.cy, c.cy);
  }
}

TEST_F(YImageTest, JpegHeaderErrorsCarryTheLibrarysCodeAndTemplate) {
  const std::u16string jpg = Make("whole.jpg", "32x24");
  const Bytes whole = vel::testing::ReadBytes(U8(jpg));
  struct Case {
    const char* name;
    Bytes bytes;
    int code;
    const char* message;
  };
  const std::vector<Case> cases = {
      {"a PNG", {0x89, 'P', 'N', 'G', 13, 10, 26, 10}, JERR_NO_SOI, "Not a JPEG file: starts with 0x%02x 0x%02x"},
      {"empty", {}, JERR_INPUT_EMPTY, "Empty input file"},
      {"a bad marker length", {0xFF, 0xD8, 0xFF, 0xDB, 0x00, 0x01}, JERR_BAD_LENGTH, "Bogus marker length"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::u16string path = dir_.Write("bad.jpg", c.bytes);
    const int before = OpenDescriptors();
    auto report = ReportOf([&] { CYImageProcessor::GetJPEGImageSize(path); });
    ASSERT_TRUE(report.has_value());
    EXPECT_EQ(report->GetCode(), 35003);
    EXPECT_EQ(U8(Origin(*report, u"description")),
              "Error occured loading JPEG with jpegtran library. Image is corrupted.");
    EXPECT_EQ(U8(Origin(*report, u"LibJPEGErrorCode")), std::to_string(c.code));
    EXPECT_EQ(U8(Origin(*report, u"LibJPEGErrorMessage")), c.message);
    EXPECT_EQ(Origin(*report, u"Filename"), path);
    EXPECT_EQ(U8(Origin(*report, u"sourcefunction")), "CYImageProcessor::GetJPEGImageSize");
    EXPECT_EQ(OpenDescriptors(), before) << "the file stays open";
  }
}

TEST_F(YImageTest, AMissingJpegIsFileNotFoundWhateverTheCause) {
  for (const std::u16string& path : {dir_.WFile("missing.jpg"), U16(dir_.path().string())}) {
    SCOPED_TRACE(U8(path));
    auto report = ReportOf([&] { CYImageProcessor::GetJPEGImageSize(path); });
    ASSERT_TRUE(report.has_value());
    EXPECT_EQ(report->GetCode(), kFileNotFoundHr);
    EXPECT_EQ(Origin(*report, u"File"), path);
  }
}

TEST_F(YImageTest, TablesOnlyJpegHasNoSizeAndNoError) {
  const std::u16string path = dir_.Write("tables.jpg", TablesOnlyJpeg());
  const SIZE size = CYImageProcessor::GetJPEGImageSize(path);
  EXPECT_EQ(size.cx, 0);
  EXPECT_EQ(size.cy, 0);
}

TEST_F(YImageTest, EveryPrefixOfAJpegEndsInASizeOrAReportAndPrintsNothing) {
  const Bytes whole = vel::testing::ReadBytes(U8(Make("p.jpg", "24x16")));
  ASSERT_GT(whole.size(), 100u);
  for (std::size_t n = 0; n <= whole.size(); ++n) {
    SCOPED_TRACE(n);
    const std::u16string path = dir_.Write("prefix.jpg", Bytes(whole.begin(), whole.begin() + n));
    ::testing::internal::CaptureStderr();
    try {
      const SIZE size = CYImageProcessor::GetJPEGImageSize(path);
      // A header cut before the frame header has no size; otherwise the whole one.
      EXPECT_TRUE((size.cx == 0 && size.cy == 0) || (size.cx == 24 && size.cy == 16));
    } catch (const CYException& x) {
      EXPECT_EQ(x.GetCode(), 35003);
    }
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
  }
}

TEST_F(YImageTest, HeaderReadsOnSeveralThreadsKeepTheirOwnErrors) {
  const std::u16string good = Make("good.jpg", "40x30");
  const std::u16string bad = dir_.Write("bad.jpg", Bytes{'G', 'I', 'F', '8', '9', 'a', 0, 0});
  std::vector<int> wrong(4, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 25; ++i) {
        if ((t + i) % 2 == 0) {
          const SIZE size = CYImageProcessor::GetJPEGImageSize(good);
          if (size.cx != 40 || size.cy != 30) ++wrong[t];
          continue;
        }
        try {
          CYImageProcessor::GetJPEGImageSize(bad);
          ++wrong[t];
        } catch (const CYException& x) {
          if (U8(Origin(x, u"LibJPEGErrorCode")) != std::to_string(JERR_NO_SOI)) ++wrong[t];
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_THAT(wrong, ::testing::ElementsAre(0, 0, 0, 0));
}

TEST_F(YImageTest, LoadsEachFormatWithItsSize) {
  struct Case {
    const char* name;
    const char* size;
    int width, height;
  };
  const std::vector<Case> cases = {
      {"one.png", "1x1", 1, 1},   {"a.bmp", "20x10", 20, 10}, {"a.gif", "20x10", 20, 10},
      {"a.jpg", "20x10", 20, 10}, {"a.png", "20x10", 20, 10}, {"a.tiff", "20x10", 20, 10},
  };
  CYImage image;  // one object loaded again and again
  EXPECT_TRUE(image.IsNull());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    image.Load(Make(c.name, c.size));
    EXPECT_FALSE(image.IsNull());
    EXPECT_EQ(image.GetWidth(), c.width);
    EXPECT_EQ(image.GetHeight(), c.height);
  }
  image.Destroy();
  EXPECT_TRUE(image.IsNull());
  EXPECT_EQ(image.GetWidth(), 0);
}

TEST_F(YImageTest, LoadFailuresAreReported) {
  CYImage image;
  image.Load(Make("first.png", "4x4"));
  ASSERT_EQ(image.GetWidth(), 4);

  const std::u16string missing = dir_.WFile("missing.png");
  auto report = ReportOf([&] { image.Load(missing); });
  ASSERT_TRUE(report.has_value());
  EXPECT_EQ(report->GetCode(), kFileNotFoundHr);
  EXPECT_EQ(U8(Origin(*report, u"sourcefunction")), "CYFileUtilities::CheckFileExists");
  EXPECT_TRUE(image.IsNull()) << "the previous bitmap is released first";

  const std::u16string text = dir_.Write("text.png", Bytes{'n', 'o', 't', ' ', 'a', 'n', ' ', 'i', 'm', 'a', 'g', 'e'});
  report = ReportOf([&] { image.Load(text); });
  ASSERT_TRUE(report.has_value());
  EXPECT_EQ(report->GetCode(), kEFail);
  EXPECT_EQ(EntryChild(*report, 0, u"sourcefunction"), "CYImage::Load");
  EXPECT_EQ(EntryChild(*report, 1, u"errorcode"), "1016");
  EXPECT_EQ(EntryChild(*report, 1, u"description"), "Failed to open file.");
  EXPECT_EQ(EntryChild(*report, 1, u"file"), U8(text));
  EXPECT_TRUE(image.IsNull());
}

}  // namespace
