// UTF-8 / UTF-16 conversion used inside the platform stand-in.
//
// Invalid input is replaced by U+FFFD rather than rejected: these are for
// passing names and paths to Linux, not for the code-page API.
#pragma once

#include <string>
#include <string_view>

namespace vel {

std::string ToUtf8(std::u16string_view text);
std::u16string FromUtf8(std::string_view text);
// Length of a zero-terminated UTF-16 text; 0 for null.
std::size_t U16Len(const char16_t* text) noexcept;
// Simple case folding of UTF-16 code units, as the registry compares names.
char16_t FoldCase(char16_t c) noexcept;
int CompareNoCase(std::u16string_view a, std::u16string_view b) noexcept;

}  // namespace vel
