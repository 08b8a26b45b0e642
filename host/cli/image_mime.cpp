#include "host/cli/image_mime.h"

#include <initializer_list>

namespace velitems {

std::u16string ImageMimeType(std::span<const std::uint8_t> image) {
  const auto starts = [&](std::initializer_list<int> head, std::size_t at = 0) {
    if (image.size() < at + head.size()) return false;
    std::size_t i = at;
    for (int b : head) {
      if (image[i++] != static_cast<std::uint8_t>(b)) return false;
    }
    return true;
  };
  if (starts({0xFF, 0xD8, 0xFF})) return u"image/jpeg";
  if (starts({0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A})) return u"image/png";
  if (starts({'G', 'I', 'F', '8', '7', 'a'}) || starts({'G', 'I', 'F', '8', '9', 'a'})) return u"image/gif";
  // "BM" alone starts too much text; a bitmap has at least its 14-byte file header.
  if (starts({'B', 'M'}) && image.size() >= 14) return u"image/bmp";
  if (starts({'R', 'I', 'F', 'F'}) && starts({'W', 'E', 'B', 'P'}, 8)) return u"image/webp";
  if (starts({'I', 'I', 0x2A, 0x00}) || starts({'M', 'M', 0x00, 0x2A})) return u"image/tiff";
  return {};
}

}  // namespace velitems
