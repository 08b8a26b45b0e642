// Short conversions between the wide text the code under test speaks and the
// UTF-8 text tests compare and print.
//
// Thread safety: plain functions; any thread.
#pragma once

#include <string>
#include <string_view>

#include "platform/text.h"

namespace vel::testing {

inline std::string U8(std::u16string_view text) { return vel::ToUtf8(text); }
inline std::u16string U16(std::string_view text) { return vel::FromUtf8(text); }

}  // namespace vel::testing
