// FormatMessageW over the system's message table (messages.inc), the local
// heap it allocates from, and GetModuleHandleW.
#include <dlfcn.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "platform/com/hresult.h"
#include "platform/text.h"
#include "platform/win32/UniquePosix.h"
#include "platform/win32/winbase.h"

namespace {

struct Message {
  DWORD id;
  std::u16string_view text;
};

constexpr Message kMessages[] = {
#define VEL_MESSAGE(number, text) {static_cast<DWORD>(number), text},
#include "platform/win32/messages.inc"
#undef VEL_MESSAGE
};

const Message* FindMessage(DWORD id) {
  // A Win32 error in HRESULT form reads as the error itself.
  if ((id & 0xFFFF0000u) == 0x80070000u) id &= 0xFFFFu;
  for (const Message& m : kMessages) {
    if (m.id == id) return &m;
  }
  return nullptr;
}

// The table holds English only; the neutral and default ids all mean it.
bool LanguageKnown(DWORD lang) {
  switch (lang) {
    case 0:
    case LANG_USER_DEFAULT:
    case 0x0800:  // system default
    case 0x0009:  // English, neutral
    case 0x0409:  // English (United States)
      return true;
    default:
      return false;
  }
}

}  // namespace

extern "C" {

HLOCAL LocalAlloc(UINT uFlags, SIZE_T uBytes) {
  void* p = (uFlags & LMEM_ZEROINIT) ? std::calloc(1, uBytes ? uBytes : 1) : std::malloc(uBytes ? uBytes : 1);
  if (!p) SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  return p;
}

HLOCAL LocalFree(HLOCAL hMem) {
  std::free(hMem);
  return nullptr;
}

DWORD FormatMessageW(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId, DWORD dwLanguageId, LPWSTR lpBuffer,
                     DWORD nSize, void* Arguments) {
  if (!lpBuffer) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (!(dwFlags & FORMAT_MESSAGE_FROM_SYSTEM)) {
    // Modules here carry no message tables, and format strings are not
    // needed by anything that calls us.
    SetLastError((dwFlags & FORMAT_MESSAGE_FROM_HMODULE) ? ERROR_RESOURCE_TYPE_NOT_FOUND : ERROR_CALL_NOT_IMPLEMENTED);
    return 0;
  }
  if (!LanguageKnown(dwLanguageId)) {
    SetLastError(ERROR_MUI_FILE_NOT_FOUND);
    return 0;
  }
  const Message* m = FindMessage(dwMessageId);
  if (!m) {
    SetLastError(ERROR_MR_MID_NOT_FOUND);
    return 0;
  }
  // No text in the table has inserts; a caller that asks for them to be
  // filled gets the text as it is, which is what the platform gives too.
  std::u16string_view text = m->text;
  const DWORD needed = static_cast<DWORD>(text.size()) + 1;

  if (dwFlags & FORMAT_MESSAGE_ALLOCATE_BUFFER) {
    const DWORD chars = std::max(needed, nSize);
    auto* out = static_cast<WCHAR*>(LocalAlloc(LMEM_FIXED, chars * sizeof(WCHAR)));
    if (!out) return 0;
    std::copy(text.begin(), text.end(), out);
    out[text.size()] = 0;
    *reinterpret_cast<LPWSTR*>(lpBuffer) = out;
    return needed - 1;
  }
  if (nSize < needed) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::copy(text.begin(), text.end(), lpBuffer);
  lpBuffer[text.size()] = 0;
  return needed - 1;
}

HMODULE GetModuleHandleW(LPCWSTR lpModuleName) {
  // RTLD_NOLOAD finds only what is already in the process, as the platform
  // does; the reference it takes is given back at once, the module stays.
  const vel::UniqueDlHandle handle(lpModuleName ? dlopen(vel::ToUtf8(lpModuleName).c_str(), RTLD_LAZY | RTLD_NOLOAD)
                                                : dlopen(nullptr, RTLD_LAZY));
  if (!handle) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  return handle.get();
}

}  // extern "C"
