// Win32 files, directories, attributes and times over POSIX calls.
//
// Thread safety: any thread; a file handle may be shared between threads (the
// file position is shared, as on the platform).
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <utility>

#include "platform/text.h"
#include "platform/win32/FileObject.h"
#include "platform/win32/UniquePosix.h"
#include "platform/win32/fileapi.h"
#include "platform/win32/fileinfo.h"
#include "platform/win32/paths.h"

namespace vel::win32 {

bool IsReadOnly(const struct stat& st) { return !S_ISDIR(st.st_mode) && (st.st_mode & S_IWUSR) == 0; }

FILETIME ToFileTime(const struct timespec& t) {
  constexpr long long kEpochDiff = 11644473600LL;  // 1601-01-01 to 1970-01-01, seconds
  const long long ticks = (static_cast<long long>(t.tv_sec) + kEpochDiff) * 10000000LL + t.tv_nsec / 100;
  const auto u = static_cast<unsigned long long>(ticks < 0 ? 0 : ticks);
  return FILETIME{static_cast<DWORD>(u & 0xFFFFFFFFu), static_cast<DWORD>(u >> 32)};
}

bool ReadTimes(int dirfd, const char* path, int flags, Times& out) {
  struct statx sx;
  if (statx(dirfd, path, flags, STATX_BASIC_STATS | STATX_BTIME, &sx) != 0) return false;
  auto ts = [](const struct statx_timestamp& t) { return timespec{static_cast<time_t>(t.tv_sec), t.tv_nsec}; };
  out.creation = ToFileTime(ts((sx.stx_mask & STATX_BTIME) ? sx.stx_btime : sx.stx_ctime));
  out.access = ToFileTime(ts(sx.stx_atime));
  out.write = ToFileTime(ts(sx.stx_mtime));
  return true;
}

DWORD AttributesOf(const struct stat& st) {
  DWORD a = 0;
  if (S_ISDIR(st.st_mode)) a |= FILE_ATTRIBUTE_DIRECTORY;
  if (IsReadOnly(st)) a |= FILE_ATTRIBUTE_READONLY;
  return a == 0 ? FILE_ATTRIBUTE_NORMAL : a;
}

bool Fail(DWORD error) {
  SetLastError(error);
  return false;
}

std::shared_ptr<FileObject> FileOf(HANDLE h) {
  auto f = LookupHandleAs<FileObject>(h);
  if (!f) SetLastError(ERROR_INVALID_HANDLE);
  return f;
}

namespace {

// Share-mode locks: one byte per "has access" and "denies sharing" for reading
// and writing, far beyond any real file's end.
constexpr off_t kLockBase = static_cast<off_t>(0x7FFFFFFF00000000LL);
enum LockByte : off_t { kHasRead = 0, kHasWrite = 1, kDeniesRead = 2, kDeniesWrite = 3 };

bool LockByteOp(int fd, int cmd, LockByte which, short type, struct flock& fl) {
  fl = {};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = kLockBase + which;
  fl.l_len = 1;
  return fcntl(fd, cmd, &fl) == 0;
}

// True when another open description holds a lock on the byte.
bool OthersHold(int fd, LockByte which) {
  struct flock fl;
  if (!LockByteOp(fd, F_OFD_GETLK, which, F_WRLCK, fl)) return false;  // no locks here: nothing enforced
  return fl.l_type != F_UNLCK;
}

// Announces this handle's access and what it denies with shared locks, then
// looks for the opposite announcements of other handles. Announcing before
// looking means two opens that exclude each other can never both succeed (at
// worst both fail when they meet at the same instant). Every description
// taking part is readable, so shared locks are always allowed.
bool TakeShareLocks(int fd, bool reads, bool writes, bool deniesRead, bool deniesWrite) {
  struct flock fl;
  const std::pair<bool, LockByte> announce[] = {
      {reads, kHasRead}, {writes, kHasWrite}, {deniesRead, kDeniesRead}, {deniesWrite, kDeniesWrite}};
  for (const auto& [on, which] : announce) {
    if (on && !LockByteOp(fd, F_OFD_SETLK, which, F_RDLCK, fl)) return true;  // file system without these locks
  }
  if (reads && OthersHold(fd, kDeniesRead)) return false;
  if (writes && OthersHold(fd, kDeniesWrite)) return false;
  if (deniesRead && OthersHold(fd, kHasRead)) return false;
  if (deniesWrite && OthersHold(fd, kHasWrite)) return false;
  return true;
}

}  // namespace
}  // namespace vel::win32

using namespace vel::win32;

