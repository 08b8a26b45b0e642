// Read-only file mappings and their views (part of the file API: fileapi.h
// includes this header).
//
// Platform contract: the platform never lets a mapped file be shortened; Linux
// does, and reading a view's page past the file's new end raises SIGBUS. So
// that readers see what they would see on the platform, the first
// MapViewOfFile installs a process-wide SIGBUS handler (sigaction, once, kept
// for the life of the process). A fault inside a live view is answered with a
// zero page: the part of the view past the file's new end reads as zeros. A
// SIGBUS anywhere else goes to the handler that was installed before (or to
// the default action, which ends the process). Up to 256 views are guarded at
// once; a fault in a view beyond those goes to the previous handler too.
//
// Thread safety: any thread; a view may be read by any thread until
// UnmapViewOfFile.
#pragma once

#include "platform/com/types.h"
#include "platform/win32/winbase.h"

extern "C" {

// Read-only mappings of whole files (PAGE_READONLY, FILE_MAP_READ only; no
// names, no maximum size beyond the file's). An empty file cannot be mapped
// (ERROR_FILE_INVALID), as on the platform. A view stays valid after the
// mapping handle and the file handle are closed, until UnmapViewOfFile.
HANDLE CreateFileMappingW(HANDLE hFile, SECURITY_ATTRIBUTES* lpFileMappingAttributes, DWORD flProtect,
                          DWORD dwMaximumSizeHigh, DWORD dwMaximumSizeLow, LPCWSTR lpName);
// dwNumberOfBytesToMap 0 maps from the offset to the end of the file.
LPVOID MapViewOfFile(HANDLE hFileMappingObject, DWORD dwDesiredAccess, DWORD dwFileOffsetHigh,
                     DWORD dwFileOffsetLow, SIZE_T dwNumberOfBytesToMap);
BOOL UnmapViewOfFile(LPCVOID lpBaseAddress);

}  // extern "C"
