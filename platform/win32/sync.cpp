// Mutexes, events and critical sections.
//
// Named objects: a name opens the same object everywhere in this process.
// Mutex names are also shared with other processes of the machine through a
// lock file each, in one folder every user may write to (the platform's
// "anyone may open" security for Global\ names):
//   "Global\NAME"          /tmp/velitems-mutex/g-NAME      (mode 0666, every user)
//   "Local\NAME", "NAME"   /tmp/velitems-mutex/l-UID-NAME  (mode 0600, this user's
//                          processes: the platform's per-session namespace)
// NAME is escaped for the file system ('%XX' for anything but letters, digits,
// '.', '_', '-'); overlong names are replaced by a hash.
//
// A lock file is held with flock(LOCK_EX) by the owning process while some
// thread of it owns the mutex, and then holds "pid tid" as a marker that is
// cleared before the lock is given back. A marker found by whoever gets the
// lock next can only have been left by an owner that died: the mutex is
// abandoned. Within a process the owning thread and its recursion count are
// kept in memory, so threads of one process serialise as well (flock alone
// would treat them as one owner). Every process that has the mutex open holds
// a shared open-file-description lock on the file, so a creator can tell
// whether the mutex already exists elsewhere (ERROR_ALREADY_EXISTS).
// Events are in-process only.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <string>

#include "platform/text.h"
#include "platform/win32/UniquePosix.h"
#include "platform/win32/handles.h"
#include "platform/win32/paths.h"
#include "platform/win32/winbase.h"

namespace vel::win32 {
namespace {

using namespace std::chrono_literals;

bool ThreadAlive(DWORD tid) {
  if (syscall(SYS_tgkill, getpid(), static_cast<pid_t>(tid), 0) == 0) return true;
  return errno != ESRCH;
}

// ---------------------------------------------------------------- mutexes

class Mutex : public KernelObject {
 public:
  Claim TryClaim(DWORD me) override {
    if (owner_ == me) {
      ++count_;
      return Claim::kAcquired;
    }
    if (owner_ != 0) {
      if (ThreadAlive(owner_)) return Claim::kNotSignalled;
      // The owner ended without releasing; the lock of the process (if any)
      // stays with us.
      owner_ = me;
      count_ = 1;
      OwnerChanged();
      return Claim::kAbandoned;
    }
    bool abandoned = false;
    if (!AcquireOutside(&abandoned)) return Claim::kNotSignalled;
    owner_ = me;
    count_ = 1;
    return abandoned ? Claim::kAbandoned : Claim::kAcquired;
  }

  void Unclaim(DWORD me) override { Release(me); }

  std::chrono::milliseconds PollInterval() const override {
    // An in-process owner can die without telling anyone.
    return owner_ != 0 ? 20ms : 0ms;
  }

  // Under WaitLock().
  bool Release(DWORD me) {
    if (owner_ != me || count_ == 0) return false;
    if (--count_ == 0) {
      owner_ = 0;
      ReleaseOutside();
      NotifyWaiters();
    }
    return true;
  }

 protected:
  // The part of ownership that lives outside this process.
  virtual bool AcquireOutside(bool* abandoned) { return true; }
  virtual void ReleaseOutside() {}
  virtual void OwnerChanged() {}

  DWORD owner_ = 0;
  unsigned count_ = 0;
};

class SharedMutex : public Mutex {
 public:
  explicit SharedMutex(UniqueFd fd) : fd_(std::move(fd)) {}
  ~SharedMutex() override {
    // Handles are gone; an owner that closes its last handle gives up the
    // mutex rather than leave it for others to find abandoned.
    if (owner_ != 0) {
      owner_ = 0;
      ReleaseOutside();
    }
  }

  std::chrono::milliseconds PollInterval() const override { return 2ms; }

  // Tells whether another process has the mutex open, and announces that
  // this one has. A mutex no other process has open cannot be owned, so a
  // marker left in its file is stale and cleared.
  bool Announce(bool* existed) {
    struct flock probe{};
    probe.l_type = F_WRLCK;
    probe.l_whence = SEEK_SET;
    probe.l_start = kPresenceOffset;
    probe.l_len = 1;
    *existed = fcntl(fd_.get(), F_OFD_SETLK, &probe) != 0;
    if (!*existed) {
      if (flock(fd_.get(), LOCK_EX | LOCK_NB) == 0) {
        if (ftruncate(fd_.get(), 0) != 0) return false;
        flock(fd_.get(), LOCK_UN);
      }
    }
    struct flock shared = probe;
    shared.l_type = F_RDLCK;
    // Converting our own write lock is atomic; waiting only happens while a
    // creator elsewhere is between its probe and its conversion.
    return fcntl(fd_.get(), F_OFD_SETLKW, &shared) == 0;
  }

