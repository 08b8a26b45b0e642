// The C runtime's descriptor functions over POSIX calls.
#include <errno.h>
#include <stdio.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdarg>
#include <string>

#include "platform/text.h"
#include "platform/win32/crtio.h"
#include "platform/win32/paths.h"
#include "platform/win32/winerror.h"

namespace {

int MapOpenFlags(int oflag) {
  int flags = O_CLOEXEC;
  switch (oflag & 3) {
    case _O_WRONLY: flags |= O_WRONLY; break;
    case _O_RDWR: flags |= O_RDWR; break;
    default: flags |= O_RDONLY; break;
  }
  if (oflag & _O_APPEND) flags |= O_APPEND;
  if (oflag & _O_CREAT) flags |= O_CREAT;
  if (oflag & _O_TRUNC) flags |= O_TRUNC;
  if (oflag & _O_EXCL) flags |= O_EXCL;
  return flags;
}

}  // namespace

extern "C" {

int _wopen(const WCHAR* filename, int oflag, ...) {
  int pmode = 0;
  if (oflag & _O_CREAT) {
    va_list args;
    va_start(args, oflag);
    pmode = va_arg(args, int);
    va_end(args);
  }
  const vel::win32::MappedPath mp = vel::win32::MapPath(filename);
  if (!mp.ok()) {
    errno = mp.error == ERROR_INVALID_PARAMETER ? EINVAL : ENOENT;
    return -1;
  }
  const mode_t mode = (pmode & _S_IWRITE) ? 0666 : 0444;
  int fd;
  do {
    fd = open(mp.path.c_str(), MapOpenFlags(oflag), mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

int _write(int fd, const void* buffer, unsigned int count) {
  const char* p = static_cast<const char*>(buffer);
  unsigned int done = 0;
  while (done < count) {
    const ssize_t n = write(fd, p + done, count - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return done > 0 ? static_cast<int>(done) : -1;
    }
    done += static_cast<unsigned int>(n);
  }
  return static_cast<int>(done);
}

int _read(int fd, void* buffer, unsigned int count) {
  ssize_t n;
  do {
    n = read(fd, buffer, count);
  } while (n < 0 && errno == EINTR);
  return static_cast<int>(n);
}

int _close(int fd) { return close(fd); }

int _wchmod(const WCHAR* filename, int pmode) {
  const vel::win32::MappedPath mp = vel::win32::MapPath(filename);
  if (!mp.ok()) {
    errno = mp.error == ERROR_INVALID_PARAMETER ? EINVAL : ENOENT;
    return -1;
  }
  struct stat st;
  if (stat(mp.path.c_str(), &st) != 0) return -1;
  mode_t mode = st.st_mode & 07777;
  if (pmode & _S_IWRITE) {
    mode |= S_IWUSR;  // the read-only attribute is the owner's write permission
  } else {
    mode &= ~static_cast<mode_t>(0222);
  }
  return chmod(mp.path.c_str(), mode);
}

int _wcserror_s(WCHAR* buffer, size_t sizeInWords, int errnum) {
  if (!buffer || sizeInWords == 0) return EINVAL;
  // The untranslated text, whatever the process's locale.
  const char* text = strerrordesc_np(errnum);
  const std::u16string wide = vel::FromUtf8(text ? text : "Unknown error");
  const size_t n = wide.size() < sizeInWords - 1 ? wide.size() : sizeInWords - 1;
  wide.copy(buffer, n);
  buffer[n] = 0;
  return 0;
}

FILE* _wfopen(const WCHAR* filename, const WCHAR* mode) {
  if (!filename || !mode) {
    errno = EINVAL;
    return nullptr;
  }
  // "r", "w" or "a", then "+", "b" and "t" in any order; text and binary mode
  // read the same bytes here. The stream is closed across exec.
  std::string narrow;
  if (*mode != u'r' && *mode != u'w' && *mode != u'a') {
    errno = EINVAL;
    return nullptr;
  }
  narrow += static_cast<char>(*mode);
  for (const WCHAR* m = mode + 1; *m; ++m) {
    if (*m == u'+') {
      narrow += '+';
    } else if (*m != u'b' && *m != u't') {
      errno = EINVAL;
      return nullptr;
    }
  }
  narrow += 'e';
  const vel::win32::MappedPath mp = vel::win32::MapPath(filename);
  if (!mp.ok()) {
    errno = mp.error == ERROR_INVALID_PARAMETER ? EINVAL : ENOENT;
    return nullptr;
  }
  FILE* stream = fopen(mp.path.c_str(), narrow.c_str());
  struct stat st;
  if (stream && fstat(fileno(stream), &st) == 0 && S_ISDIR(st.st_mode)) {
    // A folder opens for reading here, never on the platform.
    fclose(stream);
    errno = EACCES;
    return nullptr;
  }
  return stream;
}

int _get_errno(int* value) {
  if (!value) return EINVAL;
  *value = errno;
  return 0;
}

int _isatty(int fd) { return isatty(fd) == 1 ? 1 : 0; }

}  // extern "C"
