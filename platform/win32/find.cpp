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

bool FillFindData(const std::string& fullPath, const std::u16string& name, WIN32_FIND_DATAW& d);

// A search: one named file, or a folder read entry by entry as the caller
// asks for the next (a folder of any size costs the same memory).
class FindObject : public KernelObject {
 public:
  bool Waitable() const override { return false; }
  Claim TryClaim(DWORD) override { return Claim::kNotSignalled; }

  // The next entry matching the pattern; false at the end.
  bool Next(WIN32_FIND_DATAW& d) {
    if (!dir) {
      if (single.empty()) return false;
      d = single.front();
      single.clear();
      return true;
    }
    while (struct dirent* e = readdir(dir.get())) {
      if (fnmatch(pattern.c_str(), e->d_name, FNM_NOESCAPE) != 0) continue;
      if (FillFindData(dirPath + e->d_name, vel::FromUtf8(e->d_name), d)) return true;
    }
    return false;
  }

  std::vector<WIN32_FIND_DATAW> single;  // the named file, until it is taken
  std::unique_ptr<DIR, int (*)(DIR*)> dir{nullptr, closedir};
  std::string dirPath;  // with a trailing "/"
  std::string pattern;
};

// Status of a path with one statx: type, size and all times. A dangling
// link is found as the link itself when asked (followLinksOnly false).
bool StatusOf(const std::string& path, bool followLinksOnly, struct statx& sx) {
  constexpr unsigned kWanted = STATX_BASIC_STATS | STATX_BTIME;
  return statx(AT_FDCWD, path.c_str(), 0, kWanted, &sx) == 0 ||
         (!followLinksOnly && statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW, kWanted, &sx) == 0);
}

void FillAttributeData(const struct statx& sx, WIN32_FILE_ATTRIBUTE_DATA& d) {
  struct stat st {};
  st.st_mode = sx.stx_mode;
  d = WIN32_FILE_ATTRIBUTE_DATA{};
  d.dwFileAttributes = AttributesOf(st);
  auto ts = [](const struct statx_timestamp& t) { return timespec{static_cast<time_t>(t.tv_sec), t.tv_nsec}; };
  d.ftCreationTime = ToFileTime(ts((sx.stx_mask & STATX_BTIME) ? sx.stx_btime : sx.stx_ctime));
  d.ftLastAccessTime = ToFileTime(ts(sx.stx_atime));
  d.ftLastWriteTime = ToFileTime(ts(sx.stx_mtime));
  const auto size = S_ISDIR(sx.stx_mode) ? 0ULL : static_cast<unsigned long long>(sx.stx_size);
  d.nFileSizeHigh = static_cast<DWORD>(size >> 32);
  d.nFileSizeLow = static_cast<DWORD>(size & 0xFFFFFFFFu);
}

bool FillFindData(const std::string& fullPath, const std::u16string& name, WIN32_FIND_DATAW& d) {
  if (name.size() >= MAX_PATH) return false;
  struct statx sx;
  if (!StatusOf(fullPath, false, sx)) return false;
  WIN32_FILE_ATTRIBUTE_DATA a;
  FillAttributeData(sx, a);
  d = WIN32_FIND_DATAW{};
  d.dwFileAttributes = a.dwFileAttributes;
  d.ftCreationTime = a.ftCreationTime;
  d.ftLastAccessTime = a.ftLastAccessTime;
  d.ftLastWriteTime = a.ftLastWriteTime;
  d.nFileSizeHigh = a.nFileSizeHigh;
  d.nFileSizeLow = a.nFileSizeLow;
  std::copy(name.begin(), name.end(), d.cFileName);
  return true;
}

}  // namespace
}  // namespace vel::win32

using namespace vel::win32;

extern "C" {

BOOL GetFileAttributesExW(LPCWSTR lpFileName, GET_FILEEX_INFO_LEVELS fInfoLevelId, LPVOID lpFileInformation) {
  if (fInfoLevelId != GetFileExInfoStandard || lpFileInformation == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  const MappedPath mp = MapPath(lpFileName);
  if (!mp.ok()) return Fail(mp.error);
  struct statx sx;
  if (!StatusOf(mp.path, true, sx)) return Fail(ErrorFromErrno(errno, mp.path, ERROR_FILE_EXISTS));
  FillAttributeData(sx, *static_cast<WIN32_FILE_ATTRIBUTE_DATA*>(lpFileInformation));
  return TRUE;
}

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
    find->single.push_back(d);
  } else {
    find->dir.reset(opendir(dir.c_str()));
    if (!find->dir) {
      const int err = errno;
      SetLastError(err == ENOENT || err == ENOTDIR ? ERROR_PATH_NOT_FOUND : ErrorFromErrno(err, dir, ERROR_FILE_EXISTS));
      return INVALID_HANDLE_VALUE;
    }
    if (dir.back() != '/') dir += '/';
    find->dirPath = std::move(dir);
    find->pattern = pattern;
  }
  if (!find->Next(*lpFindFileData)) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
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
  if (!find->Next(*lpFindFileData)) return Fail(ERROR_NO_MORE_FILES);
  return TRUE;
}

BOOL FindClose(HANDLE hFindFile) {
  if (!LookupHandleAs<FindObject>(hFindFile)) return Fail(ERROR_INVALID_HANDLE);
  return CloseHandle(hFindFile);
}

}  // extern "C"
