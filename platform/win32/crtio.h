// The C runtime's low-level file functions on wide paths, with the platform's
// flag values. Paths follow the rules of fileapi.h. Descriptors are the
// process's own; errno values are those of the C library (the common ones,
// ENOENT 2, EACCES 13, EEXIST 17, have the platform's numbers).
//
// Text mode is not emulated: _O_TEXT and _O_BINARY both read and write bytes
// unchanged (the module opens its files in binary mode).
//
// Thread safety: any thread.
#pragma once

#include <cstdio>

#include "platform/com/types.h"

constexpr int _O_RDONLY = 0x0000;
constexpr int _O_WRONLY = 0x0001;
constexpr int _O_RDWR = 0x0002;
constexpr int _O_APPEND = 0x0008;
constexpr int _O_CREAT = 0x0100;
constexpr int _O_TRUNC = 0x0200;
constexpr int _O_EXCL = 0x0400;
constexpr int _O_TEXT = 0x4000;
constexpr int _O_BINARY = 0x8000;

constexpr int _S_IREAD = 0x0100;
constexpr int _S_IWRITE = 0x0080;

extern "C" {

// pmode (_S_IREAD, _S_IWRITE) counts only when the file is created: without
// _S_IWRITE the new file is read-only.
int _wopen(const WCHAR* filename, int oflag, ...);
int _write(int fd, const void* buffer, unsigned int count);
int _read(int fd, void* buffer, unsigned int count);
int _close(int fd);
// Sets (no _S_IWRITE) or clears (_S_IWRITE) the read-only attribute.
int _wchmod(const WCHAR* filename, int pmode);
// The C library's English text for an error number, cut to the buffer.
int _wcserror_s(WCHAR* buffer, size_t sizeInWords, int errnum);
// A C stream on a wide path; mode is "r", "w" or "a" with "+", "b", "t"
// (errno EINVAL for another). Close it with fclose.
FILE* _wfopen(const WCHAR* filename, const WCHAR* mode);
int _get_errno(int* value);
// Non-zero when the descriptor is a terminal (0 standard input, 1 output, 2 error).
int _isatty(int fd);

}  // extern "C"
