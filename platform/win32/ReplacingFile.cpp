#include "platform/win32/ReplacingFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cctype>
#include <cstring>
#include <mutex>
#include <random>
#include <vector>

#include "platform/text.h"
#include "platform/win32/UniquePosix.h"
#include "platform/win32/paths.h"
#include "platform/win32/winerror.h"

namespace vel {
namespace {

// ---------------------------------------------------------------------------
// Temporary files a signal must not leave behind. A handler may only look at
// plain memory, so the names live in fixed slots: a slot is claimed (1),
// filled, published (2) and given back (0).

constexpr int kSlots = 64;
constexpr std::size_t kSlotPath = 4096;

struct CleanupSlot {
  std::atomic<int> state{0};
  char path[kSlotPath] = {};  // zero like the rest: no code runs at load to set the slots up
};

std::array<CleanupSlot, kSlots> g_slots;
constexpr std::array<int, 3> kSignals = {SIGINT, SIGTERM, SIGHUP};
struct sigaction g_previous[3];
std::once_flag g_handlersOnce;

void RemoveTemporaries(int signal) {
  const int saved = errno;
  for (CleanupSlot& slot : g_slots)
    if (slot.state.load(std::memory_order_acquire) == 2) unlink(slot.path);
  // Hand the signal on as if we had not been there: the previous handler,
  // or the default action (ending the process) raised again.
  for (std::size_t i = 0; i < kSignals.size(); ++i) {
    if (kSignals[i] != signal) continue;
    sigaction(signal, &g_previous[i], nullptr);
    errno = saved;
    raise(signal);
    return;
  }
}

void InstallHandlers() {
  for (std::size_t i = 0; i < kSignals.size(); ++i) {
    struct sigaction previous {};
    if (sigaction(kSignals[i], nullptr, &previous) != 0) continue;
    // A signal the process ignores stays ignored.
    if (!(previous.sa_flags & SA_SIGINFO) && previous.sa_handler == SIG_IGN) continue;
    g_previous[i] = previous;
    struct sigaction action {};
    action.sa_handler = RemoveTemporaries;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND;
    sigaction(kSignals[i], &action, nullptr);
  }
}

// A slot for path, or -1 when all are taken or the name is too long (a later
// writer's sweep removes such a file if its writer is killed).
int ClaimSlot(const std::string& path) {
  std::call_once(g_handlersOnce, InstallHandlers);
  if (path.size() >= kSlotPath) return -1;
  for (int i = 0; i < kSlots; ++i) {
    int expected = 0;
    if (!g_slots[i].state.compare_exchange_strong(expected, 1, std::memory_order_acq_rel)) continue;
    std::memcpy(g_slots[i].path, path.c_str(), path.size() + 1);
    g_slots[i].state.store(2, std::memory_order_release);
    return i;
  }
  return -1;
}

void ReleaseSlot(int slot) {
  if (slot >= 0) g_slots[slot].state.store(0, std::memory_order_release);
}

// ---------------------------------------------------------------------------

constexpr char kTempSuffix[] = ".tmp";
constexpr std::size_t kTempTagLength = 12;  // eight and four hexadecimal digits

std::string TemporaryNameFor(const std::string& target) {
  static std::atomic<unsigned> counter{0};
  static const unsigned salt = std::random_device{}();
  char tag[32];
  std::snprintf(tag, sizeof tag, ".%08x%04x", salt, counter++ & 0xFFFFu);
  return target + tag + kTempSuffix;
}

bool IsTemporaryOf(const std::string& name, const std::string& base) {
  if (name.size() != base.size() + 1 + kTempTagLength + sizeof kTempSuffix - 1) return false;
  if (name.compare(0, base.size(), base) != 0 || name[base.size()] != '.') return false;
  if (!name.ends_with(kTempSuffix)) return false;
  return std::all_of(name.begin() + static_cast<std::ptrdiff_t>(base.size() + 1),
                     name.end() - static_cast<std::ptrdiff_t>(sizeof kTempSuffix - 1),
                     [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; });
}

// Removes temporary files of target whose writer is gone: a living writer
// holds its temporary file's lock. The caller holds target's lock, under which
// alone temporary files of target are created, so none is half made.
void SweepTemporaries(const std::string& target) {
  const std::string folder = win32::ParentOf(target);
  const std::size_t slash = target.rfind('/');
  const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return;
  std::vector<std::string> stale;
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (!IsTemporaryOf(name, base)) continue;
    const int fd = openat(dirfd(dir), name.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) continue;
    struct stat st {};
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && flock(fd, LOCK_EX | LOCK_NB) == 0) stale.push_back(name);
    close(fd);
  }
  for (const std::string& name : stale) unlinkat(dirfd(dir), name.c_str(), 0);
  closedir(dir);
}

