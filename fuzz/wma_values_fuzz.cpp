// libFuzzer target for the Windows Media value conversions: the first byte
// picks what the rest is taken as.
//   0  a picture body (DecodePictureBody); one that decodes is built again
//      and must decode to the same image bytes;
//   1  attribute bytes of a type and byte order (ValueFromAttribute); a value
//      read is written back (AttributeFromValue) and must read the same;
//   2  a WM_PICTURE in one buffer whose pointers come from the input, inside
//      the buffer or just past it (CWmaEditor::FromWMPicture); anything not
//      inside must be refused with a report, never read.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>
#include <vector>

#include "audio/wma/AttributeValue.h"
#include "audio/wma/WmaEditor.h"
#include "contract/PictureBody.h"
#include "ylib/YException.h"

namespace {

void Picture(std::span<const std::uint8_t> body) {
  const auto fields = vel::wma::DecodePictureBody(body);
  if (!fields) return;
  const auto again = vel::wma::EncodePictureBody(fields->mimeType, fields->pictureType, fields->description, fields->data);
  const auto back = vel::wma::DecodePictureBody(again);
  if (!back || back->data != fields->data || back->pictureType != fields->pictureType) std::abort();
}

void Attribute(std::span<const std::uint8_t> input) {
  if (input.empty()) return;
  const auto type = static_cast<WMT_ATTR_DATATYPE>(input[0] % 8);
  const vel::ByteOrder order = input[0] & 0x80 ? vel::ByteOrder::kLittle : vel::ByteOrder::kBig;
  const auto value = vel::wma::ValueFromAttribute(type, input.subspan(1), order);
  if (!value) return;
  const auto bytes = vel::wma::AttributeFromValue(*value, order);
  // Empty texts are not written; everything else is.
  if (!bytes) {
    if (value->vt != VT_BSTR) std::abort();
    return;
  }
  const auto back = vel::wma::ValueFromAttribute(bytes->type, bytes->bytes, order);
  if (!back || !(*back == *value)) std::abort();
}

void Structure(std::span<const std::uint8_t> input) {
  if (input.size() < 8) return;
  std::vector<std::uint8_t> buffer(input.begin() + 8, input.end());
  std::uint8_t* base = buffer.data();
  const std::size_t size = buffer.size();
  // An offset into the buffer or one past it; 0xFF: a null pointer.
  const auto at = [&](std::uint8_t b) -> std::uint8_t* {
    if (b == 0xFF || base == nullptr) return nullptr;
    return base + (size == 0 ? 0 : b % (size + 1));
  };
  WM_PICTURE picture{};
  picture.pwszMIMEType = reinterpret_cast<LPWSTR>(at(input[0]));
  picture.pwszDescription = reinterpret_cast<LPWSTR>(at(input[1]));
  picture.pbData = at(input[2]);
  picture.bPictureType = input[3];
  std::memcpy(&picture.dwDataLen, input.data() + 4, 4);
  try {
    CWmaEditor::FromWMPicture(picture, buffer);
  } catch (const CYException&) {
    // refused
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::span<const std::uint8_t> rest(data + 1, size - 1);
  switch (data[0] % 3) {
    case 0: Picture(rest); break;
    case 1: Attribute(rest); break;
    default: Structure(rest); break;
  }
  return 0;
}
