// Texts of EXIF, IPTC and GDI+ metadata: bytes in no declared encoding. Newer
// software writes UTF-8; older software and cameras wrote a Windows code
// page. Bytes that are valid UTF-8 are read as UTF-8, any others in the
// fallback code page, so both kinds read back as their writer meant them.
//
// Thread safety: pure functions; any thread.
#pragma once

#include <string>
#include <string_view>

#include "platform/com/types.h"

namespace vel::image {

constexpr UINT kWindows1252 = 1252;

// bytes up to their first zero byte (the terminator of a C text).
std::u16string DecodeMetadataText(std::string_view bytes, UINT fallbackCodePage);

}  // namespace vel::image
