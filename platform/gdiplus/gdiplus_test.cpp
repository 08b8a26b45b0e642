// The GDI+ classes over libgdiplus, with images made at test time by ffmpeg
// and exiftool.
#include "platform/gdiplus/gdiplus.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <sstream>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "platform/base/ByteWriter.h"
#include "platform/text.h"
#include "testing/ChildProcess.h"
#include "testing/FileBytes.h"
#include "testing/TempDir.h"
#include "testing/Tools.h"

namespace {

using namespace Gdiplus;
using vel::testing::Bytes;
using ::testing::ElementsAre;

bool SameGuid(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }

// One item as the platform hands it out, copied.
struct ItemCopy {
  PROPID id = 0;
  WORD type = 0;
  Bytes value;
  bool operator==(const ItemCopy&) const = default;
};

// Every item of image, through GetPropertyIdList and GetPropertyItem.
std::vector<ItemCopy> ReadItems(Image& image) {
  std::vector<ItemCopy> items;
  const UINT count = image.GetPropertyCount();
  std::vector<PROPID> ids(count);
  if (count == 0 || image.GetPropertyIdList(count, ids.data()) != Ok) return items;
  for (const PROPID id : ids) {
    const UINT size = image.GetPropertyItemSize(id);
    std::vector<std::uint8_t> buffer(size);
    auto* item = reinterpret_cast<PropertyItem*>(buffer.data());
    if (size < sizeof(PropertyItem) || image.GetPropertyItem(id, size, item) != Ok) continue;
    const auto* value = static_cast<const std::uint8_t*>(item->value);
    items.push_back({item->id, item->type, value ? Bytes(value, value + item->length) : Bytes{}});
  }
  return items;
}

// The first number of an item, read in the platform's (little-endian) order.
double FirstNumber(const ItemCopy& item) {
  auto u32 = [&](std::size_t at) {
    return static_cast<std::uint32_t>(item.value.at(at) | item.value.at(at + 1) << 8 | item.value.at(at + 2) << 16 |
                                      static_cast<std::uint32_t>(item.value.at(at + 3)) << 24);
  };
  switch (item.type) {
    case PropertyTagTypeShort: return item.value.at(0) | item.value.at(1) << 8;
    case PropertyTagTypeLong: return u32(0);
    case PropertyTagTypeSLONG: return static_cast<std::int32_t>(u32(0));
    case PropertyTagTypeRational: return static_cast<double>(u32(0)) / u32(4);
    case PropertyTagTypeSRational:
      return static_cast<double>(static_cast<std::int32_t>(u32(0))) / static_cast<std::int32_t>(u32(4));
    default: ADD_FAILURE() << "not a number: type " << item.type; return 0;
  }
}

std::string Text(const ItemCopy& item) { return std::string(item.value.begin(), item.value.end()); }

class GdiplusTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const GdiplusStartupInput input;
    ASSERT_EQ(GdiplusStartup(&token_, &input, nullptr), Ok);
  }
  void TearDown() override { GdiplusShutdown(token_); }

  // An image of ffmpeg's test pattern in dir_ (the format by extension).
  std::string Make(const std::string& name, const std::string& size = "64x48", int frames = 1) {
    if (!vel::testing::HaveFfmpeg()) return {};
    const std::string path = dir_.File(name);
    const bool made = vel::testing::RunFfmpeg("-f lavfi -i testsrc=size=" + size + ":rate=5:d=2 -frames:v " +
                                              std::to_string(frames) + " '" + path + "'");
    return made ? path : std::string{};
  }

  vel::testing::TempDir dir_{"gdiplus"};
  ULONG_PTR token_ = 0;
};