// The file a chain of symbolic links ends at; the path itself when it is no
// link or does not exist. A dangling link names the file it would create.
bool ResolveLinks(const std::string& path, std::string& resolved, int& err) {
  resolved = path;
  for (int depth = 0; depth < 40; ++depth) {
    struct stat st {};
    if (lstat(resolved.c_str(), &st) != 0) {
      err = errno;
      return err == ENOENT;
    }
    if (!S_ISLNK(st.st_mode)) return true;
    std::string link(static_cast<std::size_t>(std::max<off_t>(st.st_size, 0)) + 256, '\0');
    const ssize_t n = readlink(resolved.c_str(), link.data(), link.size());
    if (n < 0 || static_cast<std::size_t>(n) >= link.size()) {
      err = n < 0 ? errno : ENAMETOOLONG;
      return false;
    }
    link.resize(static_cast<std::size_t>(n));
    resolved = link.starts_with('/') ? link : win32::ParentOf(resolved) + "/" + link;
  }
  err = ELOOP;
  return false;
}

// Extended attributes of from onto to; one that the caller may not set
// (a namespace reserved to the system) is left out.
void CopyExtendedAttributes(int from, int to) {
  ssize_t size = flistxattr(from, nullptr, 0);
  if (size <= 0) return;
  std::vector<char> names(static_cast<std::size_t>(size));
  size = flistxattr(from, names.data(), names.size());
  if (size <= 0) return;
  std::vector<char> value;
  for (std::size_t at = 0; at < static_cast<std::size_t>(size);) {
    const char* name = names.data() + at;
    at += std::strlen(name) + 1;
    const ssize_t length = fgetxattr(from, name, nullptr, 0);
    if (length < 0) continue;
    value.resize(static_cast<std::size_t>(length));
    if (fgetxattr(from, name, value.data(), value.size()) != length) continue;
    fsetxattr(to, name, value.data(), value.size(), 0);
  }
}

bool WriteAll(int fd, const void* data, std::uint64_t size, int& err) {
  const auto* p = static_cast<const std::uint8_t*>(data);
  while (size > 0) {
    const std::size_t step = static_cast<std::size_t>(std::min<std::uint64_t>(size, 1u << 30));
    const ssize_t n = write(fd, p, step);
    if (n < 0) {
      if (errno == EINTR) continue;
      err = errno;
      return false;
    }
    if (n == 0) {
      err = ENOSPC;
      return false;
    }
    p += n;
    size -= static_cast<std::uint64_t>(n);
  }
  return true;
}

}  // namespace

ReplacingFile::ReplacingFile(std::u16string path) : path_(std::move(path)) {}

ReplacingFile::~ReplacingFile() { Discard(); }

bool ReplacingFile::Fail(DWORD error) {
  error_ = error;
  Discard();
  return false;
}

void ReplacingFile::Discard() noexcept {
  if (tempFd_ >= 0) {
    unlink(nativeTemp_.c_str());
    close(tempFd_);
    tempFd_ = -1;
  }
  ReleaseSlot(slot_);
  slot_ = -1;
  if (lockFd_ >= 0) close(lockFd_);  // releases the lock
  lockFd_ = -1;
  locked_ = false;
  temp_.clear();
  nativeTemp_.clear();
}

