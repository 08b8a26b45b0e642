// ASCII case helpers for the texts formats and configurations define as
// ASCII (MIME types, extensions, item types, WSP names). Only A-Z fold; every
// other code unit compares as it is.
//
// Thread safety: pure functions; any thread.
#pragma once

#include <string>
#include <string_view>

namespace vel {

constexpr char AsciiLower(char c) noexcept { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
constexpr char16_t AsciiLower(char16_t c) noexcept {
  return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c - u'A' + u'a') : c;
}

// The text with A-Z lowered.
inline std::u16string AsciiLowered(std::u16string text) {
  for (char16_t& c : text) c = AsciiLower(c);
  return text;
}
inline std::string AsciiLowered(std::string text) {
  for (char& c : text) c = AsciiLower(c);
  return text;
}

// Equal when they differ at most in the case of A-Z. The mixed form compares
// each byte of a as the code unit of the same value.
template <class A, class B>
constexpr bool AsciiEqualsNoCase(std::basic_string_view<A> a, std::basic_string_view<B> b) noexcept {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto x = static_cast<char16_t>(static_cast<std::make_unsigned_t<A>>(AsciiLower(a[i])));
    const auto y = static_cast<char16_t>(static_cast<std::make_unsigned_t<B>>(AsciiLower(b[i])));
    if (x != y) return false;
  }
  return true;
}
inline bool AsciiEqualsNoCase(std::string_view a, std::string_view b) noexcept { return AsciiEqualsNoCase<char, char>(a, b); }
inline bool AsciiEqualsNoCase(std::u16string_view a, std::u16string_view b) noexcept {
  return AsciiEqualsNoCase<char16_t, char16_t>(a, b);
}
inline bool AsciiEqualsNoCase(std::string_view a, std::u16string_view b) noexcept {
  return AsciiEqualsNoCase<char, char16_t>(a, b);
}

}  // namespace vel
