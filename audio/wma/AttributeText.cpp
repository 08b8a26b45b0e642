#include "audio/wma/AttributeText.h"

#include <algorithm>
#include <limits>

namespace vel::wma {
namespace {

bool IsDigit(char16_t c) noexcept { return c >= u'0' && c <= u'9'; }

// The white space the C library's wide readers skip.
bool IsSpace(char16_t c) noexcept { return c == u' ' || (c >= u'\t' && c <= u'\r'); }

}  // namespace

std::int32_t RatingFromText(std::u16string_view text, bool& isNumber) noexcept {
  isNumber = false;
  if (text.empty()) return 0;
  std::int64_t value = 0;
  for (char16_t c : text) {
    if (!IsDigit(c)) return 0;
    if (value <= std::numeric_limits<std::int32_t>::max()) value = value * 10 + (c - u'0');
  }
  isNumber = true;
  return static_cast<std::int32_t>(std::min<std::int64_t>(value, std::numeric_limits<std::int32_t>::max()));
}

std::int32_t TrackNumberFromText(std::u16string_view text) noexcept {
  std::size_t i = 0;
  while (i < text.size() && IsSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) negative = text[i++] == u'-';
  std::int64_t value = 0;
  for (; i < text.size() && IsDigit(text[i]); ++i) {
    if (value <= std::int64_t{1} << 32) value = value * 10 + (text[i] - u'0');
  }
  if (negative) value = -value;
  if (value > std::numeric_limits<std::int32_t>::max()) return std::numeric_limits<std::int32_t>::max();
  if (value < std::numeric_limits<std::int32_t>::min()) return std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(value);
}

std::u16string GuidTextFromBytes(std::span<const std::uint8_t> bytes) {
  if (bytes.size() != 16) return {};
  static constexpr int kOrder[16] = {3, 2, 1, 0, -1, 5, 4, -1, 7, 6, -1, 8, 9, -1, 10, 11};
  static constexpr char16_t kHex[] = u"0123456789abcdef";
  std::u16string text = u"{";
  const auto put = [&](std::uint8_t b) {
    text.push_back(kHex[b >> 4]);
    text.push_back(kHex[b & 0xF]);
  };
  for (int index : kOrder) {
    if (index < 0) {
      text.push_back(u'-');
    } else {
      put(bytes[static_cast<std::size_t>(index)]);
    }
  }
  for (std::size_t i = 12; i < 16; ++i) put(bytes[i]);
  text.push_back(u'}');
  return text;
}

}  // namespace vel::wma