ReplacingFile::FileState ReplacingFile::StateOf(const struct stat& st) {
  return FileState{static_cast<std::int64_t>(st.st_size),
                   static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec};
}

bool ReplacingFile::Lock() {
  Discard();
  error_ = 0;
  const win32::MappedPath mapped = win32::MapPath(path_.c_str());
  if (!mapped.ok()) return Fail(mapped.error);
  int err = 0;
  // Lock the file the name leads to; a writer that replaced it while we
  // waited leaves a new file under the name, which is locked in turn.
  for (int attempt = 0;; ++attempt) {
    if (!ResolveLinks(mapped.path, nativeTarget_, err))
      return Fail(win32::ErrorFromErrno(err, mapped.path, ERROR_FILE_EXISTS));
    const int fd = open(nativeTarget_.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) {
      if (errno == ENOENT) {  // a new file: nothing to lock, Commit will not overwrite
        existed_ = false;
        break;
      }
      return Fail(win32::ErrorFromErrno(errno, nativeTarget_, ERROR_FILE_EXISTS));
    }
    lockFd_ = fd;
    struct stat held {};
    if (fstat(fd, &held) != 0) return Fail(win32::ErrorFromErrno(errno, ERROR_ACCESS_DENIED));
    if (S_ISDIR(held.st_mode)) return Fail(ERROR_ACCESS_DENIED);
    if (!S_ISREG(held.st_mode)) return Fail(ERROR_INVALID_FUNCTION);
    while (flock(fd, LOCK_EX) != 0) {
      if (errno != EINTR) return Fail(win32::ErrorFromErrno(errno, ERROR_LOCK_VIOLATION));
    }
    struct stat now {};
    if (stat(nativeTarget_.c_str(), &now) == 0 && now.st_dev == held.st_dev && now.st_ino == held.st_ino) {
      existed_ = true;
      lockedState_ = StateOf(now);
      break;
    }
    close(lockFd_);
    lockFd_ = -1;
    if (attempt > 1000) return Fail(ERROR_SHARING_VIOLATION);
  }
  target_ = FromUtf8(nativeTarget_);
  locked_ = true;
  return true;
}

bool ReplacingFile::Begin() {
  if (!locked_ && !Lock()) return false;
  if (tempFd_ >= 0) return true;
  if (existed_) {
    struct stat st {};
    if (fstat(lockFd_, &st) != 0) return Fail(win32::ErrorFromErrno(errno, ERROR_ACCESS_DENIED));
    // A file without write permission is read-only for everyone, as the
    // platform's read-only attribute is; and the caller must be allowed to
    // write the file itself, not merely to rename in its folder.
    if ((st.st_mode & 0222) == 0) return Fail(ERROR_ACCESS_DENIED);
    if (faccessat(AT_FDCWD, nativeTarget_.c_str(), W_OK, AT_EACCESS) != 0)
      return Fail(win32::ErrorFromErrno(errno, ERROR_ACCESS_DENIED));
    SweepTemporaries(nativeTarget_);
  }
  for (int attempt = 0; attempt < 16; ++attempt) {
    const std::string temp = TemporaryNameFor(nativeTarget_);
    const int fd = open(temp.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return Fail(win32::ErrorFromErrno(errno, temp, ERROR_FILE_EXISTS));
    }
    flock(fd, LOCK_EX | LOCK_NB);  // ours alone: the name is new
    tempFd_ = fd;
    nativeTemp_ = temp;
    temp_ = FromUtf8(temp);
    slot_ = ClaimSlot(temp);
    return true;
  }
  return Fail(ERROR_FILE_EXISTS);
}

bool ReplacingFile::Open() { return Lock() && Begin(); }

