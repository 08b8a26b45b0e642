// The bounded walk of JPEG markers and EXIF IFDs, over blocks built here.
#include "platform/gdiplus/ExifBlock.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/base/ByteWriter.h"

namespace vel::gdiplus {
namespace {

using Bytes = std::vector<std::uint8_t>;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

// A TIFF structure with IFD0 holding ifd0 (SHORT entries) and, linked from
// it, IFD1 holding ifd1. link replaces the offset IFD0 stores for IFD1.
Bytes BuildBlock(ByteOrder order, const std::vector<std::uint16_t>& ifd0, const std::vector<std::uint16_t>& ifd1,
                 std::optional<std::uint32_t> link = std::nullopt) {
  Bytes out;
  ByteWriter w(out, order);
  w.PutU16(order == ByteOrder::kBig ? 0x4D4D : 0x4949);  // "MM" or "II"
  w.PutU16(42);
  w.PutU32(8);
  const std::uint32_t ifd1Offset = 8 + 2 + 12 * static_cast<std::uint32_t>(ifd0.size()) + 4;
  auto putIfd = [&](const std::vector<std::uint16_t>& tags, std::uint32_t next) {
    w.PutU16(static_cast<std::uint16_t>(tags.size()));
    for (const std::uint16_t tag : tags) {
      w.PutU16(tag);
      w.PutU16(3);  // SHORT
      w.PutU32(1);
      w.PutU16(7);
      w.PutU16(0);
    }
    w.PutU32(next);
  };
  putIfd(ifd0, link.value_or(ifd1.empty() ? 0 : ifd1Offset));
  if (!ifd1.empty()) putIfd(ifd1, 0);
  return out;
}

// A JPEG start: SOI, the given segments (marker, payload), then SOS.
Bytes BuildJpeg(const std::vector<std::pair<std::uint8_t, Bytes>>& segments) {
  Bytes out;
  ByteWriter w(out, ByteOrder::kBig);
  w.PutU16(0xFFD8);
  for (const auto& [marker, payload] : segments) {
    w.PutU8(0xFF);
    w.PutU8(marker);
    w.PutU16(static_cast<std::uint16_t>(payload.size() + 2));
    w.PutBytes(payload);
  }
  w.PutU16(0xFFDA);
  w.PutU16(2);
  return out;
}

Bytes ExifPayload(const Bytes& block) {
  Bytes payload = {'E', 'x', 'i', 'f', 0, 0};
  payload.insert(payload.end(), block.begin(), block.end());
  return payload;
}

TEST(ExifBlockTest, WalksBothByteOrdersToTheMainAndThumbnailTags) {
  for (const ByteOrder order : {ByteOrder::kLittle, ByteOrder::kBig}) {
    SCOPED_TRACE(order == ByteOrder::kBig ? "MM" : "II");
    const Bytes block = BuildBlock(order, {0x010F, 0x0112, 0x8769}, {0x0103, 0x0112, 0x0201});
    const auto layout = WalkExifBlock(block);
    ASSERT_TRUE(layout.has_value());
    EXPECT_EQ(layout->order, order);
    EXPECT_THAT(layout->mainTags, ElementsAre(0x010F, 0x0112, 0x8769));
    EXPECT_THAT(layout->thumbnailTags, ElementsAre(0x0103, 0x0112, 0x0201));
  }
}

TEST(ExifBlockTest, DamagedStructuresEndTheWalkCleanly) {
  const Bytes good = BuildBlock(ByteOrder::kBig, {0x0112, 0x011A}, {0x0103});
  Bytes countTooLarge = good;
  countTooLarge[8] = 0x00;
  countTooLarge[9] = 0x30;  // IFD0 claims 48 entries; the block holds far fewer
  Bytes ifd0PastEnd = good;
  ifd0PastEnd[4] = 0x7F;  // IFD0 offset 0x7F000008
  struct Case {
    const char* name;
    Bytes block;
    bool parsed;
    std::vector<std::uint16_t> main;
    std::vector<std::uint16_t> thumbnail;
  };
  const std::vector<Case> cases = {
      {"ifd1 past the block", BuildBlock(ByteOrder::kBig, {0x0112}, {}, 0xFFFFFFF0u), true, {0x0112}, {}},
      {"ifd1 is ifd0 (loop)", BuildBlock(ByteOrder::kLittle, {0x0112, 0x011A}, {}, 8u), true, {0x0112, 0x011A}, {}},
      // IFD1 at 22 reads its count (24) from IFD0's own link field: no entry fits.
      {"ifd1 count past the end", BuildBlock(ByteOrder::kLittle, {0x0112}, {}, 22u), true, {0x0112}, {}},
      // The entries that fit in the block: the two real ones, then the 12
      // bytes that follow them (the link field and IFD1) read as a third.
      {"count larger than the data", countTooLarge, true, {0x0112, 0x011A, 0x0000}, {}},
      {"ifd0 past the block", ifd0PastEnd, true, {}, {}},
      {"not a TIFF header", Bytes{'X', 'X', 42, 0, 8, 0, 0, 0}, false, {}, {}},
      {"wrong magic", Bytes{'I', 'I', 43, 0, 8, 0, 0, 0}, false, {}, {}},
      {"shorter than a header", Bytes{'I', 'I', 42, 0}, false, {}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto layout = WalkExifBlock(c.block);
    ASSERT_EQ(layout.has_value(), c.parsed);
    if (!layout) continue;
    EXPECT_THAT(layout->mainTags, ElementsAreArray(c.main));
    EXPECT_THAT(layout->thumbnailTags, ElementsAreArray(c.thumbnail));
  }
}

TEST(ExifBlockTest, EveryPrefixOfABlockWalksInsideItsBytes) {
  const Bytes block = BuildBlock(ByteOrder::kBig, {0x010F, 0x0110, 0x0112}, {0x0103, 0x0128});
  for (std::size_t n = 0; n <= block.size(); ++n) {
    SCOPED_TRACE(n);
    // A copy of exactly n bytes, so a read past them is a heap overflow the sanitizer reports.
    const Bytes prefix(block.begin(), block.begin() + n);
    const auto layout = WalkExifBlock(prefix);
    if (n < 8) {
      EXPECT_FALSE(layout.has_value());
      continue;
    }
    ASSERT_TRUE(layout.has_value());
    EXPECT_LE(layout->mainTags.size(), 3u);
    EXPECT_LE(layout->thumbnailTags.size(), 2u);
    if (n == block.size()) {
      EXPECT_THAT(layout->mainTags, ElementsAre(0x010F, 0x0110, 0x0112));
      EXPECT_THAT(layout->thumbnailTags, ElementsAre(0x0103, 0x0128));
    }
  }
}

TEST(ExifBlockTest, FindsTheFirstExifSegmentBeforeTheScan) {
  const Bytes block = BuildBlock(ByteOrder::kLittle, {0x0112}, {});
  const Bytes xmp = {'h', 't', 't', 'p', ':', '/', '/', 'n', 's', 0};
  const Bytes jfif = {'J', 'F', 'I', 'F', 0, 1, 2, 0, 0, 1, 0, 1, 0, 0};
  struct Case {
    const char* name;
    Bytes file;
    bool found;
  };
  Bytes afterScan = BuildJpeg({{0xE0, jfif}});
  const Bytes exifSegment = BuildJpeg({{0xE1, ExifPayload(block)}});
  afterScan.insert(afterScan.end(), exifSegment.begin() + 2, exifSegment.end());
  Bytes withFill = BuildJpeg({{0xE1, ExifPayload(block)}});
  withFill.insert(withFill.begin() + 2, {0xFF, 0xFF});  // fill bytes before the marker
  const std::vector<Case> cases = {
      {"after JFIF", BuildJpeg({{0xE0, jfif}, {0xE1, ExifPayload(block)}}), true},
      {"after an XMP APP1", BuildJpeg({{0xE1, xmp}, {0xE1, ExifPayload(block)}}), true},
      {"fill bytes", withFill, true},
      {"only behind the scan", afterScan, false},
      {"no EXIF", BuildJpeg({{0xE0, jfif}}), false},
      {"not a JPEG", Bytes{0x89, 'P', 'N', 'G', 0xFF, 0xE1, 0, 8}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto found = FindJpegExifBlock(c.file);
    ASSERT_EQ(found.has_value(), c.found);
    if (found) {
      EXPECT_THAT(*found, ElementsAreArray(block));
    }
  }
}

TEST(ExifBlockTest, EveryPrefixOfAJpegHeaderSearchesInsideItsBytes) {
  const Bytes block = BuildBlock(ByteOrder::kBig, {0x0112}, {0x0103});
  const Bytes file = BuildJpeg({{0xE0, Bytes(14, 1)}, {0xE1, ExifPayload(block)}});
  const std::size_t exifEnd = 2 + 18 + 4 + 6 + block.size();
  for (std::size_t n = 0; n <= file.size(); ++n) {
    SCOPED_TRACE(n);
    const Bytes prefix(file.begin(), file.begin() + n);
    const auto found = FindJpegExifBlock(prefix);
    // Found exactly when the whole segment is there.
    EXPECT_EQ(found.has_value(), n >= exifEnd);
    if (found) {
      EXPECT_THAT(*found, ElementsAreArray(block));
    }
  }
}

}  // namespace
}  // namespace vel::gdiplus
