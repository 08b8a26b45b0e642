// Compatibility forwarders to the one UTF-8 / UTF-16 converter (platform/text.h)
// for callers outside ylib that still use these names; new code calls
// vel::ToUtf8 / vel::FromUtf8 directly.
//
// Thread safety: pure functions; any thread.
#pragma once

#include <string>
#include <string_view>

#include "platform/text.h"

inline std::u16string YUtf8ToUtf16(std::string_view text) { return vel::FromUtf8(text); }
inline std::string YUtf16ToUtf8(std::u16string_view text) { return vel::ToUtf8(text); }