bool ReplacingFile::CopyOriginal() {
  if (tempFd_ < 0) return Fail(ERROR_INVALID_HANDLE);
  if (!existed_) return true;
  const int from = open(nativeTarget_.c_str(), O_RDONLY | O_CLOEXEC);
  if (from < 0) return Fail(win32::ErrorFromErrno(errno, nativeTarget_, ERROR_FILE_EXISTS));
  UniqueFd source(from);
  struct stat st {};
  if (fstat(from, &st) != 0) return Fail(win32::ErrorFromErrno(errno, ERROR_READ_FAULT));
  off_t remaining = st.st_size;
  while (remaining > 0) {
    const ssize_t n = copy_file_range(from, nullptr, tempFd_, nullptr, static_cast<std::size_t>(remaining), 0);
    if (n > 0) {
      remaining -= n;
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) break;  // the file became shorter: copy what is there
    if (errno != EXDEV && errno != ENOSYS && errno != EOPNOTSUPP && errno != EINVAL)
      return Fail(win32::ErrorFromErrno(errno, ERROR_WRITE_FAULT));
    // No in-kernel copy here: through a buffer.
    std::vector<std::uint8_t> buffer(1u << 20);
    for (;;) {
      const ssize_t got = read(from, buffer.data(), buffer.size());
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) return Fail(win32::ErrorFromErrno(errno, ERROR_READ_FAULT));
      if (got == 0) break;
      int err = 0;
      if (!WriteAll(tempFd_, buffer.data(), static_cast<std::uint64_t>(got), err))
        return Fail(win32::ErrorFromErrno(err, ERROR_WRITE_FAULT));
    }
    break;
  }
  return true;
}

bool ReplacingFile::CopyOriginalRange(std::uint64_t offset, std::uint64_t size) {
  if (tempFd_ < 0) return error_ == 0 ? Fail(ERROR_INVALID_HANDLE) : false;
  if (size == 0) return true;
  if (!existed_ || lockFd_ < 0) return Fail(ERROR_HANDLE_EOF);
  // Through a buffer of 1 MiB, not copy_file_range: the ranges callers keep
  // start at any byte, where no file system can share blocks, and the
  // kernel's own page copy measured slower than this loop (its fsync too).
  // The locked descriptor is the original; positioned reads leave its offset alone.
  std::vector<std::uint8_t> buffer(static_cast<std::size_t>(std::min<std::uint64_t>(size, 1u << 20)));
  off_t from = static_cast<off_t>(offset);
  std::uint64_t remaining = size;
  while (remaining > 0) {
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(remaining, buffer.size()));
    const ssize_t got = pread(lockFd_, buffer.data(), want, from);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return Fail(win32::ErrorFromErrno(errno, ERROR_READ_FAULT));
    if (got == 0) return Fail(ERROR_HANDLE_EOF);
    int err = 0;
    if (!WriteAll(tempFd_, buffer.data(), static_cast<std::uint64_t>(got), err))
      return Fail(win32::ErrorFromErrno(err, ERROR_WRITE_FAULT));
    from += got;
    remaining -= static_cast<std::uint64_t>(got);
  }
  return true;
}

bool ReplacingFile::Write(const void* data, std::uint64_t size) {
  if (tempFd_ < 0) return error_ == 0 ? Fail(ERROR_INVALID_HANDLE) : false;
  int err = 0;
  if (!WriteAll(tempFd_, data, size, err)) return Fail(win32::ErrorFromErrno(err, ERROR_WRITE_FAULT));
  return true;
}

bool ReplacingFile::Commit() { return CommitImpl(false); }

bool ReplacingFile::CommitAndHold() { return CommitImpl(true); }

