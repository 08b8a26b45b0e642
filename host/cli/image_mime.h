// The MIME type an image file's first bytes announce, for `velitems picture
// set`, which wraps an image in an attached-picture body and must name its
// type: the signatures of the formats a cover is stored in (JPEG, PNG, GIF,
// BMP, WebP, TIFF), nothing else.
//
// Thread safety: a pure function; any thread.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace velitems {

// "image/jpeg", "image/png", "image/gif", "image/bmp", "image/webp" or
// "image/tiff"; empty when the bytes announce none of these.
std::u16string ImageMimeType(std::span<const std::uint8_t> image);

}  // namespace velitems