 protected:
  bool AcquireOutside(bool* abandoned) override {
    if (flock(fd_.get(), LOCK_EX | LOCK_NB) != 0) return false;
    char marker[64];
    ssize_t n = pread(fd_.get(), marker, sizeof marker, 0);
    *abandoned = n > 0;
    WriteMarker();
    return true;
  }
  void ReleaseOutside() override {
    if (ftruncate(fd_.get(), 0) != 0) {
      // Leaves the marker: the next owner is told the mutex was abandoned,
      // which is the honest answer when its state cannot be kept.
    }
    flock(fd_.get(), LOCK_UN);
  }
  void OwnerChanged() override { WriteMarker(); }

 private:
  static constexpr off_t kPresenceOffset = 1 << 20;

  void WriteMarker() {
    char marker[64];
    int len = std::snprintf(marker, sizeof marker, "%d %u\n", static_cast<int>(getpid()), owner_);
    if (ftruncate(fd_.get(), 0) != 0 || pwrite(fd_.get(), marker, static_cast<size_t>(len), 0) != len) {
      // Without a marker a later owner cannot see that this one died; the
      // mutual exclusion itself is unaffected.
    }
  }

  UniqueFd fd_;
};

// ---------------------------------------------------------------- events

class Event : public KernelObject {
 public:
  Event(bool manual, bool signalled) : manual_(manual), signalled_(signalled) {}
  Claim TryClaim(DWORD) override {
    if (!signalled_) return Claim::kNotSignalled;
    if (!manual_) signalled_ = false;
    return Claim::kAcquired;
  }
  void Unclaim(DWORD) override {
    if (!manual_) signalled_ = true;
  }
  void Set(bool signalled) { signalled_ = signalled; }

 private:
  bool manual_;
  bool signalled_;
};

// ---------------------------------------------------------------- names

struct NameTable {
  std::mutex lock;
  std::map<std::u16string, std::weak_ptr<KernelObject>> objects;
};

NameTable& Names() {
  static NameTable* table = new NameTable;
  return *table;
}

std::string EscapeName(std::u16string_view name) {
  std::string utf8 = vel::ToUtf8(name);
  std::string out;
  for (unsigned char c : utf8) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '_' ||
        c == '-') {
      if (c == '.' && out.empty()) {
        out += "%2E";  // no hidden files, no "." or ".."
      } else {
        out += static_cast<char>(c);
      }
    } else {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", c);
      out += hex;
    }
  }
  if (out.size() > 200) {
    // FNV-1a, 64 bit: stable across processes and builds.
    std::uint64_t h = 1469598103934665603ull;
    for (unsigned char c : utf8) h = (h ^ c) * 1099511628211ull;
    char hashed[40];
    std::snprintf(hashed, sizeof hashed, "%%H%016llx", static_cast<unsigned long long>(h));
    out = out.substr(0, 100) + hashed;
  }
  return out;
}

const char* LockFolder() {
  const char* folder = std::getenv("VEL_MUTEX_DIR");  // tests keep their lock files apart
  return folder && *folder ? folder : "/tmp/velitems-mutex";
}

// Opens (creating when needed) the lock file for a mutex name.
UniqueFd OpenLockFile(std::u16string_view name, DWORD* error) {
  bool global = false;
  if (name.substr(0, 7) == u"Global\\") {
    global = true;
    name.remove_prefix(7);
  } else if (name.substr(0, 6) == u"Local\\") {
    name.remove_prefix(6);
  }
  const std::string folder = LockFolder();
  if (mkdir(folder.c_str(), 01777) == 0) {
    chmod(folder.c_str(), 01777);  // past the umask: every user shares the folder
  } else if (errno != EEXIST) {
    *error = ErrorFromErrno(errno, ERROR_INVALID_FUNCTION);
    return {};
  }
  struct stat st{};
  if (lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    *error = ERROR_PATH_NOT_FOUND;
    return {};
  }
  std::string path = folder + "/";
  path += global ? "g-" : "l-" + std::to_string(getuid()) + "-";
  path += EscapeName(name);
  const mode_t mode = global ? 0666 : 0600;
  UniqueFd fd(open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, mode));
  if (!fd) {
    *error = ErrorFromErrno(errno, ERROR_INVALID_FUNCTION);
    return {};
  }
  if (fstat(fd.get(), &st) == 0 && st.st_uid == getuid() && (st.st_mode & 0777) != mode) fchmod(fd.get(), mode);
  return fd;
}

