// The handle owners of the Win32 surface, one UniqueAny alias per kind:
//
//   UniqueFile     HANDLE from CreateFileW (invalid: INVALID_HANDLE_VALUE or null)
//   UniqueHandle   any other HANDLE closed with CloseHandle: mappings, events,
//                  mutexes, threads, find handles (invalid: null or INVALID_HANDLE_VALUE)
//   UniqueMapping  the HANDLE of CreateFileMappingW (an alias of UniqueHandle)
//   UniqueView     the base address of MapViewOfFile (UnmapViewOfFile)
//   UniqueHKey     HKEY from RegOpenKeyExW/RegCreateKeyExW (RegCloseKey)
//   UniqueModule   HMODULE from LoadLibraryW (FreeLibrary)
//
// Thread safety: as UniqueAny.
#pragma once

#include "platform/base/UniqueAny.h"
#include "platform/registry/winreg.h"
#include "platform/win32/fileapi.h"
#include "platform/win32/winbase.h"

namespace vel {

struct KernelHandleTraits {
  using Type = HANDLE;
  static Type Invalid() noexcept { return nullptr; }
  static bool IsValid(Type h) noexcept { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void Close(Type h) noexcept { CloseHandle(h); }
};
// CreateFileW answers INVALID_HANDLE_VALUE on failure, so an empty file owner
// holds that value: `file.get() == INVALID_HANDLE_VALUE` keeps its meaning.
struct FileHandleTraits : KernelHandleTraits {
  static Type Invalid() noexcept { return INVALID_HANDLE_VALUE; }
};
struct ViewTraits {
  using Type = LPVOID;
  static Type Invalid() noexcept { return nullptr; }
  static bool IsValid(Type p) noexcept { return p != nullptr; }
  static void Close(Type p) noexcept { UnmapViewOfFile(p); }
};

using UniqueHandle = UniqueAny<KernelHandleTraits>;
using UniqueMapping = UniqueHandle;
using UniqueFile = UniqueAny<FileHandleTraits>;
using UniqueView = UniqueAny<ViewTraits>;
using UniqueHKey = UniqueAny<NullHandleTraits<HKEY, RegCloseKey>>;
using UniqueModule = UniqueAny<NullHandleTraits<HMODULE, FreeLibrary>>;

}  // namespace vel