TEST(GdiplusStartupTest, CountsStartUpsWithTokensOfItsOwn) {
  const GdiplusStartupInput good;
  GdiplusStartupInput version2;
  version2.GdiplusVersion = 2;
  const GdiplusStartupInput suppressed(nullptr, TRUE);
  ULONG_PTR token = 77;
  struct Case {
    const char* name;
    ULONG_PTR* token;
    const GdiplusStartupInput* input;
    GdiplusStartupOutput* output;
    Status expected;
  };
  const std::vector<Case> cases = {
      {"no token", nullptr, &good, nullptr, InvalidParameter},
      {"no input", &token, nullptr, nullptr, InvalidParameter},
      {"version 2", &token, &version2, nullptr, UnsupportedGdiplusVersion},
      {"no background thread, no output", &token, &suppressed, nullptr, InvalidParameter},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    token = 77;
    EXPECT_EQ(GdiplusStartup(c.token, c.input, c.output), c.expected);
    if (c.token) {
      EXPECT_EQ(token, 0u);
    }
  }

  ULONG_PTR first = 0, second = 0;
  ASSERT_EQ(GdiplusStartup(&first, &good, nullptr), Ok);
  GdiplusStartupOutput output{};
  ASSERT_EQ(GdiplusStartup(&second, &suppressed, &output), Ok);
  EXPECT_NE(first, 0u);
  EXPECT_NE(second, 0u);
  EXPECT_NE(first, second);
  ASSERT_NE(output.NotificationHook, nullptr);
  ASSERT_NE(output.NotificationUnhook, nullptr);
  ULONG_PTR hookToken = 5;
  EXPECT_EQ(output.NotificationHook(&hookToken), Ok);
  output.NotificationUnhook(hookToken);
  GdiplusShutdown(first);
  GdiplusShutdown(first);  // a repeated token is ignored
  GdiplusShutdown(second);
}

TEST(GdiplusStartupTest, ImagesNeedAStartedLibraryAndSurviveEveryShutdown) {
  vel::testing::TempDir dir("gdiplus");
  if (!vel::testing::HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
  const std::string png = dir.File("a.png");
  ASSERT_TRUE(vel::testing::RunFfmpeg("-f lavfi -i testsrc=size=8x6:d=1 -frames:v 1 '" + png + "'"));
  const std::u16string path = vel::FromUtf8(png);
  {
    Image image(path.c_str());
    EXPECT_EQ(image.GetLastStatus(), GdiplusNotInitialized);
  }
  // Started and shut down twice: the second round works as the first did.
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    const GdiplusStartupInput input;
    ULONG_PTR token = 0;
    ASSERT_EQ(GdiplusStartup(&token, &input, nullptr), Ok);
    Image image(path.c_str());
    EXPECT_EQ(image.GetLastStatus(), Ok);
    EXPECT_EQ(image.GetWidth(), 8u);
    GdiplusShutdown(token);
  }
}

TEST_F(GdiplusTest, DecodesEachFormatWithItsSizeAndFrames) {
  struct Case {
    const char* name;
    const GUID* dimension;
  };
  const std::vector<Case> cases = {
      {"a.png", &FrameDimensionPage}, {"a.gif", &FrameDimensionTime}, {"a.bmp", &FrameDimensionPage},
      {"a.jpg", &FrameDimensionPage}, {"a.tiff", &FrameDimensionPage},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string file = Make(c.name);
    if (file.empty()) GTEST_SKIP() << "ffmpeg cannot make " << c.name;
    Image image(vel::FromUtf8(file).c_str());
    ASSERT_EQ(image.GetLastStatus(), Ok);
    EXPECT_EQ(image.GetWidth(), 64u);
    EXPECT_EQ(image.GetHeight(), 48u);
    ASSERT_EQ(image.GetFrameDimensionsCount(), 1u);
    GUID dimension{};
    ASSERT_EQ(image.GetFrameDimensionsList(&dimension, 1), Ok);
    EXPECT_TRUE(SameGuid(dimension, *c.dimension));
    EXPECT_EQ(image.GetFrameCount(&dimension), 1u);
    EXPECT_EQ(image.GetLastStatus(), Ok);
  }
}

