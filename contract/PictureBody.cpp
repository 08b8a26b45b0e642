#include "contract/PictureBody.h"

#include <algorithm>

#include "platform/base/ByteOrder.h"
#include "platform/win32/winbase.h"

namespace vel::wma {
namespace {

// An eight-bit text in the ANSI code page.
std::u16string AnsiText(std::span<const std::uint8_t> bytes) {
  // A zero length would make the converter look for a terminator itself.
  if (bytes.empty() || bytes.size() > 0x7FFFFFFF) return {};
  const auto* text = reinterpret_cast<const char*>(bytes.data());
  const int size = static_cast<int>(bytes.size());
  const int units = MultiByteToWideChar(CP_ACP, 0, text, size, nullptr, 0);
  if (units <= 0) return {};
  std::u16string out(static_cast<std::size_t>(units), u'\0');
  MultiByteToWideChar(CP_ACP, 0, text, size, out.data(), units);
  return out;
}

// The position of the first zero byte at or after from; nothing when the
// bytes end first.
std::optional<std::size_t> FindZero(std::span<const std::uint8_t> bytes, std::size_t from) {
  if (from > bytes.size()) return std::nullopt;
  const auto it = std::find(bytes.begin() + static_cast<std::ptrdiff_t>(from), bytes.end(), std::uint8_t{0});
  if (it == bytes.end()) return std::nullopt;
  return static_cast<std::size_t>(it - bytes.begin());
}

void PutLowBytes(std::vector<std::uint8_t>& out, std::u16string_view text) {
  for (char16_t c : text) out.push_back(static_cast<std::uint8_t>(c & 0xFF));
}

}  // namespace

std::u16string ReadUtf16Text(std::span<const std::uint8_t> bytes, bool bigEndian, std::size_t& byteCount) {
  const ByteOrder order = bigEndian ? ByteOrder::kBig : ByteOrder::kLittle;
  std::u16string text;
  std::size_t at = 0;
  while (bytes.size() - at >= 2) {
    const std::uint16_t unit = LoadU16Unchecked(bytes.data() + at, order);
    if (unit == 0) break;
    text.push_back(static_cast<char16_t>(unit));
    at += 2;
  }
  byteCount = at;
  return text;
}

std::vector<std::uint8_t> EncodePictureBody(std::u16string_view mimeType, std::uint8_t pictureType,
                                            std::u16string_view description, std::span<const std::uint8_t> data) {
  const bool wide = std::any_of(description.begin(), description.end(), [](char16_t c) { return c > 0xFF; });
  // Every term is a size_t (64 bits here): the sum of a large picture and
  // its texts cannot wrap.
  const std::size_t size = 1 + mimeType.size() + 1 + 1 + (wide ? 2 + 2 * description.size() + 2 : description.size() + 1) +
                           data.size();
  std::vector<std::uint8_t> out;
  out.reserve(size);
  out.push_back(wide ? 1 : 0);
  PutLowBytes(out, mimeType);
  out.push_back(0);
  out.push_back(pictureType);
  if (wide) {
    out.push_back(0xFF);
    out.push_back(0xFE);
    for (char16_t c : description) {
      out.push_back(static_cast<std::uint8_t>(c & 0xFF));
      out.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    out.push_back(0);
    out.push_back(0);
  } else {
    PutLowBytes(out, description);
    out.push_back(0);
  }
  out.insert(out.end(), data.begin(), data.end());
  return out;
}

std::optional<PictureFields> DecodePictureBody(std::span<const std::uint8_t> body) {
  if (body.empty()) return std::nullopt;
  PictureFields fields;
  const std::uint8_t encoding = body[0];
  const std::optional<std::size_t> mimeEnd = FindZero(body, 1);
  if (!mimeEnd) return std::nullopt;
  fields.mimeType = AnsiText(body.subspan(1, *mimeEnd - 1));
  // The picture type follows the MIME type's terminator.
  const std::size_t typeAt = *mimeEnd + 1;
  if (typeAt >= body.size()) return std::nullopt;
  fields.pictureType = body[typeAt];
  const std::size_t pos = typeAt + 1;
  std::size_t dataAt = 0;
  switch (encoding) {
    case 0: {
      const std::optional<std::size_t> end = FindZero(body, pos);
      if (!end) return std::nullopt;
      fields.description = AnsiText(body.subspan(pos, *end - pos));
      dataAt = *end + 1;
      break;
    }
    case 1: {
      if (body.size() - pos < 2) return std::nullopt;
      const std::uint8_t b0 = body[pos], b1 = body[pos + 1];
      if (b0 == 0 && b1 == 0) {
        dataAt = pos + 2;
        break;
      }
      const bool bigEndian = b0 == 0xFE && b1 == 0xFF;
      if (!bigEndian && !(b0 == 0xFF && b1 == 0xFE)) return std::nullopt;
      std::size_t count = 0;
      fields.description = ReadUtf16Text(body.subspan(pos + 2), bigEndian, count);
      dataAt = pos + 2 + count + 2;
      break;
    }
    case 2: {
      std::size_t count = 0;
      fields.description = ReadUtf16Text(body.subspan(pos), true, count);
      dataAt = pos + count + 2;
      break;
    }
    default:  // 3 (UTF-8) and unknown encodings
      return std::nullopt;
  }
  // A wide text that ran into the end of the body has no terminator.
  if (dataAt > body.size()) return std::nullopt;
  fields.data.assign(body.begin() + static_cast<std::ptrdiff_t>(dataAt), body.end());
  return fields;
}

}  // namespace vel::wma
