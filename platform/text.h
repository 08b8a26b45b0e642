// The one UTF-8 / UTF-16 converter of the system, exported by
// libvelplatform.so: the platform stand-in, ylib and everything above use it.
// Also the length, case folding and comparison of UTF-16 texts.
//
// Ill-formed input: each maximal ill-formed part of UTF-8 (a bad lead byte, or
// a lead byte with the valid start of its sequence) and each unpaired
// surrogate becomes one U+FFFD, as the code-page API does without
// MB_ERR_INVALID_CHARS / WC_ERR_INVALID_CHARS. The strict forms stop at the
// first one instead.
//
// Thread safety: pure functions; any thread.
#pragma once

#include <string>
#include <string_view>

namespace vel {

std::string ToUtf8(std::u16string_view text);
std::u16string FromUtf8(std::string_view text);
// Append to out; false (with out holding what came before the ill-formed part)
// at the first ill-formed part when strict.
bool DecodeUtf8(std::string_view in, bool strict, std::u16string& out);
bool EncodeUtf8(std::u16string_view in, bool strict, std::string& out);
// Appends a code point as one or two UTF-16 units; a surrogate or a value
// past U+10FFFF as U+FFFD.
void AppendUtf16(std::u16string& out, char32_t cp);
// Length of a zero-terminated UTF-16 text; 0 for null.
std::size_t U16Len(const char16_t* text) noexcept;
// Simple case folding of UTF-16 code units, as the registry compares names.
// ASCII is folded inline: names are nearly always ASCII and this runs for
// every character the registry compares.
char16_t FoldCaseBeyondAscii(char16_t c) noexcept;
inline char16_t FoldCase(char16_t c) noexcept {
  if (c < 0x80) return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c;
  return FoldCaseBeyondAscii(c);
}
int CompareNoCase(std::u16string_view a, std::u16string_view b) noexcept;

}  // namespace vel