template <class T>
HANDLE CreateNamed(LPCWSTR name, const std::function<std::shared_ptr<T>(bool* existed, DWORD* error)>& make) {
  NameTable& names = Names();
  std::unique_lock<std::mutex> guard(names.lock);
  std::shared_ptr<KernelObject> object;
  bool existed = false;
  if (name && *name) {
    auto it = names.objects.find(name);
    if (it != names.objects.end()) object = it->second.lock();
    if (object) {
      existed = true;
      if (!std::dynamic_pointer_cast<T>(object)) {
        SetLastError(ERROR_INVALID_HANDLE);  // the name belongs to another kind of object
        return nullptr;
      }
    }
  }
  if (!object) {
    DWORD error = 0;
    object = make(&existed, &error);
    if (!object) {
      SetLastError(error);
      return nullptr;
    }
    if (name && *name) names.objects[name] = object;
  }
  guard.unlock();
  HANDLE h = InsertHandle(object);
  SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return h;
}

}  // namespace
}  // namespace vel::win32

extern "C" {

HANDLE CreateMutexW(SECURITY_ATTRIBUTES*, BOOL bInitialOwner, LPCWSTR lpName) {
  using namespace vel::win32;
  std::shared_ptr<Mutex> created;
  HANDLE h = CreateNamed<Mutex>(lpName, [&](bool* existed, DWORD* error) -> std::shared_ptr<Mutex> {
    if (!lpName || !*lpName) {
      created = std::make_shared<Mutex>();
      return created;
    }
    vel::UniqueFd fd = OpenLockFile(lpName, error);
    if (!fd) return nullptr;
    auto shared = std::make_shared<SharedMutex>(std::move(fd));
    if (!shared->Announce(existed)) {
      *error = ERROR_ACCESS_DENIED;
      return nullptr;
    }
    created = shared;
    return shared;
  });
  if (h && bInitialOwner && created) {
    // An existing mutex ignores the request, as on the platform; a new one
    // that another process still holds (a race with its creator) stays unowned.
    std::lock_guard<std::mutex> lock(WaitLock());
    created->TryClaim(GetCurrentThreadId());
  }
  return h;
}

BOOL ReleaseMutex(HANDLE hMutex) {
  using namespace vel::win32;
  auto m = LookupHandleAs<Mutex>(hMutex);
  if (!m) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  std::lock_guard<std::mutex> lock(WaitLock());
  if (!m->Release(GetCurrentThreadId())) {
    SetLastError(ERROR_NOT_OWNER);
    return FALSE;
  }
  return TRUE;
}

HANDLE CreateEventW(SECURITY_ATTRIBUTES*, BOOL bManualReset, BOOL bInitialState, LPCWSTR lpName) {
  using namespace vel::win32;
  return CreateNamed<Event>(lpName, [&](bool*, DWORD*) {
    return std::make_shared<Event>(bManualReset != FALSE, bInitialState != FALSE);
  });
}

static BOOL SetEventState(HANDLE hEvent, bool signalled) {
  using namespace vel::win32;
  auto e = LookupHandleAs<Event>(hEvent);
  if (!e) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  std::lock_guard<std::mutex> lock(WaitLock());
  e->Set(signalled);
  if (signalled) NotifyWaiters();
  return TRUE;
}

BOOL SetEvent(HANDLE hEvent) { return SetEventState(hEvent, true); }
BOOL ResetEvent(HANDLE hEvent) { return SetEventState(hEvent, false); }

// Critical sections are recursive mutexes owned by the structure.
void InitializeCriticalSection(LPCRITICAL_SECTION cs) { cs->impl = new std::recursive_mutex; }
BOOL InitializeCriticalSectionAndSpinCount(LPCRITICAL_SECTION cs, DWORD) {
  cs->impl = new std::recursive_mutex;
  return TRUE;
}
void EnterCriticalSection(LPCRITICAL_SECTION cs) { static_cast<std::recursive_mutex*>(cs->impl)->lock(); }
BOOL TryEnterCriticalSection(LPCRITICAL_SECTION cs) {
  return static_cast<std::recursive_mutex*>(cs->impl)->try_lock() ? TRUE : FALSE;
}
void LeaveCriticalSection(LPCRITICAL_SECTION cs) { static_cast<std::recursive_mutex*>(cs->impl)->unlock(); }
void DeleteCriticalSection(LPCRITICAL_SECTION cs) {
  delete static_cast<std::recursive_mutex*>(cs->impl);
  cs->impl = nullptr;
}

}  // extern "C"
