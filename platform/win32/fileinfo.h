// What the file, find and mapping functions share: file status in Win32
// terms, and the failure helper. Internal to platform/win32 (POSIX types).
//
// Thread safety: pure functions; Fail sets the calling thread's last error.
#pragma once

#include <sys/stat.h>

#include "platform/com/types.h"

namespace vel::win32 {

// FILE_ATTRIBUTE_READONLY: a file (not a folder) without its owner's write permission.
bool IsReadOnly(const struct stat& st);
// FILE_ATTRIBUTE_DIRECTORY, _READONLY, or _NORMAL alone.
DWORD AttributesOf(const struct stat& st);
FILETIME ToFileTime(const struct timespec& t);

struct Times {
  FILETIME creation, access, write;
};
// As statx(dirfd, path, flags): birth time where the file system keeps one,
// otherwise the status change. False when statx fails.
bool ReadTimes(int dirfd, const char* path, int flags, Times& out);

// Sets the last error and answers FALSE.
bool Fail(DWORD error);

}  // namespace vel::win32
