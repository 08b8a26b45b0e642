// The text decoding of the vMessage reader: code pages of MIME charset names,
// bytes to UTF-16 in a code page, and quoted-printable values.
//
// Thread safety: pure functions; any thread.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/com/types.h"

namespace vel::vmessage {

// The code page of a MIME charset name (letter case aside); 0 when it is unknown.
UINT CodePageOfCharset(std::u16string_view name) noexcept;

// Bytes to UTF-16 in a code page; invalid sequences become what the platform
// makes of them. Empty when the code page cannot convert at all.
std::u16string Decode(std::string_view bytes, UINT codePage, DWORD flags = 0);

// The code page for 8-bit text that declares none: UTF-8 when the bytes are
// valid UTF-8, else the ANSI code page.
UINT EightBitCodePage(std::string_view bytes);

// Quoted-printable text (soft breaks already joined) to bytes. A "=" not
// followed by two hex digits is kept as it is.
std::string DecodeQuotedPrintable(std::u16string_view text);

}  // namespace vel::vmessage
