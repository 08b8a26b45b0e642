// Module path texts to Linux paths, and errno to Win32 error numbers.
//
// Thread safety: any thread.
#include "platform/win32/paths.h"

#include <errno.h>
#include <sys/stat.h>

#include <algorithm>

#include "platform/text.h"
#include "platform/win32/winerror.h"

namespace vel::win32 {

MappedPath MapPath(const char16_t* text) {
  MappedPath out;
  if (!text) {
    out.error = ERROR_INVALID_PARAMETER;
    return out;
  }
  std::u16string p(text);
  if (p.rfind(u"\\\\?\\UNC\\", 0) == 0) {
    out.error = ERROR_PATH_NOT_FOUND;
    return out;
  }
  if (p.rfind(u"\\\\?\\", 0) == 0) p.erase(0, 4);
  std::replace(p.begin(), p.end(), u'\\', u'/');
  const bool drive = p.size() >= 2 && p[1] == u':' &&
                     ((p[0] >= u'A' && p[0] <= u'Z') || (p[0] >= u'a' && p[0] <= u'z'));
  if (p.empty() || drive || p.rfind(u"//", 0) == 0) {
    out.error = ERROR_PATH_NOT_FOUND;
    return out;
  }
  out.path = ToUtf8(p);
  return out;
}

std::string ParentOf(const std::string& path) {
  std::string p = path;
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  const size_t slash = p.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return p.substr(0, slash);
}

DWORD ErrorFromErrno(int err, DWORD otherwise) {
  switch (err) {
    case 0:
      return ERROR_SUCCESS;
    case ENOENT:
    case ENOTDIR:
    case ELOOP:
      return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS:
    case ETXTBSY:
      return ERROR_ACCESS_DENIED;
    case EEXIST:
      return ERROR_ALREADY_EXISTS;
    case ENOTEMPTY:
      return ERROR_DIR_NOT_EMPTY;
    case ENAMETOOLONG:
      return ERROR_FILENAME_EXCED_RANGE;
    case ENOSPC:
    case EDQUOT:
      return ERROR_DISK_FULL;
    case EMFILE:
    case ENFILE:
      return ERROR_TOO_MANY_OPEN_FILES;
    case ENOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    case EBADF:
      return ERROR_INVALID_HANDLE;
    case EXDEV:
      return ERROR_NOT_SAME_DEVICE;
    case EBUSY:
      return ERROR_BUSY;
    case EINVAL:
      return ERROR_INVALID_PARAMETER;
    case EIO:
      return ERROR_WRITE_FAULT;
    default:
      return otherwise;
  }
}

DWORD ErrorFromErrno(int err, const std::string& path, DWORD existsError) {
  if (err == ENOENT) {
    struct stat st;
    const std::string parent = ParentOf(path);
    return (stat(parent.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
  }
  if (err == EEXIST) return existsError;
  return ErrorFromErrno(err, ERROR_INVALID_FUNCTION);
}

}  // namespace vel::win32
