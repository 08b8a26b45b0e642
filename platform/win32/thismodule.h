// The file the calling module (shared object or program) was loaded from.
//
// Header only and hidden: each module that includes it gets its own copy of
// the function, so the address it asks about lies inside that module.
// Registration writes this path as the module's InprocServer32.
#pragma once

#include <string>

#include "platform/win32/winbase.h"

namespace vel {

// The full path, or "" when the platform cannot tell.
[[gnu::visibility("hidden")]] inline std::u16string ThisModulePath() {
  HMODULE self = nullptr;
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          reinterpret_cast<LPCWSTR>(&ThisModulePath), &self)) {
    return {};
  }
  std::u16string path(4096, u'\0');
  const DWORD n = GetModuleFileNameW(self, path.data(), static_cast<DWORD>(path.size()));
  if (n == 0 || n >= path.size()) return {};
  path.resize(n);
  return path;
}

}  // namespace vel
