// The bounded walk of a JPEG's markers and of an EXIF block's first IFDs.
#include "platform/gdiplus/ExifBlock.h"

#include <cstring>

#include "platform/base/ByteReader.h"

namespace vel::gdiplus {
namespace {

constexpr std::uint8_t kExifHeader[] = {'E', 'x', 'i', 'f', 0, 0};

// Markers that stand alone, without a length field.
bool IsStandalone(std::uint8_t marker) {
  return marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7);
}

// The tags of the IFD at offset, as far as the block holds its entries.
// False when the IFD does not start inside the block.
bool ReadIfdTags(std::span<const std::uint8_t> block, ByteOrder order, std::uint32_t offset,
                 std::vector<std::uint16_t>& tags, std::uint32_t& next) {
  next = 0;
  ByteReader reader(block, order);
  reader.Seek(offset);
  const std::uint16_t count = reader.U16();
  if (!reader.ok()) return false;
  for (std::uint32_t i = 0; i < count; ++i) {
    ByteReader entry = reader.Take(12);
    if (!entry.ok()) return true;  // the count promised more entries than the block holds
    tags.push_back(entry.U16());
  }
  next = reader.U32();
  if (!reader.ok()) next = 0;
  return true;
}

}  // namespace

std::optional<std::span<const std::uint8_t>> FindJpegExifBlock(std::span<const std::uint8_t> file) {
  ByteReader reader(file, ByteOrder::kBig);
  if (reader.U16() != 0xFFD8 || !reader.ok()) return std::nullopt;
  while (reader.ok() && !reader.empty()) {
    if (reader.U8() != 0xFF) return std::nullopt;  // not at a marker: give up rather than guess
    std::uint8_t marker = reader.U8();
    while (marker == 0xFF && reader.ok()) marker = reader.U8();  // fill bytes
    if (!reader.ok()) return std::nullopt;
    if (IsStandalone(marker)) continue;
    if (marker == 0xD9 || marker == 0xDA) return std::nullopt;  // end of image, start of scan
    const std::uint16_t length = reader.U16();
    if (!reader.ok() || length < 2) return std::nullopt;
    ByteReader segment = reader.Take(length - 2u);
    if (!segment.ok()) return std::nullopt;
    if (marker == 0xE1 && segment.size() >= sizeof kExifHeader &&
        std::memcmp(segment.bytes().data(), kExifHeader, sizeof kExifHeader) == 0) {
      return segment.bytes().subspan(sizeof kExifHeader);
    }
  }
  return std::nullopt;
}

std::optional<ExifLayout> WalkExifBlock(std::span<const std::uint8_t> block) {
  if (block.size() < 8) return std::nullopt;
  ExifLayout layout;
  if (block[0] == 'I' && block[1] == 'I') {
    layout.order = ByteOrder::kLittle;
  } else if (block[0] == 'M' && block[1] == 'M') {
    layout.order = ByteOrder::kBig;
  } else {
    return std::nullopt;
  }
  ByteReader header(block, layout.order);
  header.Skip(2);
  if (header.U16() != 42) return std::nullopt;
  const std::uint32_t ifd0 = header.U32();
  std::uint32_t ifd1 = 0;
  if (!ReadIfdTags(block, layout.order, ifd0, layout.mainTags, ifd1)) return layout;
  // Only the first link is followed: IFD1 is the thumbnail, and an IFD1 that
  // points back at IFD0 would otherwise be read twice.
  if (ifd1 != 0 && ifd1 != ifd0) {
    std::uint32_t ignored = 0;
    ReadIfdTags(block, layout.order, ifd1, layout.thumbnailTags, ignored);
  }
  return layout;
}

}  // namespace vel::gdiplus
