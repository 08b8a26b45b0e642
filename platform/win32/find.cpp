// FindFirstFileW and FindNextFileW: a folder's names matching a pattern,
// read at once when the search starts.
//
// Thread safety: any thread; a search handle may be shared (its position is
// guarded by WaitLock()).
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/text.h"
#include "platform/win32/fileapi.h"
#include "platform/win32/fileinfo.h"
#include "platform/win32/handles.h"
#include "platform/win32/paths.h"

namespace vel::win32 {
namespace {

class FindObject : public KernelObject {
 public:
  bool Waitable() const override { return false; }
  Claim TryClaim(DWORD) override { return Claim::kNotSignalled; }
  std::vector<WIN32_FIND_DATAW> found;
  size_t next = 0;
};

bool FillFindData(const std::string& fullPath, const std::u16string& name, WIN32_FIND_DATAW& d) {
  struct stat st;
  if (stat(fullPath.c_str(), &st) != 0 && lstat(fullPath.c_str(), &st) != 0) return false;
  if (name.size() >= MAX_PATH) return false;
  d = WIN32_FIND_DATAW{};
  d.dwFileAttributes = AttributesOf(st);
  Times t{};
  if (!ReadTimes(AT_FDCWD, fullPath.c_str(), 0, t)) {
    t.creation = ToFileTime(st.st_ctim);
    t.access = ToFileTime(st.st_atim);
    t.write = ToFileTime(st.st_mtim);
  }
  d.ftCreationTime = t.creation;
  d.ftLastAccessTime = t.access;
  d.ftLastWriteTime = t.write;
  const auto size = S_ISDIR(st.st_mode) ? 0ULL : static_cast<unsigned long long>(st.st_size);
  d.nFileSizeHigh = static_cast<DWORD>(size >> 32);
  d.nFileSizeLow = static_cast<DWORD>(size & 0xFFFFFFFFu);
  std::copy(name.begin(), name.end(), d.cFileName);
  return true;
}

}  // namespace
}  // namespace vel::win32

using namespace vel::win32;

extern "C" {

HANDLE FindFirstFileW(LPCWSTR lpFileName, WIN32_FIND_DATAW* lpFindFileData) {
  if (!lpFindFileData) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  const MappedPath mp = MapPath(lpFileName);
  if (!mp.ok()) {
    SetLastError(mp.error);
    return INVALID_HANDLE_VALUE;
  }
  std::string path = mp.path;
  const size_t slash = path.rfind('/');
  const std::string pattern = slash == std::string::npos ? path : path.substr(slash + 1);
  std::string dir = slash == std::string::npos ? std::string(".") : path.substr(0, slash + 1);
  if (pattern.empty()) {  // "dir/": the platform finds nothing for a trailing separator
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  auto find = std::make_shared<FindObject>();
  if (pattern.find_first_of("*?") == std::string::npos) {
    WIN32_FIND_DATAW d;
    errno = 0;
    if (!FillFindData(path, vel::FromUtf8(pattern), d)) {
      SetLastError(ErrorFromErrno(errno ? errno : ENOENT, path, ERROR_FILE_EXISTS));
      return INVALID_HANDLE_VALUE;
    }
    find->found.push_back(d);
  } else {
    std::unique_ptr<DIR, int (*)(DIR*)> dirp(opendir(dir.c_str()), closedir);
    if (!dirp) {
      const int err = errno;
      SetLastError(err == ENOENT || err == ENOTDIR ? ERROR_PATH_NOT_FOUND : ErrorFromErrno(err, dir, ERROR_FILE_EXISTS));
      return INVALID_HANDLE_VALUE;
    }
    if (dir.back() != '/') dir += '/';
    while (struct dirent* e = readdir(dirp.get())) {
      if (fnmatch(pattern.c_str(), e->d_name, FNM_NOESCAPE) != 0) continue;
      WIN32_FIND_DATAW d;
      if (FillFindData(dir + e->d_name, vel::FromUtf8(e->d_name), d)) find->found.push_back(d);
    }
    if (find->found.empty()) {
      SetLastError(ERROR_FILE_NOT_FOUND);
      return INVALID_HANDLE_VALUE;
    }
  }
  *lpFindFileData = find->found[0];
  find->next = 1;
  HANDLE h = InsertHandle(find);
  if (!h) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return INVALID_HANDLE_VALUE;
  }
  SetLastError(ERROR_SUCCESS);
  return h;
}

BOOL FindNextFileW(HANDLE hFindFile, WIN32_FIND_DATAW* lpFindFileData) {
  auto find = LookupHandleAs<FindObject>(hFindFile);
  if (!find) return Fail(ERROR_INVALID_HANDLE);
  if (!lpFindFileData) return Fail(ERROR_INVALID_PARAMETER);
  std::lock_guard<std::mutex> guard(WaitLock());
  if (find->next >= find->found.size()) return Fail(ERROR_NO_MORE_FILES);
  *lpFindFileData = find->found[find->next++];
  return TRUE;
}

BOOL FindClose(HANDLE hFindFile) {
  if (!LookupHandleAs<FindObject>(hFindFile)) return Fail(ERROR_INVALID_HANDLE);
  return CloseHandle(hFindFile);
}

}  // extern "C"
