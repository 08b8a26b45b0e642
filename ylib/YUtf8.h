// UTF-8 <-> UTF-16 conversion for texts that cross into 8-bit C++ interfaces
// (std::exception::what(), narrow "%S" arguments, narrow file names).
//
// Invalid input never fails: malformed UTF-8 and unpaired surrogates become
// U+FFFD. Pure functions; any thread.
#pragma once

#include <string>
#include <string_view>

std::u16string YUtf8ToUtf16(std::string_view text);
std::string YUtf16ToUtf8(std::u16string_view text);
