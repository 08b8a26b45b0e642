// Module path texts to Linux paths, and errno to Win32 error numbers; shared by
// the file functions and the C runtime stand-in.
//
// Thread safety: pure functions (ErrorFromErrno looks at the file system).
#pragma once

#include <optional>
#include <string>

#include "platform/com/types.h"

namespace vel::win32 {

// The Linux path (UTF-8) for a module path text, or the Win32 error why there
// is none (null: ERROR_INVALID_PARAMETER; empty, drive-letter or network
// path: ERROR_PATH_NOT_FOUND).
struct MappedPath {
  std::string path;
  DWORD error = 0;
  bool ok() const { return error == 0; }
};
MappedPath MapPath(const char16_t* text);

// ENOENT is ERROR_FILE_NOT_FOUND when the folder of path exists and
// ERROR_PATH_NOT_FOUND otherwise, as the platform tells the two apart. EEXIST
// gives existsError (ERROR_FILE_EXISTS or ERROR_ALREADY_EXISTS by caller).
DWORD ErrorFromErrno(int err, const std::string& path, DWORD existsError);

// The parent folder of a Linux path ("." for a bare name).
std::string ParentOf(const std::string& path);

}  // namespace vel::win32
