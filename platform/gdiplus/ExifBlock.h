// The EXIF block of a JPEG file, as far as the GDI+ classes need it: where it
// is, its byte order, and which tags its first two IFDs (the main image and
// the thumbnail) hold. libgdiplus hands EXIF values over in the block's own
// byte order and gives the thumbnail's tags the main image's numbers; these
// two facts let the property list be put right (PropertyList.h).
//
// Both functions read only inside the bytes they are given: offsets past the
// end, IFD chains that loop, and entry counts larger than the data end the
// walk cleanly.
//
// Thread safety: pure functions.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "platform/base/ByteOrder.h"

namespace vel::gdiplus {

struct ExifLayout {
  ByteOrder order = ByteOrder::kLittle;
  std::vector<std::uint16_t> mainTags;       // IFD0, in stored order
  std::vector<std::uint16_t> thumbnailTags;  // IFD1, in stored order
};

// The TIFF structure inside the first APP1 segment that starts with
// "Exif\0\0", found by walking the markers from the start of image up to the
// first scan. Nothing for a file that is not a JPEG or has no such segment.
std::optional<std::span<const std::uint8_t>> FindJpegExifBlock(std::span<const std::uint8_t> file);

// The byte order and the tags of IFD0 and IFD1 of a TIFF structure ("II*\0"
// or "MM\0*"). Nothing when the header is not one; an IFD that starts past
// the end is empty; entries are taken as far as the data reaches.
std::optional<ExifLayout> WalkExifBlock(std::span<const std::uint8_t> block);

}  // namespace vel::gdiplus
