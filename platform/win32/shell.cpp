// Shell special folders from the XDG user directories.
#include <pwd.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <string>

#include "platform/text.h"
#include "platform/win32/fileapi.h"
#include "platform/win32/shlobj.h"

extern "C" const IID IID_IMalloc = {0x00000002, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

namespace {

std::string Home() {
  if (const char* home = getenv("HOME"); home && *home) return home;
  if (const struct passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) return pw->pw_dir;
  return "/";
}

// The value of key in user-dirs.dirs: a quoted "$HOME/..." or absolute path.
std::string XdgUserDir(const char* key, const char* fallback) {
  const std::string home = Home();
  const char* config = getenv("XDG_CONFIG_HOME");
  const std::string file = (config && *config ? std::string(config) : home + "/.config") + "/user-dirs.dirs";
  std::ifstream in(file);
  std::string line;
  std::string found;
  const std::string prefix = std::string(key) + "=";
  while (std::getline(in, line)) {
    const size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos || line[start] == '#' || line.compare(start, prefix.size(), prefix) != 0) continue;
    std::string value = line.substr(start + prefix.size());
    while (!value.empty() && (value.back() == ' ' || value.back() == '\t' || value.back() == '\r')) value.pop_back();
    if (value.size() < 2 || value.front() != '"' || value.back() != '"') continue;
    value = value.substr(1, value.size() - 2);
    if (value.rfind("$HOME", 0) == 0 && (value.size() == 5 || value[5] == '/')) {
      found = home + value.substr(5);
    } else if (!value.empty() && value[0] == '/') {
      found = value;
    }
    // The last assignment wins, as when the file is read by a shell.
  }
  if (!found.empty()) {
    while (found.size() > 1 && found.back() == '/') found.pop_back();
    return found;
  }
  return home + "/" + fallback;
}

constexpr BYTE kMagic[4] = {'V', 'E', 'L', 'P'};

class ShellMalloc final : public IMalloc {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IMalloc) {
      *ppv = static_cast<IMalloc*>(this);
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  // One allocator for the process's life: counting would free nothing.
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  void* STDMETHODCALLTYPE Alloc(SIZE_T cb) override { return malloc(cb ? cb : 1); }
  void* STDMETHODCALLTYPE Realloc(void* pv, SIZE_T cb) override {
    if (pv && cb == 0) {
      free(pv);
      return nullptr;
    }
    return realloc(pv, cb);
  }
  void STDMETHODCALLTYPE Free(void* pv) override { free(pv); }
  SIZE_T STDMETHODCALLTYPE GetSize(void*) override { return static_cast<SIZE_T>(-1); }
  int STDMETHODCALLTYPE DidAlloc(void*) override { return -1; }
  void STDMETHODCALLTYPE HeapMinimize() override {}
};

ShellMalloc& Allocator() {
  static ShellMalloc* m = new ShellMalloc;  // stays for callers freeing lists at exit
  return *m;
}

}  // namespace

extern "C" {

HRESULT SHGetSpecialFolderLocation(HWND, int csidl, LPITEMIDLIST* ppidl) {
  if (!ppidl) return E_INVALIDARG;
  *ppidl = nullptr;
  std::string path;
  switch (csidl) {
    case CSIDL_MYMUSIC: path = XdgUserDir("XDG_MUSIC_DIR", "Music"); break;
    case CSIDL_MYVIDEO: path = XdgUserDir("XDG_VIDEOS_DIR", "Videos"); break;
    case CSIDL_MYPICTURES: path = XdgUserDir("XDG_PICTURES_DIR", "Pictures"); break;
    default: return E_INVALIDARG;
  }
  const std::u16string wide = vel::FromUtf8(path);
  const size_t itemSize = sizeof(USHORT) + sizeof kMagic + wide.size() * sizeof(char16_t);
  if (itemSize > 0xFFFF) return E_FAIL;
  auto* bytes = static_cast<BYTE*>(Allocator().Alloc(itemSize + sizeof(USHORT)));
  if (!bytes) return E_OUTOFMEMORY;
  const auto cb = static_cast<USHORT>(itemSize);
  std::memcpy(bytes, &cb, sizeof cb);
  std::memcpy(bytes + sizeof cb, kMagic, sizeof kMagic);
  std::memcpy(bytes + sizeof cb + sizeof kMagic, wide.data(), wide.size() * sizeof(char16_t));
  const USHORT end = 0;
  std::memcpy(bytes + itemSize, &end, sizeof end);
  *ppidl = reinterpret_cast<LPITEMIDLIST>(bytes);
  return S_OK;
}

BOOL SHGetPathFromIDListW(LPCITEMIDLIST pidl, LPWSTR pszPath) {
  if (!pidl || !pszPath) return FALSE;
  const auto* bytes = reinterpret_cast<const BYTE*>(pidl);
  USHORT cb;
  std::memcpy(&cb, bytes, sizeof cb);
  const size_t header = sizeof cb + sizeof kMagic;
  if (cb < header || (cb - header) % 2 != 0 || std::memcmp(bytes + sizeof cb, kMagic, sizeof kMagic) != 0) {
    pszPath[0] = 0;
    return FALSE;
  }
  const size_t len = (cb - header) / 2;
  if (len >= MAX_PATH) {
    pszPath[0] = 0;
    return FALSE;
  }
  std::memcpy(pszPath, bytes + header, len * sizeof(char16_t));
  pszPath[len] = 0;
  return TRUE;
}

HRESULT SHGetMalloc(IMalloc** ppMalloc) {
  if (!ppMalloc) return E_INVALIDARG;
  *ppMalloc = &Allocator();
  return S_OK;
}

}  // extern "C"