extern "C" {

HANDLE CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode, SECURITY_ATTRIBUTES*,
                   DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes, HANDLE hTemplateFile) {
  const MappedPath mp = MapPath(lpFileName);
  if (!mp.ok()) {
    SetLastError(mp.error);
    return INVALID_HANDLE_VALUE;
  }
  const std::string& path = mp.path;
  const bool reads = (dwDesiredAccess & (GENERIC_READ | GENERIC_ALL | FILE_READ_DATA)) != 0;
  const bool writes = (dwDesiredAccess & (GENERIC_WRITE | GENERIC_ALL | FILE_WRITE_DATA | FILE_APPEND_DATA)) != 0;
  const bool truncates = dwCreationDisposition == CREATE_ALWAYS || dwCreationDisposition == TRUNCATE_EXISTING;
  if (dwCreationDisposition < CREATE_NEW || dwCreationDisposition > TRUNCATE_EXISTING) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  if (dwCreationDisposition == TRUNCATE_EXISTING && !writes) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  // Attribute-only handles neither read nor write data, so they meet no share
  // mode, as on the platform; O_PATH also spares them the permission check.
  const bool needsWrite = writes || truncates;
  // Writers open read-write whenever they may, so their description can hold
  // the share locks; ReadFile still checks the access asked for.
  int mode = needsWrite ? O_RDWR : (reads ? O_RDONLY : O_PATH);
  mode |= O_CLOEXEC;

  vel::UniqueFd fd;
  bool existed = false;
  const bool mayCreate = dwCreationDisposition == CREATE_NEW || dwCreationDisposition == CREATE_ALWAYS ||
                         dwCreationDisposition == OPEN_ALWAYS;
  const bool mustCreate = dwCreationDisposition == CREATE_NEW;
  const int openMode = (mode & O_PATH) && mayCreate ? (O_RDONLY | O_CLOEXEC) : mode;
  for (int attempt = 0; attempt < 8 && !fd; ++attempt) {
    if (mayCreate) {
      fd.reset(open(path.c_str(), openMode | O_CREAT | O_EXCL, 0666));
      if (fd) break;
      if (errno != EEXIST || mustCreate) break;
    }
    fd.reset(open(path.c_str(), mode));
    if (!fd && errno == EACCES && needsWrite && !reads) fd.reset(open(path.c_str(), O_WRONLY | O_CLOEXEC));
    if (fd) {
      existed = true;
      break;
    }
    if (errno != ENOENT || !mayCreate) break;
  }
  if (!fd) {
    SetLastError(ErrorFromErrno(errno, path, ERROR_FILE_EXISTS));
    return INVALID_HANDLE_VALUE;
  }
  // The descriptor closes when a failure returns.
  auto fail = [&](DWORD error) {
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
  };
  struct stat st;
  if (fstat(fd.get(), &st) != 0) return fail(ErrorFromErrno(errno, path, ERROR_FILE_EXISTS));
  if (S_ISDIR(st.st_mode) && !(dwFlagsAndAttributes & FILE_FLAG_BACKUP_SEMANTICS)) return fail(ERROR_ACCESS_DENIED);
  if (existed && needsWrite && IsReadOnly(st)) return fail(ERROR_ACCESS_DENIED);
  if ((reads || writes) && !(mode & O_PATH)) {
    if (!TakeShareLocks(fd.get(), reads, needsWrite, !(dwShareMode & FILE_SHARE_READ),
                        !(dwShareMode & FILE_SHARE_WRITE))) {
      return fail(ERROR_SHARING_VIOLATION);
    }
  }
  if (existed && truncates && ftruncate(fd.get(), 0) != 0) return fail(ErrorFromErrno(errno, path, ERROR_FILE_EXISTS));
  if (!existed && hTemplateFile != nullptr && hTemplateFile != INVALID_HANDLE_VALUE) {
    auto templateFile = FileOf(hTemplateFile);
    if (!templateFile) {
      unlink(path.c_str());
      return fail(ERROR_INVALID_HANDLE);
    }
    struct stat templateStat;
    if (fstat(templateFile->fd(), &templateStat) != 0 || fchmod(fd.get(), templateStat.st_mode & 07777) != 0) {
      unlink(path.c_str());
      return fail(ERROR_ACCESS_DENIED);
    }
  }

  HANDLE h = InsertHandle(std::make_shared<FileObject>(std::move(fd), reads, writes));
  if (!h) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return INVALID_HANDLE_VALUE;
  }
  SetLastError(existed && (dwCreationDisposition == OPEN_ALWAYS || dwCreationDisposition == CREATE_ALWAYS)
                   ? ERROR_ALREADY_EXISTS
                   : ERROR_SUCCESS);
  return h;
}

}  // extern "C"

