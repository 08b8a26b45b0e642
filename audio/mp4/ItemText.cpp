#include "audio/mp4/ItemText.h"

#include <algorithm>
#include <limits>

#include "platform/win32/winbase.h"
#include "ylib/YErrorFrame.h"
#include "platform/text.h"

namespace vel::mp4 {
namespace {

constexpr char16_t kSource[] = u"ItemText";

}  // namespace

std::u16string DecodeItemText(std::span<const std::uint8_t> bytes) {
  return YErrorFrame(VEL_FRAME(u"vel::mp4::DecodeItemText"), [&]() {
    const auto zero = std::find(bytes.begin(), bytes.end(), std::uint8_t{0});
    const auto untilZero = static_cast<std::size_t>(zero - bytes.begin());

    bool utf8 = false;
    for (std::size_t i = 0; i < bytes.size() && !utf8; ++i) {
      const std::uint8_t b = bytes[i];
      if (b <= 0xC1 || b == 0xF5 || b == 0xFF) continue;
      std::size_t j = i + 1;
      while (j < bytes.size() && bytes[j] == 0) ++j;
      utf8 = j < bytes.size() && bytes[j] >= 0x80 && bytes[j] <= 0xBF;
    }
    if (utf8) return vel::FromUtf8(std::string_view(reinterpret_cast<const char*>(bytes.data()), untilZero));

    const bool sevenBit =
        std::all_of(bytes.begin(), zero, [](std::uint8_t b) { return b < 0x80 || b == 0xA9; }) &&
        std::all_of(zero, bytes.end(), [](std::uint8_t b) { return b == 0; });
    if (sevenBit) {
      if (untilZero == 0) return std::u16string();
      if (untilZero > static_cast<std::size_t>(std::numeric_limits<int>::max())) return std::u16string();
      const auto* text = reinterpret_cast<const char*>(bytes.data());
      const int length = MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(untilZero), nullptr, 0);
      if (length <= 0) return std::u16string();
      std::u16string wide(static_cast<std::size_t>(length), u'\0');
      MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(untilZero), wide.data(), length);
      return wide;
    }

    // An odd last byte is a unit of its own (its high byte zero).
    std::u16string wide;
    for (std::size_t i = 0; i < bytes.size(); i += 2) {
      const unsigned high = i + 1 < bytes.size() ? bytes[i + 1] : 0u;
      const auto unit = static_cast<char16_t>(bytes[i] | (high << 8));
      if (unit == 0) break;
      wide.push_back(unit);
    }
    return wide;
  });
}

NumberPair ParseNumberPair(std::u16string_view text) noexcept {
  // Leading digits from position at; -1 when there are none or too many.
  auto digits = [&](std::size_t& at) -> std::int64_t {
    const std::size_t begin = at;
    std::int64_t value = 0;
    bool tooLarge = false;
    while (at < text.size() && text[at] >= u'0' && text[at] <= u'9') {
      value = value * 10 + (text[at] - u'0');
      if (value > std::numeric_limits<std::int32_t>::max()) {
        tooLarge = true;
        value = 0;
      }
      ++at;
    }
    return at == begin || tooLarge ? -1 : value;
  };
  NumberPair pair;
  std::size_t at = 0;
  pair.number = digits(at);
  if (at > 0 && at < text.size()) {
    ++at;  // the separator, whatever it is
    pair.total = digits(at);
  }
  return pair;
}

}  // namespace vel::mp4
