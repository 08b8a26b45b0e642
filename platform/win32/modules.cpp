// Module handles and paths: GetModuleHandleExW, GetModuleFileNameW,
// LoadLibraryW, GetProcAddress and FreeLibrary.
//
// A module handle is the dlopen handle of the shared object, as
// GetModuleHandleW hands it out; null stands for the executable.
#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <algorithm>
#include <string>

#include "platform/text.h"
#include "platform/win32/winbase.h"

namespace {

std::string ExecutablePath() {
  std::string path(4096, '\0');
  ssize_t n = readlink("/proc/self/exe", path.data(), path.size());
  if (n <= 0) return {};
  path.resize(static_cast<size_t>(n));
  return path;
}

// A loader name made absolute against the working folder; symbolic links
// stay as they are, since a registration should name the file it was given.
std::string Absolute(std::string path) {
  if (path.empty() || path[0] == '/') return path;
  std::string cwd(4096, '\0');
  if (!getcwd(cwd.data(), cwd.size())) return path;
  cwd.resize(cwd.find('\0'));
  if (path.rfind("./", 0) == 0) path.erase(0, 2);
  return cwd + "/" + path;
}

}  // namespace

extern "C" {

BOOL GetModuleHandleExW(DWORD dwFlags, LPCWSTR lpModuleName, HMODULE* phModule) {
  if (!phModule) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *phModule = nullptr;
  void* handle = nullptr;
  if (dwFlags & GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS) {
    Dl_info info{};
    if (!lpModuleName || !dladdr(reinterpret_cast<const void*>(lpModuleName), &info) || !info.dli_fname) {
      SetLastError(ERROR_MOD_NOT_FOUND);
      return FALSE;
    }
    handle = dlopen(info.dli_fname, RTLD_LAZY | RTLD_NOLOAD);
    // The executable's own name is not always one the loader finds again.
    if (!handle) handle = dlopen(nullptr, RTLD_LAZY);
  } else {
    handle = lpModuleName ? dlopen(vel::ToUtf8(lpModuleName).c_str(), RTLD_LAZY | RTLD_NOLOAD)
                          : dlopen(nullptr, RTLD_LAZY);
  }
  if (!handle) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return FALSE;
  }
  // RTLD_NOLOAD took a reference; PIN keeps it for good, UNCHANGED_REFCOUNT gives it back.
  if (dwFlags & GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT) dlclose(handle);
  *phModule = handle;
  return TRUE;
}

DWORD GetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize) {
  std::string path;
  if (hModule) {
    link_map* map = nullptr;
    if (dlinfo(hModule, RTLD_DI_LINKMAP, &map) != 0 || !map) {
      SetLastError(ERROR_MOD_NOT_FOUND);
      return 0;
    }
    path = map->l_name && map->l_name[0] ? Absolute(map->l_name) : ExecutablePath();
  } else {
    path = ExecutablePath();
  }
  if (path.empty()) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return 0;
  }
  const std::u16string text = vel::FromUtf8(path);
  if (!lpFilename || nSize == 0) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  if (text.size() >= nSize) {
    std::copy_n(text.begin(), nSize - 1, lpFilename);
    lpFilename[nSize - 1] = 0;
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return nSize;
  }
  std::copy(text.begin(), text.end(), lpFilename);
  lpFilename[text.size()] = 0;
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(text.size());
}

HMODULE LoadLibraryW(LPCWSTR lpLibFileName) {
  if (!lpLibFileName || !*lpLibFileName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::u16string path(lpLibFileName);
  if (path.rfind(u"\\\\?\\", 0) == 0) path.erase(0, 4);
  std::replace(path.begin(), path.end(), u'\\', u'/');
  void* handle = dlopen(vel::ToUtf8(path).c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) SetLastError(ERROR_MOD_NOT_FOUND);
  return handle;
}

FARPROC GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
  if (!hModule || !lpProcName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  void* symbol = dlsym(hModule, lpProcName);
  if (!symbol) SetLastError(ERROR_PROC_NOT_FOUND);
  return reinterpret_cast<FARPROC>(symbol);
}

BOOL FreeLibrary(HMODULE hLibModule) {
  if (!hLibModule || dlclose(hLibModule) != 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}

}  // extern "C"
