#include "image/MetadataText.h"

#include "platform/text.h"
#include "ylib/YString.h"

namespace vel::image {

std::u16string DecodeMetadataText(std::string_view bytes, UINT fallbackCodePage) {
  bytes = bytes.substr(0, bytes.find('\0'));
  if (bytes.empty()) return {};
  std::u16string text;
  if (vel::DecodeUtf8(bytes, true, text)) return text;
  return CYStringHelper::MultiByteToString(bytes.data(), bytes.size(), fallbackCodePage);
}

}  // namespace vel::image