TEST_F(GdiplusTest, AnAnimatedGifCountsItsFramesInTime) {
  const std::string gif = Make("anim.gif", "32x24", 5);
  if (gif.empty()) GTEST_SKIP() << "ffmpeg is not installed";
  Image image(vel::FromUtf8(gif).c_str());
  ASSERT_EQ(image.GetLastStatus(), Ok);
  ASSERT_EQ(image.GetFrameDimensionsCount(), 1u);
  GUID dimension{};
  ASSERT_EQ(image.GetFrameDimensionsList(&dimension, 1), Ok);
  EXPECT_TRUE(SameGuid(dimension, FrameDimensionTime));
  EXPECT_EQ(image.GetFrameCount(&FrameDimensionTime), 5u);
  EXPECT_EQ(image.GetFrameCount(&FrameDimensionPage), 0u);
  EXPECT_EQ(image.GetLastStatus(), InvalidParameter);
  // The GIF's own items: a frame delay and a loop count.
  const std::vector<ItemCopy> items = ReadItems(image);
  std::vector<PROPID> ids;
  for (const ItemCopy& item : items) ids.push_back(item.id);
  EXPECT_THAT(ids, ::testing::IsSupersetOf({PropertyTagFrameDelay, PropertyTagLoopCount}));
}

TEST_F(GdiplusTest, OpensModulePathForms) {
  const std::string png = Make("p.png", "16x12");
  if (png.empty()) GTEST_SKIP() << "ffmpeg is not installed";
  std::u16string backslashed = vel::FromUtf8(png);
  for (char16_t& c : backslashed) {
    if (c == u'/') c = u'\\';
  }
  struct Case {
    const char* name;
    std::u16string path;
    Status expected;
  };
  const std::vector<Case> cases = {
      {"slashes", vel::FromUtf8(png), Ok},
      {"backslashes", backslashed, Ok},
      {"long-path prefix", u"\\\\?\\" + backslashed, Ok},
      {"missing file", vel::FromUtf8(dir_.File("missing.png")), FileNotFound},
      {"drive letter", u"C:\\pictures\\p.png", FileNotFound},
      {"a folder", vel::FromUtf8(dir_.path().string()), AccessDenied},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Image image(c.path.c_str());
    const Status status = image.GetLastStatus();
    if (c.expected == Ok) {
      EXPECT_EQ(status, Ok);
      EXPECT_EQ(image.GetWidth(), 16u);
    } else {
      EXPECT_EQ(status, c.expected);
      // An image with no content: every call fails, says so, and clears its outputs.
      EXPECT_EQ(image.GetWidth(), 0u);
      EXPECT_EQ(image.GetPropertyCount(), 0u);
      EXPECT_EQ(image.GetLastStatus(), InvalidParameter);
      UINT total = 9, count = 9;
      EXPECT_EQ(image.GetPropertySize(&total, &count), InvalidParameter);
      EXPECT_EQ(total, 0u);
      EXPECT_EQ(count, 0u);
      std::vector<std::uint8_t> records(2 * sizeof(PropertyItem), 0xAB);
      EXPECT_EQ(image.GetAllPropertyItems(static_cast<UINT>(records.size()), 2,
                                          reinterpret_cast<PropertyItem*>(records.data())),
                InvalidParameter);
      EXPECT_THAT(records, ::testing::Each(0));
      std::vector<std::uint8_t> item(sizeof(PropertyItem) + 8, 0xAB);
      EXPECT_EQ(image.GetPropertyItem(PropertyTagOrientation, static_cast<UINT>(item.size()),
                                      reinterpret_cast<PropertyItem*>(item.data())),
                InvalidParameter);
      EXPECT_THAT(std::vector<std::uint8_t>(item.begin(), item.begin() + sizeof(PropertyItem)), ::testing::Each(0));
    }
  }
  Image none(nullptr);
  EXPECT_EQ(none.GetLastStatus(), InvalidParameter);
}