bool ReplacingFile::CommitImpl(bool hold) {
  if (tempFd_ < 0) return error_ == 0 ? Fail(ERROR_INVALID_HANDLE) : false;
  if (existed_) {
    struct stat st {};
    if (fstat(lockFd_, &st) != 0) return Fail(win32::ErrorFromErrno(errno, ERROR_ACCESS_DENIED));
    // Owner and group first (a change of owner clears the set-id bits), then
    // the mode. A caller who may not give the file away keeps what it may:
    // the group where it is a member, the permission bits always.
    if (st.st_uid != geteuid() || st.st_gid != getegid()) {
      if (fchown(tempFd_, st.st_uid, st.st_gid) != 0) (void)fchown(tempFd_, static_cast<uid_t>(-1), st.st_gid);
    }
    if (fchmod(tempFd_, st.st_mode & 07777) != 0) return Fail(win32::ErrorFromErrno(errno, ERROR_ACCESS_DENIED));
    CopyExtendedAttributes(lockFd_, tempFd_);
  } else {
    const mode_t mask = umask(0);
    umask(mask);
    (void)fchmod(tempFd_, 0666 & ~mask);
  }
  if (existed_) {
    // Writers that do not take our lock (other programs) may have written the
    // file in place, or put another file under its name, since it was read:
    // replacing it now would throw their change away.
    struct stat held {}, named {};
    if (fstat(lockFd_, &held) != 0 || stat(nativeTarget_.c_str(), &named) != 0 || held.st_dev != named.st_dev ||
        held.st_ino != named.st_ino || StateOf(held) != lockedState_) {
      close(tempFd_);
      tempFd_ = -1;
      unlink(nativeTemp_.c_str());
      return Fail(ERROR_FILE_INVALID);
    }
  }
  // The data must be on the device before the name points at it, or a crash
  // right after the rename could leave an empty or partial file under the
  // original's name.
  if (fsync(tempFd_) != 0) return Fail(win32::ErrorFromErrno(errno, ERROR_WRITE_FAULT));
  // The temporary file's lock is on its open file description: a second
  // descriptor of it keeps the new file locked once it has the name.
  UniqueFd held;
  if (hold) {
    held.reset(fcntl(tempFd_, F_DUPFD_CLOEXEC, 0));
    if (!held.valid()) return Fail(win32::ErrorFromErrno(errno, ERROR_TOO_MANY_OPEN_FILES));
  }
  const int closed = close(tempFd_);
  tempFd_ = -1;
  if (closed != 0) {
    const int err = errno;
    unlink(nativeTemp_.c_str());
    return Fail(win32::ErrorFromErrno(err, ERROR_WRITE_FAULT));
  }
  int renamed;
  if (existed_) {
    renamed = rename(nativeTemp_.c_str(), nativeTarget_.c_str());
  } else {
    // A file that appeared meanwhile is someone else's: never replace it.
    renamed = renameat2(AT_FDCWD, nativeTemp_.c_str(), AT_FDCWD, nativeTarget_.c_str(), RENAME_NOREPLACE);
    if (renamed != 0 && errno == EINVAL) {  // a file system without that flag
      renamed = link(nativeTemp_.c_str(), nativeTarget_.c_str());
      if (renamed == 0) unlink(nativeTemp_.c_str());
    }
  }
  if (renamed != 0) {
    const int err = errno;
    unlink(nativeTemp_.c_str());
    return Fail(win32::ErrorFromErrno(err, nativeTarget_, ERROR_FILE_EXISTS));
  }
  ReleaseSlot(slot_);
  slot_ = -1;
  nativeTemp_.clear();
  temp_.clear();
  // The rename itself must survive a crash too.
  const int folder = open(win32::ParentOf(nativeTarget_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder >= 0) {
    fsync(folder);
    close(folder);
  }
  if (!hold) {
    Discard();
    return true;
  }
  // Locked on the new file now; the old one's lock goes (a writer waiting on
  // it finds another file under the name and waits for this lock instead).
  // (Should fstat fail, the state stays empty: a later Commit then refuses
  // rather than trust an unknown state; this one has happened.)
  struct stat now {};
  (void)fstat(held.get(), &now);
  if (lockFd_ >= 0) close(lockFd_);
  lockFd_ = held.release();
  lockedState_ = StateOf(now);
  existed_ = true;
  locked_ = true;
  return true;
}

}  // namespace vel
