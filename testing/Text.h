// Short conversions between the wide text the code under test speaks and the
// UTF-8 text tests compare and print.
//
// Thread safety: plain functions; any thread.
#pragma once

#include <string>
#include <string_view>

#include "ylib/YUtf8.h"

namespace vel::testing {

inline std::string U8(std::u16string_view text) { return YUtf16ToUtf8(text); }
inline std::u16string U16(std::string_view text) { return YUtf8ToUtf16(text); }

}  // namespace vel::testing