// The file and its EXIF block in both byte orders: numbers come out in the
// platform's order, and the thumbnail's own values under the thumbnail tags.
class GdiplusExifTest : public GdiplusTest, public ::testing::WithParamInterface<const char*> {
 protected:
  // A JPEG whose EXIF block in byte order GetParam() holds main-image and
  // thumbnail values; empty when the tools are missing.
  std::string MakeExifJpeg() {
    if (!vel::testing::HaveTool("exiftool")) return {};
    const std::string jpg = Make("e.jpg");
    const std::string thumb = Make("t.jpg", "16x12");
    if (jpg.empty() || thumb.empty()) return {};
    const std::string order = GetParam();
    const auto written = vel::testing::RunCommand(
        "exiftool -q -q -overwrite_original -ExifByteOrder=" + order +
        " -Make=Maker -Orientation#=6 -XResolution=72 -ExposureTime=0.01 -FNumber=2.8 -ISO=200"
        " -ExposureCompensation=-0.5 '-DateTimeOriginal=2008:10:05 14:03:59' -ExifImageWidth=64 -ExifVersion=0230"
        " '-ThumbnailImage<=" + thumb + "' -IFD1:Orientation#=3 -IFD1:ResolutionUnit#=3 -IFD1:XResolution=300 '" +
        jpg + "'");
    EXPECT_EQ(written.status, 0);
    const auto check = vel::testing::RunCommand("exiftool -s3 -ExifByteOrder '" + jpg + "'");
    EXPECT_THAT(check.out, ::testing::HasSubstr(order == "MM" ? "Big-endian" : "Little-endian"));
    return jpg;
  }
};

TEST_P(GdiplusExifTest, NumbersInPlatformOrderAndThumbnailTags) {
  const std::string jpg = MakeExifJpeg();
  if (jpg.empty()) GTEST_SKIP() << "exiftool or ffmpeg is not installed";
  Image image(vel::FromUtf8(jpg).c_str());
  ASSERT_EQ(image.GetLastStatus(), Ok);
  const std::vector<ItemCopy> items = ReadItems(image);
  std::map<PROPID, ItemCopy> byId;
  for (const ItemCopy& item : items) {
    EXPECT_TRUE(byId.emplace(item.id, item).second) << "tag listed twice: " << std::hex << item.id;
  }
  struct Number {
    PROPID id;
    double value;
  };
  const std::vector<Number> numbers = {
      {PropertyTagOrientation, 6},
      {PropertyTagXResolution, 72},
      {PropertyTagExifExposureTime, 0.01},
      {PropertyTagExifFNumber, 2.8},
      {PropertyTagExifISOSpeed, 200},
      {PropertyTagExifExposureBias, -0.5},
      {PropertyTagExifPixXDim, 64},
      {PropertyTagThumbnailOrientation, 3},
      {PropertyTagThumbnailResolutionUnit, 3},
      {PropertyTagThumbnailResolutionX, 300},
      {PropertyTagThumbnailCompression, 6},
  };
  for (const Number& n : numbers) {
    SCOPED_TRACE(::testing::Message() << "tag 0x" << std::hex << n.id);
    const auto found = byId.find(n.id);
    ASSERT_NE(found, byId.end());
    EXPECT_NEAR(FirstNumber(found->second), n.value, 1e-9);
  }
  EXPECT_EQ(Text(byId.at(PropertyTagEquipMake)), std::string("Maker", 6));
  EXPECT_EQ(Text(byId.at(PropertyTagExifDTOrig)), std::string("2008:10:05 14:03:59", 20));
  EXPECT_EQ(Text(byId.at(PropertyTagExifVer)), "0230");

  // GetAllPropertyItems agrees with the items one by one.
  UINT total = 0, count = 0;
  ASSERT_EQ(image.GetPropertySize(&total, &count), Ok);
  ASSERT_EQ(count, items.size());
  std::vector<std::uint8_t> all(total);
  auto* records = reinterpret_cast<PropertyItem*>(all.data());
  ASSERT_EQ(image.GetAllPropertyItems(total, count, records), Ok);
  for (UINT i = 0; i < count; ++i) {
    const auto* value = static_cast<const std::uint8_t*>(records[i].value);
    EXPECT_EQ((ItemCopy{records[i].id, records[i].type, value ? Bytes(value, value + records[i].length) : Bytes{}}),
              items[i]);
  }
}

