// Module path texts to Linux paths, and the one errno to Win32 error mapping;
// shared by the file functions, the C runtime stand-in, the registry store and
// the named mutexes.
//
// Thread safety: pure functions (the path form of ErrorFromErrno looks at the
// file system).
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

// The Win32 error for errno err, as the platform reports the same failure
// (ENOENT: ERROR_PATH_NOT_FOUND, EACCES: ERROR_ACCESS_DENIED, ENOSPC:
// ERROR_DISK_FULL, ...); otherwise for an errno with no Win32 counterpart.
DWORD ErrorFromErrno(int err, DWORD otherwise);

// The same for a failure on path: ENOENT is ERROR_FILE_NOT_FOUND when the folder of path exists and
// ERROR_PATH_NOT_FOUND otherwise, as the platform tells the two apart. EEXIST
// gives existsError (ERROR_FILE_EXISTS or ERROR_ALREADY_EXISTS by caller);
// an errno with no counterpart is ERROR_INVALID_FUNCTION.
DWORD ErrorFromErrno(int err, const std::string& path, DWORD existsError);

// The parent folder of a Linux path ("." for a bare name).
std::string ParentOf(const std::string& path);

}  // namespace vel::win32