HANDLE vel::OpenFileForReading(LPCWSTR path, std::int64_t* size) {
  *size = 0;
  const MappedPath mp = MapPath(path);
  if (!mp.ok()) {
    SetLastError(mp.error);
    return INVALID_HANDLE_VALUE;
  }
  vel::UniqueFd fd(open(mp.path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
  if (!fd) {
    SetLastError(ErrorFromErrno(errno, mp.path, ERROR_FILE_EXISTS));
    return INVALID_HANDLE_VALUE;
  }
  struct stat st;
  if (fstat(fd.get(), &st) != 0) {
    SetLastError(ErrorFromErrno(errno, mp.path, ERROR_FILE_EXISTS));
    return INVALID_HANDLE_VALUE;
  }
  if (S_ISDIR(st.st_mode)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  HANDLE h = InsertHandle(std::make_shared<FileObject>(std::move(fd), true, false));
  if (!h) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return INVALID_HANDLE_VALUE;
  }
  *size = static_cast<std::int64_t>(st.st_size);
  SetLastError(ERROR_SUCCESS);
  return h;
}

extern "C" {

BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, LPDWORD lpNumberOfBytesRead,
              OVERLAPPED* lpOverlapped) {
  if (lpNumberOfBytesRead) *lpNumberOfBytesRead = 0;
  if (lpOverlapped || (!lpBuffer && nNumberOfBytesToRead)) return Fail(ERROR_INVALID_PARAMETER);
  auto f = FileOf(hFile);
  if (!f) return FALSE;
  if (!f->canRead()) return Fail(ERROR_ACCESS_DENIED);
  DWORD done = 0;
  auto* p = static_cast<char*>(lpBuffer);
  while (done < nNumberOfBytesToRead) {
    const ssize_t n = read(f->fd(), p + done, nNumberOfBytesToRead - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (lpNumberOfBytesRead) *lpNumberOfBytesRead = done;
      return Fail(errno == EISDIR ? ERROR_INVALID_FUNCTION : ERROR_READ_FAULT);
    }
    if (n == 0) break;  // end of file: success with what was read
    done += static_cast<DWORD>(n);
  }
  if (lpNumberOfBytesRead) *lpNumberOfBytesRead = done;
  return TRUE;
}

BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite, LPDWORD lpNumberOfBytesWritten,
               OVERLAPPED* lpOverlapped) {
  if (lpNumberOfBytesWritten) *lpNumberOfBytesWritten = 0;
  if (lpOverlapped || (!lpBuffer && nNumberOfBytesToWrite)) return Fail(ERROR_INVALID_PARAMETER);
  auto f = FileOf(hFile);
  if (!f) return FALSE;
  if (!f->canWrite()) return Fail(ERROR_ACCESS_DENIED);
  DWORD done = 0;
  const auto* p = static_cast<const char*>(lpBuffer);
  while (done < nNumberOfBytesToWrite) {
    const ssize_t n = write(f->fd(), p + done, nNumberOfBytesToWrite - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (lpNumberOfBytesWritten) *lpNumberOfBytesWritten = done;
      return Fail(errno == ENOSPC || errno == EDQUOT ? ERROR_DISK_FULL : ERROR_WRITE_FAULT);
    }
    done += static_cast<DWORD>(n);
  }
  if (lpNumberOfBytesWritten) *lpNumberOfBytesWritten = done;
  return TRUE;
}

BOOL GetFileSizeEx(HANDLE hFile, LARGE_INTEGER* lpFileSize) {
  if (!lpFileSize) return Fail(ERROR_INVALID_PARAMETER);
  auto f = FileOf(hFile);
  if (!f) return FALSE;
  struct stat st;
  if (fstat(f->fd(), &st) != 0) return Fail(ERROR_INVALID_HANDLE);
  lpFileSize->QuadPart = S_ISDIR(st.st_mode) ? 0 : static_cast<LONGLONG>(st.st_size);
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

DWORD GetFileSize(HANDLE hFile, LPDWORD lpFileSizeHigh) {
  LARGE_INTEGER size;
  if (!GetFileSizeEx(hFile, &size)) return INVALID_FILE_SIZE;
  if (lpFileSizeHigh) *lpFileSizeHigh = static_cast<DWORD>(size.HighPart);
  return size.LowPart;  // last error 0 tells a real 0xFFFFFFFF from a failure
}

BOOL SetFilePointerEx(HANDLE hFile, LARGE_INTEGER liDistanceToMove, LARGE_INTEGER* lpNewFilePointer,
                      DWORD dwMoveMethod) {
  auto f = FileOf(hFile);
  if (!f) return FALSE;
  int whence;
  switch (dwMoveMethod) {
    case FILE_BEGIN: whence = SEEK_SET; break;
    case FILE_CURRENT: whence = SEEK_CUR; break;
    case FILE_END: whence = SEEK_END; break;
    default: return Fail(ERROR_INVALID_PARAMETER);
  }
  const off_t pos = lseek(f->fd(), static_cast<off_t>(liDistanceToMove.QuadPart), whence);
  if (pos < 0) return Fail(errno == EINVAL ? ERROR_NEGATIVE_SEEK : ERROR_INVALID_HANDLE);
  if (lpNewFilePointer) lpNewFilePointer->QuadPart = pos;
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

DWORD SetFilePointer(HANDLE hFile, LONG lDistanceToMove, LONG* lpDistanceToMoveHigh, DWORD dwMoveMethod) {
  LARGE_INTEGER distance;
  if (lpDistanceToMoveHigh) {
    distance.LowPart = static_cast<DWORD>(lDistanceToMove);
    distance.HighPart = *lpDistanceToMoveHigh;
  } else {
    distance.QuadPart = lDistanceToMove;  // a signed 32-bit distance
  }
  LARGE_INTEGER now;
  if (!SetFilePointerEx(hFile, distance, &now, dwMoveMethod)) return INVALID_SET_FILE_POINTER;
  if (lpDistanceToMoveHigh) {
    *lpDistanceToMoveHigh = now.HighPart;
  } else if (now.HighPart != 0) {
    // The position does not fit the answer; the platform reports this the same way.
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_SET_FILE_POINTER;
  }
  return now.LowPart;
}

BOOL GetFileTime(HANDLE hFile, FILETIME* lpCreationTime, FILETIME* lpLastAccessTime, FILETIME* lpLastWriteTime) {
  auto f = FileOf(hFile);
  if (!f) return FALSE;
  Times t{};
  if (!ReadTimes(f->fd(), "", AT_EMPTY_PATH, t)) return Fail(ERROR_INVALID_HANDLE);
  if (lpCreationTime) *lpCreationTime = t.creation;
  if (lpLastAccessTime) *lpLastAccessTime = t.access;
  if (lpLastWriteTime) *lpLastWriteTime = t.write;
  return TRUE;
}

DWORD GetFileAttributesW(LPCWSTR lpFileName) {
  const MappedPath mp = MapPath(lpFileName);
  if (!mp.ok()) {
    SetLastError(mp.error);
    return INVALID_FILE_ATTRIBUTES;
  }
  struct stat st;
  if (stat(mp.path.c_str(), &st) != 0) {
    SetLastError(ErrorFromErrno(errno, mp.path, ERROR_FILE_EXISTS));
    return INVALID_FILE_ATTRIBUTES;
  }
  return AttributesOf(st);
}

BOOL DeleteFileW(LPCWSTR lpFileName) {
  const MappedPath mp = MapPath(lpFileName);
  if (!mp.ok()) return Fail(mp.error);
  struct stat st;
  if (lstat(mp.path.c_str(), &st) != 0) return Fail(ErrorFromErrno(errno, mp.path, ERROR_FILE_EXISTS));
  if (S_ISDIR(st.st_mode) || (!S_ISLNK(st.st_mode) && IsReadOnly(st))) return Fail(ERROR_ACCESS_DENIED);
  if (unlink(mp.path.c_str()) != 0) return Fail(ErrorFromErrno(errno, mp.path, ERROR_FILE_EXISTS));
  return TRUE;
}

BOOL MoveFileExW(LPCWSTR lpExistingFileName, LPCWSTR lpNewFileName, DWORD dwFlags) {
  const MappedPath from = MapPath(lpExistingFileName);
  if (!from.ok()) return Fail(from.error);
  const MappedPath to = MapPath(lpNewFileName);
  if (!to.ok()) return Fail(to.error);
  struct stat st;
  if (lstat(from.path.c_str(), &st) != 0) return Fail(ErrorFromErrno(errno, from.path, ERROR_ALREADY_EXISTS));
  if (dwFlags & MOVEFILE_REPLACE_EXISTING) {
    struct stat dst;
    if (lstat(to.path.c_str(), &dst) == 0) {
      if (S_ISDIR(dst.st_mode) || IsReadOnly(dst)) return Fail(ERROR_ACCESS_DENIED);
    }
    if (rename(from.path.c_str(), to.path.c_str()) != 0) {
      return Fail(ErrorFromErrno(errno, to.path, ERROR_ALREADY_EXISTS));
    }
    return TRUE;
  }
  if (renameat2(AT_FDCWD, from.path.c_str(), AT_FDCWD, to.path.c_str(), RENAME_NOREPLACE) == 0) return TRUE;
  if (errno == EINVAL || errno == ENOSYS) {
    // A file system without the atomic form: look first, then rename.
    struct stat dst;
    if (lstat(to.path.c_str(), &dst) == 0) return Fail(ERROR_ALREADY_EXISTS);
    if (rename(from.path.c_str(), to.path.c_str()) == 0) return TRUE;
  }
  return Fail(ErrorFromErrno(errno, to.path, ERROR_ALREADY_EXISTS));
}

BOOL MoveFileW(LPCWSTR lpExistingFileName, LPCWSTR lpNewFileName) {
  return MoveFileExW(lpExistingFileName, lpNewFileName, MOVEFILE_COPY_ALLOWED);
}

BOOL CreateDirectoryW(LPCWSTR lpPathName, SECURITY_ATTRIBUTES*) {
  const MappedPath mp = MapPath(lpPathName);
  if (!mp.ok()) return Fail(mp.error);
  if (mkdir(mp.path.c_str(), 0777) != 0) return Fail(ErrorFromErrno(errno, mp.path, ERROR_ALREADY_EXISTS));
  return TRUE;
}

DWORD GetShortPathNameW(LPCWSTR lpszLongPath, LPWSTR, DWORD) {
  const MappedPath mp = MapPath(lpszLongPath);
  if (!mp.ok()) {
    SetLastError(mp.error);
    return 0;
  }
  struct stat st;
  SetLastError(stat(mp.path.c_str(), &st) == 0 ? ERROR_NOT_SUPPORTED
                                                : ErrorFromErrno(errno, mp.path, ERROR_FILE_EXISTS));
  return 0;
}

DWORD GetLongPathNameW(LPCWSTR lpszShortPath, LPWSTR lpszLongPath, DWORD cchBuffer) {
  const MappedPath mp = MapPath(lpszShortPath);
  if (!mp.ok()) {
    SetLastError(mp.error);
    return 0;
  }
  struct stat st;
  if (stat(mp.path.c_str(), &st) != 0) {
    SetLastError(ErrorFromErrno(errno, mp.path, ERROR_FILE_EXISTS));
    return 0;
  }
  const size_t len = vel::U16Len(lpszShortPath);
  if (!lpszLongPath || cchBuffer < len + 1) return static_cast<DWORD>(len + 1);
  std::memmove(lpszLongPath, lpszShortPath, len * sizeof(char16_t));
  lpszLongPath[len] = 0;
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(len);
}

DWORD GetTempPathW(DWORD nBufferLength, LPWSTR lpBuffer) {
  const char* tmp = getenv("TMPDIR");
  std::u16string path = vel::FromUtf8(tmp && *tmp ? tmp : "/tmp");
  if (path.back() != u'/') path += u'/';
  if (!lpBuffer || nBufferLength < path.size() + 1) return static_cast<DWORD>(path.size() + 1);
  std::copy(path.begin(), path.end(), lpBuffer);
  lpBuffer[path.size()] = 0;
  return static_cast<DWORD>(path.size());
}

BOOL FlushFileBuffers(HANDLE hFile) {
  auto f = FileOf(hFile);
  if (!f) return FALSE;
  if (!f->canWrite()) return Fail(ERROR_ACCESS_DENIED);
  while (fsync(f->fd()) != 0) {
    if (errno != EINTR) return Fail(ERROR_WRITE_FAULT);
  }
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

DWORD GetFinalPathNameByHandleW(HANDLE hFile, LPWSTR lpszFilePath, DWORD cchFilePath, DWORD dwFlags) {
  if (dwFlags != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  auto f = FileOf(hFile);
  if (!f) return 0;
  std::string target(4096, '\0');
  const std::string link = "/proc/self/fd/" + std::to_string(f->fd());
  const ssize_t n = readlink(link.c_str(), target.data(), target.size());
  if (n <= 0 || static_cast<size_t>(n) >= target.size() || target[0] != '/') {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return 0;
  }
  target.resize(static_cast<size_t>(n));
  if (target.ends_with(" (deleted)")) {  // the file has no name any more
    SetLastError(ERROR_FILE_NOT_FOUND);
    return 0;
  }
  const std::u16string path = vel::FromUtf8(target);
  if (!lpszFilePath || cchFilePath < path.size() + 1) return static_cast<DWORD>(path.size() + 1);
  std::copy(path.begin(), path.end(), lpszFilePath);
  lpszFilePath[path.size()] = 0;
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(path.size());
}

}  // extern "C"