// Every number exiftool reads from the main image's, the EXIF and the
// thumbnail IFD is the number of the item with that tag (the thumbnail's
// under its thumbnail number).
TEST_P(GdiplusExifTest, NumbersAgreeWithExiftool) {
  const std::string jpg = MakeExifJpeg();
  if (jpg.empty()) GTEST_SKIP() << "exiftool or ffmpeg is not installed";
  const auto listed = vel::testing::RunCommand("exiftool -n -G1 -H -a -s -IFD0:all -ExifIFD:all -IFD1:all '" + jpg + "'");
  ASSERT_EQ(listed.status, 0);

  Image image(vel::FromUtf8(jpg).c_str());
  ASSERT_EQ(image.GetLastStatus(), Ok);
  std::map<PROPID, ItemCopy> byId;
  for (const ItemCopy& item : ReadItems(image)) byId.emplace(item.id, item);
  const std::map<PROPID, PROPID> thumbnailIds = {
      {0x0103, PropertyTagThumbnailCompression}, {0x0112, PropertyTagThumbnailOrientation},
      {0x011A, PropertyTagThumbnailResolutionX}, {0x011B, PropertyTagThumbnailResolutionY},
      {0x0128, PropertyTagThumbnailResolutionUnit},
  };

  std::istringstream lines(listed.out);
  std::string line;
  std::set<PROPID> compared;
  while (std::getline(lines, line)) {
    // "[IFD1]          0x0112 Orientation                     : 3"
    std::istringstream fields(line);
    std::string group, hexId, name, colon, value;
    if (!(fields >> group >> hexId >> name >> colon) || colon != ":" || hexId.rfind("0x", 0) != 0) continue;
    std::getline(fields >> std::ws, value);
    PROPID id = static_cast<PROPID>(std::stoul(hexId, nullptr, 16));
    if (group == "[IFD1]") {
      if (id == PropertyTagJPEGInterFormat || id == PropertyTagJPEGInterLength) continue;  // the thumbnail's place
      ASSERT_TRUE(thumbnailIds.count(id)) << line;
      id = thumbnailIds.at(id);
    }
    SCOPED_TRACE(line);
    const auto found = byId.find(id);
    ASSERT_NE(found, byId.end());
    const WORD type = found->second.type;
    if (type == PropertyTagTypeASCII || type == PropertyTagTypeUndefined || type == PropertyTagTypeByte) continue;
    EXPECT_NEAR(FirstNumber(found->second), std::stod(value), 1e-9);
    compared.insert(id);
  }
  // Not an empty listing: the numbers written above were among those compared.
  EXPECT_THAT(compared, ::testing::IsSupersetOf({PropertyTagOrientation, PropertyTagXResolution,
                                                 PropertyTagExifExposureTime, PropertyTagExifExposureBias,
                                                 PropertyTagThumbnailOrientation, PropertyTagThumbnailResolutionX,
                                                 PropertyTagThumbnailResolutionUnit}));
}

INSTANTIATE_TEST_SUITE_P(ByteOrders, GdiplusExifTest, ::testing::Values("II", "MM"));

