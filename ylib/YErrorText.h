// System error numbers as text, for report entries.
//
// Thread safety: any thread.
#pragma once

#include <string>

#include "platform/com/types.h"

// The system's text for a Win32 error number or HRESULT: first in the given
// language (0: the user's default), then in the user's default language, then
// from "winhttp.dll" when that module is loaded. Trailing white space is
// removed. Without any text: "Unable to format error message from error number %d".
std::u16string FormatErrorMessage(DWORD error, DWORD language = 0);
