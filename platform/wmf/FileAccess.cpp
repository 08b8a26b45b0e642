#include "platform/wmf/FileAccess.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/win32/paths.h"
#include "platform/win32/winerror.h"

namespace vel::wmf {

HRESULT OpenForReading(const std::u16string& path, OpenedFile& file) {
  win32::MappedPath mapped = win32::MapPath(path.c_str());
  if (!mapped.ok()) return mapped.error == ERROR_PATH_NOT_FOUND ? NS_E_FILE_NOT_FOUND : HRESULT_FROM_WIN32(mapped.error);
  int fd = ::open(mapped.path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    int err = errno;
    if (err == ENOENT || err == ENOTDIR) return NS_E_FILE_NOT_FOUND;
    return HRESULT_FROM_WIN32(win32::ErrorFromErrno(err, mapped.path, ERROR_FILE_EXISTS));
  }
  file.fd.reset(fd);
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return NS_E_FILE_OPEN_FAILED;
  file.size = static_cast<std::uint64_t>(st.st_size);
  file.status = st;
  file.nativePath = std::move(mapped.path);
  return S_OK;
}

bool ReadAt(int fd, std::uint64_t offset, std::uint64_t n, Bytes& out) {
  out.clear();
  constexpr std::uint64_t kChunk = 1u << 20;
  while (n > 0) {
    std::size_t want = static_cast<std::size_t>(n < kChunk ? n : kChunk);
    std::size_t at = out.size();
    out.resize(at + want);
    ssize_t got = ::pread(fd, out.data() + at, want, static_cast<off_t>(offset));
    if (got < 0 && errno == EINTR) {
      out.resize(at);
      continue;
    }
    if (got <= 0) {
      out.resize(at);
      return got == 0;
    }
    out.resize(at + static_cast<std::size_t>(got));
    offset += static_cast<std::uint64_t>(got);
    n -= static_cast<std::uint64_t>(got);
  }
  return true;
}

}  // namespace vel::wmf