TEST_F(GdiplusTest, OutputsAreClearedAndFailuresReportedOnce) {
  const std::string gif = Make("s.gif", "16x12");
  if (gif.empty()) GTEST_SKIP() << "ffmpeg is not installed";
  Image image(vel::FromUtf8(gif).c_str());
  ASSERT_EQ(image.GetLastStatus(), Ok);
  const UINT count = image.GetPropertyCount();
  ASSERT_GT(count, 0u);

  std::vector<PROPID> ids(count + 1, 0xDEAD);
  EXPECT_EQ(image.GetPropertyIdList(count + 1, ids.data()), InvalidParameter);
  EXPECT_THAT(ids, ::testing::Each(0u));
  EXPECT_EQ(image.GetLastStatus(), InvalidParameter);
  EXPECT_EQ(image.GetLastStatus(), Ok);  // handed out once

  EXPECT_EQ(image.GetPropertyItemSize(PropertyTagEquipMake), 0u);
  EXPECT_EQ(image.GetLastStatus(), PropertyNotFound);
  std::vector<std::uint8_t> buffer(64, 0xAB);
  EXPECT_EQ(image.GetPropertyItem(PropertyTagEquipMake, 64, reinterpret_cast<PropertyItem*>(buffer.data())),
            PropertyNotFound);
  EXPECT_THAT(std::vector<std::uint8_t>(buffer.begin(), buffer.begin() + sizeof(PropertyItem)), ::testing::Each(0));

  GUID dimensions[2];
  std::memset(dimensions, 0xAB, sizeof dimensions);
  EXPECT_EQ(image.GetFrameDimensionsList(dimensions, 2), InvalidParameter);
  EXPECT_TRUE(SameGuid(dimensions[0], GUID{}));
  EXPECT_TRUE(SameGuid(dimensions[1], GUID{}));
}

// A thread that opens the same file again (the image plugin asks one image
// for the properties and another for the size) gets what the first read
// found; a file changed in between is read anew, also after a failure.
TEST_F(GdiplusTest, AFileOpenedAgainIsReadAgainOnlyWhenChanged) {
  const std::string big = Make("big.png", "64x48");
  const std::string small = Make("small.png", "32x24");
  if (big.empty() || small.empty()) GTEST_SKIP() << "ffmpeg is not installed";
  const Bytes bigBytes = vel::testing::ReadBytes(big);
  const Bytes smallBytes = vel::testing::ReadBytes(small);
  const std::u16string file = dir_.Write("changing.png", bigBytes);
  auto width = [&] {
    Image image(file.c_str());
    const Status status = image.GetLastStatus();
    return status == Ok ? static_cast<int>(image.GetWidth()) : -static_cast<int>(status);
  };
  EXPECT_EQ(width(), 64);
  EXPECT_EQ(width(), 64) << "the same file again";
  dir_.Write("changing.png", smallBytes);  // in place: same inode, other size
  EXPECT_EQ(width(), 32) << "written in place";
  const std::u16string other = dir_.Write("other.png", bigBytes);
  ASSERT_EQ(std::rename(vel::ToUtf8(other).c_str(), vel::ToUtf8(file).c_str()), 0);
  EXPECT_EQ(width(), 64) << "replaced by another file";
  dir_.Write("changing.png", Bytes{'h', 'e', 'l', 'l', 'o', '\n'});
  const int failed = width();
  EXPECT_LT(failed, 0);
  EXPECT_EQ(width(), failed) << "a failure again is the same failure";
  dir_.Write("changing.png", smallBytes);
  EXPECT_EQ(width(), 32) << "and a mended file is read";
  int onAnotherThread = 0;
  std::thread([&] { onAnotherThread = width(); }).join();
  EXPECT_EQ(onAnotherThread, 32);
}

