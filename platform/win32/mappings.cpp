// Read-only file mappings and views, with the bus-error guard described in
// mappings.h.
//
// Thread safety: any thread; the table of views is guarded by ViewLock().
#include "platform/win32/mappings.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <utility>

#include "platform/win32/FileObject.h"
#include "platform/win32/UniquePosix.h"
#include "platform/win32/fileapi.h"
#include "platform/win32/fileinfo.h"
#include "platform/win32/handles.h"

namespace vel::win32 {
namespace {

// A mapping keeps its own descriptor, so closing the file handle first is fine.
class MappingObject : public KernelObject {
 public:
  MappingObject(UniqueFd fd, unsigned long long size) : fd_(std::move(fd)), size_(size) {}
  bool Waitable() const override { return false; }
  Claim TryClaim(DWORD) override { return Claim::kNotSignalled; }

  int fd() const { return fd_.get(); }
  unsigned long long size() const { return size_; }

 private:
  UniqueFd fd_;
  unsigned long long size_;
};

// Views by base address, for UnmapViewOfFile, which is given only the address.
std::mutex& ViewLock() {
  static std::mutex lock;
  return lock;
}
std::map<const void*, size_t>& Views() {
  static auto* views = new std::map<const void*, size_t>;  // outlives static destruction
  return *views;
}

// A mapped file cannot be shortened on the platform this layer stands in for,
// so code reading a view relies on its pages staying readable. Here any
// process may shorten the file, and reading a view's page that now lies past
// the file's end raises SIGBUS. Such a page reads as zeros instead: the
// handler puts an anonymous zero page in its place when the fault lies inside
// a live view. A SIGBUS anywhere else goes to the handler installed before.
// The handler reads the table of views without locks; views are entered and
// removed under ViewLock, so that a slot's beginning is set last and cleared
// first.
struct GuardedView {
  std::atomic<std::uintptr_t> begin{0};
  std::atomic<std::uintptr_t> end{0};
};
constexpr int kGuardedViews = 256;  // views beyond these are not guarded
GuardedView g_guardedViews[kGuardedViews];
struct sigaction g_previousBusAction;
std::uintptr_t g_pageSize = 4096;

void OnBusError(int number, siginfo_t* info, void* context) {
  const auto address = reinterpret_cast<std::uintptr_t>(info->si_addr);
  for (GuardedView& view : g_guardedViews) {
    const std::uintptr_t begin = view.begin.load(std::memory_order_acquire);
    if (begin == 0 || address < begin || address >= view.end.load(std::memory_order_acquire)) continue;
    void* page = reinterpret_cast<void*>(address & ~(g_pageSize - 1));
    if (mmap(page, g_pageSize, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) != MAP_FAILED) return;
    break;
  }
  const struct sigaction& previous = g_previousBusAction;
  if ((previous.sa_flags & SA_SIGINFO) != 0 && previous.sa_sigaction != nullptr) {
    previous.sa_sigaction(number, info, context);
  } else if ((previous.sa_flags & SA_SIGINFO) == 0 && previous.sa_handler != SIG_DFL &&
             previous.sa_handler != SIG_IGN) {
    previous.sa_handler(number);
  } else {
    // The default action: delivered as soon as this handler returns.
    signal(SIGBUS, SIG_DFL);
    raise(SIGBUS);
  }
}

void GuardViewPages() {
  static std::once_flag once;
  std::call_once(once, [] {
    g_pageSize = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    struct sigaction action {};
    action.sa_sigaction = OnBusError;
    action.sa_flags = SA_SIGINFO | SA_RESTART;
    sigemptyset(&action.sa_mask);
    sigaction(SIGBUS, &action, &g_previousBusAction);
  });
}

// Both under ViewLock.
void EnterGuardedView(const void* view, size_t length) {
  for (GuardedView& slot : g_guardedViews) {
    if (slot.begin.load(std::memory_order_relaxed) != 0) continue;
    const auto begin = reinterpret_cast<std::uintptr_t>(view);
    slot.end.store(begin + length, std::memory_order_release);
    slot.begin.store(begin, std::memory_order_release);
    return;
  }
}
void RemoveGuardedView(const void* view) {
  for (GuardedView& slot : g_guardedViews) {
    if (slot.begin.load(std::memory_order_relaxed) != reinterpret_cast<std::uintptr_t>(view)) continue;
    slot.begin.store(0, std::memory_order_release);
    slot.end.store(0, std::memory_order_release);
    return;
  }
}

}  // namespace
}  // namespace vel::win32