TEST_F(GdiplusTest, DamagedFilesFailCleanly) {
  if (!vel::testing::HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
  for (const char* name : {"d.png", "d.gif", "d.bmp", "d.jpg", "d.tiff"}) {
    const std::string file = Make(name, "32x24");
    ASSERT_FALSE(file.empty()) << name;
    const Bytes whole = vel::testing::ReadBytes(file);
    // Every prefix near the start (headers), then a spread through the rest.
    std::vector<std::size_t> cuts;
    for (std::size_t n = 0; n < whole.size(); n += n < 80 ? 1 : 97) cuts.push_back(n);
    for (const std::size_t n : cuts) {
      SCOPED_TRACE(::testing::Message() << name << " cut at " << n);
      const std::u16string cut = dir_.Write("cut", Bytes(whole.begin(), whole.begin() + n));
      Image image(cut.c_str());
      if (image.GetLastStatus() != Ok) {
        EXPECT_EQ(image.GetPropertyCount(), 0u);
        continue;
      }
      // Some decoders take a partial picture; what they hand out must be whole.
      EXPECT_LE(image.GetWidth(), 32u);
      ReadItems(image);
      EXPECT_EQ(image.GetLastStatus(), Ok);
    }
  }
  const std::u16string text = dir_.Write("text.png", Bytes{'h', 'e', 'l', 'l', 'o', '\n'});
  Image notAnImage(text.c_str());
  EXPECT_NE(notAnImage.GetLastStatus(), Ok);
}

// One IFD entry: tag, type, count and the value or offset field (a SHORT
// value sits in the field's first two bytes).
struct IfdEntry {
  std::uint16_t tag, type;
  std::uint32_t count, value;
};

// A TIFF structure: IFD0 at ifd0Offset (8 when it is where the header says)
// holding entries, its count field replaced by countField when given, and
// link as the offset of the next IFD.
Bytes BuildTiff(vel::ByteOrder order, const std::vector<IfdEntry>& entries, std::uint32_t link,
                std::uint32_t ifd0Offset = 8, int countField = -1) {
  Bytes out;
  vel::ByteWriter w(out, order);
  w.PutU16(order == vel::ByteOrder::kBig ? 0x4D4D : 0x4949);  // "MM" or "II"
  w.PutU16(42);
  w.PutU32(ifd0Offset);
  w.PutU16(static_cast<std::uint16_t>(countField < 0 ? entries.size() : countField));
  for (const IfdEntry& e : entries) {
    w.PutU16(e.tag);
    w.PutU16(e.type);
    w.PutU32(e.count);
    if (e.type == PropertyTagTypeShort && e.count == 1) {
      w.PutU16(static_cast<std::uint16_t>(e.value));
      w.PutU16(0);
    } else {
      w.PutU32(e.value);
    }
  }
  w.PutU32(link);
  w.PutBytes(Bytes(16, 0));  // room a value offset may point into
  return out;
}

// jpeg with an APP1 EXIF segment holding block inserted after its SOI.
Bytes WithExif(const Bytes& jpeg, const Bytes& block) {
  Bytes out(jpeg.begin(), jpeg.begin() + 2);
  vel::ByteWriter w(out, vel::ByteOrder::kBig);
  w.PutU16(0xFFE1);
  w.PutU16(static_cast<std::uint16_t>(2 + 6 + block.size()));
  w.PutBytes(Bytes{'E', 'x', 'i', 'f', 0, 0});
  w.PutBytes(block);
  w.PutBytes(std::span<const std::uint8_t>(jpeg).subspan(2));
  return out;
}

TEST_F(GdiplusTest, DamagedExifBlocksReadCleanly) {
  const std::string jpg = Make("x.jpg");
  if (jpg.empty()) GTEST_SKIP() << "ffmpeg is not installed";
  const Bytes jpeg = vel::testing::ReadBytes(jpg);
  const IfdEntry orientation{PropertyTagOrientation, PropertyTagTypeShort, 1, 6};
  struct Case {
    const char* name;
    std::vector<IfdEntry> entries;
    std::uint32_t link;
    std::uint32_t ifd0Offset;
    int countField;
    bool hasOrientation;
  };
  const std::vector<Case> cases = {
      {"thumbnail IFD loops to IFD0", {orientation}, 8, 8, -1, true},
      {"thumbnail IFD past the block", {orientation}, 0x7FFFFFF0, 8, -1, true},
      {"entry count beyond the data", {orientation}, 0, 8, 300, true},
      {"value offset past the block", {orientation, {PropertyTagXResolution, PropertyTagTypeRational, 1, 0xFFFF0000}},
       0, 8, -1, true},
      {"count larger than the data", {orientation, {PropertyTagEquipMake, PropertyTagTypeASCII, 0x7FFFFFFF, 8}}, 0, 8,
       -1, true},
      {"EXIF IFD pointing at IFD0", {orientation, {PropertyTagExifIFD, PropertyTagTypeLong, 1, 8}}, 0, 8, -1, true},
      {"IFD0 past the block", {orientation}, 0, 0x7FFFFF00, -1, false},
  };
  for (const vel::ByteOrder order : {vel::ByteOrder::kLittle, vel::ByteOrder::kBig}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(::testing::Message() << c.name << (order == vel::ByteOrder::kBig ? " MM" : " II"));
      const Bytes block = BuildTiff(order, c.entries, c.link, c.ifd0Offset, c.countField);
      const std::u16string path = dir_.Write("damaged.jpg", WithExif(jpeg, block));
      Image image(path.c_str());
      ASSERT_EQ(image.GetLastStatus(), Ok);
      EXPECT_EQ(image.GetWidth(), 64u);
      const std::vector<ItemCopy> items = ReadItems(image);
      EXPECT_EQ(image.GetLastStatus(), Ok);
      std::map<PROPID, ItemCopy> byId;
      for (const ItemCopy& item : items) {
        EXPECT_TRUE(byId.emplace(item.id, item).second) << "tag listed twice: " << std::hex << item.id;
        EXPECT_EQ(item.value.size() % (item.type == PropertyTagTypeShort ? 2 : 1), 0u);
      }
      const auto found = byId.find(PropertyTagOrientation);
      ASSERT_EQ(found != byId.end(), c.hasOrientation);
      if (c.hasOrientation) {
        EXPECT_EQ(FirstNumber(found->second), 6);
      }
    }
  }
}