using namespace vel::win32;

extern "C" {

HANDLE CreateFileMappingW(HANDLE hFile, SECURITY_ATTRIBUTES*, DWORD flProtect, DWORD dwMaximumSizeHigh,
                          DWORD dwMaximumSizeLow, LPCWSTR lpName) {
  if (flProtect != PAGE_READONLY || lpName != nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto f = FileOf(hFile);
  if (!f) return nullptr;
  if (!f->canRead()) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  struct stat st;
  if (fstat(f->fd(), &st) != 0 || !S_ISREG(st.st_mode)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  const unsigned long long fileSize = static_cast<unsigned long long>(st.st_size);
  const unsigned long long asked = (static_cast<unsigned long long>(dwMaximumSizeHigh) << 32) | dwMaximumSizeLow;
  if (asked > fileSize) {  // a read-only mapping cannot grow the file
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  const unsigned long long size = asked == 0 ? fileSize : asked;
  if (size == 0) {
    SetLastError(ERROR_FILE_INVALID);
    return nullptr;
  }
  vel::UniqueFd fd(fcntl(f->fd(), F_DUPFD_CLOEXEC, 0));
  if (!fd) {
    SetLastError(ERROR_TOO_MANY_OPEN_FILES);
    return nullptr;
  }
  HANDLE h = InsertHandle(std::make_shared<MappingObject>(std::move(fd), size));
  if (!h) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  SetLastError(ERROR_SUCCESS);
  return h;
}

LPVOID MapViewOfFile(HANDLE hFileMappingObject, DWORD dwDesiredAccess, DWORD dwFileOffsetHigh, DWORD dwFileOffsetLow,
                     SIZE_T dwNumberOfBytesToMap) {
  auto m = LookupHandleAs<MappingObject>(hFileMappingObject);
  if (!m) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  if (dwDesiredAccess != FILE_MAP_READ) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  const unsigned long long offset = (static_cast<unsigned long long>(dwFileOffsetHigh) << 32) | dwFileOffsetLow;
  const long page = sysconf(_SC_PAGESIZE);
  if (offset % static_cast<unsigned long long>(page) != 0 || offset >= m->size() ||
      dwNumberOfBytesToMap > m->size() - offset) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  const size_t length = dwNumberOfBytesToMap == 0 ? static_cast<size_t>(m->size() - offset) : dwNumberOfBytesToMap;
  GuardViewPages();
  void* view = mmap(nullptr, length, PROT_READ, MAP_SHARED, m->fd(), static_cast<off_t>(offset));
  if (view == MAP_FAILED) {
    SetLastError(errno == ENOMEM ? ERROR_NOT_ENOUGH_MEMORY : ERROR_ACCESS_DENIED);
    return nullptr;
  }
  std::lock_guard<std::mutex> guard(ViewLock());
  Views()[view] = length;
  EnterGuardedView(view, length);
  SetLastError(ERROR_SUCCESS);
  return view;
}

BOOL UnmapViewOfFile(LPCVOID lpBaseAddress) {
  size_t length = 0;
  {
    std::lock_guard<std::mutex> guard(ViewLock());
    auto it = Views().find(lpBaseAddress);
    if (it == Views().end()) return Fail(ERROR_INVALID_PARAMETER);
    length = it->second;
    Views().erase(it);
    RemoveGuardedView(lpBaseAddress);
  }
  munmap(const_cast<void*>(lpBaseAddress), length);
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

}  // extern "C"