TEST_F(GdiplusTest, ImagesOnSeveralThreadsReadTheSame) {
  if (!vel::testing::HaveTool("exiftool")) GTEST_SKIP() << "exiftool is not installed";
  const std::string jpg = Make("m.jpg");
  const std::string gif = Make("m.gif", "32x24", 3);
  if (jpg.empty() || gif.empty()) GTEST_SKIP() << "ffmpeg is not installed";
  ASSERT_EQ(vel::testing::RunCommand("exiftool -q -q -overwrite_original -ExifByteOrder=MM -Make=Maker -Orientation#=8 '" +
                                     jpg + "'").status, 0);
  const std::vector<std::u16string> paths = {vel::FromUtf8(jpg), vel::FromUtf8(gif)};
  std::vector<std::vector<ItemCopy>> reference;
  for (const std::u16string& path : paths) {
    Image image(path.c_str());
    ASSERT_EQ(image.GetLastStatus(), Ok);
    reference.push_back(ReadItems(image));
    ASSERT_FALSE(reference.back().empty());
  }
  std::vector<int> mismatches(4, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      const GdiplusStartupInput input;
      ULONG_PTR token = 0;
      if (GdiplusStartup(&token, &input, nullptr) != Ok) {
        ++mismatches[t];
        return;
      }
      for (int i = 0; i < 10; ++i) {
        const std::size_t which = (t + i) % paths.size();
        Image image(paths[which].c_str());
        if (image.GetLastStatus() != Ok || ReadItems(image) != reference[which]) ++mismatches[t];
      }
      GdiplusShutdown(token);
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_THAT(mismatches, ElementsAre(0, 0, 0, 0));
}

}  // namespace
