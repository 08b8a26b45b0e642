// Threads, process and thread ids, sleeping and the performance counter.
#include <pthread.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/win32/handles.h"
#include "platform/win32/winbase.h"

namespace vel::win32 {
namespace {

// Signalled when its thread has returned.
class Thread : public KernelObject {
 public:
  Claim TryClaim(DWORD) override { return done ? Claim::kAcquired : Claim::kNotSignalled; }

  // Guarded by WaitLock().
  DWORD id = 0;
  bool done = false;
  DWORD exitCode = 0;
};

struct Start {
  std::shared_ptr<Thread> thread;
  LPTHREAD_START_ROUTINE routine;
  LPVOID parameter;
};

std::condition_variable& IdPublished() {
  static std::condition_variable* cv = new std::condition_variable;
  return *cv;
}

// Every thread started here stays joinable. Threads whose routine has
// returned are joined by the next CreateThread; at process exit every thread
// is given a short while to end and joined, so none is half torn down while
// exit handlers (the sanitizer build's leak checker among them) run. A
// thread's owner usually learns that its work ended (an event) a moment
// before the routine returns, so the exit handler waits for such threads.
struct Started {
  std::shared_ptr<Thread> thread;
  pthread_t tid;
};
struct Live {
  std::mutex lock;
  std::vector<Started> threads;
};
Live& LiveThreads() {
  static Live* live = new Live;  // used by threads that end after static destruction began
  return *live;
}

void JoinThreads(bool atExit) {
  std::vector<Started> threads;
  {
    std::lock_guard<std::mutex> lock(LiveThreads().lock);
    std::vector<Started> keep;
    for (Started& s : LiveThreads().threads) {
      bool done;
      {
        std::lock_guard<std::mutex> wait(WaitLock());
        done = s.thread->done;
      }
      if ((done || atExit) && !pthread_equal(s.tid, pthread_self())) {
        threads.push_back(s);
      } else {
        keep.push_back(s);
      }
    }
    LiveThreads().threads.swap(keep);
  }
  timespec deadline{};
  clock_gettime(CLOCK_REALTIME, &deadline);
  deadline.tv_nsec += 300 * 1000000L;
  if (deadline.tv_nsec >= 1000000000L) {
    deadline.tv_sec += 1;
    deadline.tv_nsec -= 1000000000L;
  }
  for (const Started& s : threads) {
    // A thread still busy at exit is left running; the process ends it.
    if (!atExit || pthread_timedjoin_np(s.tid, nullptr, &deadline) != 0) {
      if (atExit) continue;
      pthread_join(s.tid, nullptr);
    }
  }
}

void JoinThreadsAtExit() { JoinThreads(true); }

void* Run(void* arg) {
  std::unique_ptr<Start> start(static_cast<Start*>(arg));
  {
    std::lock_guard<std::mutex> lock(WaitLock());
    start->thread->id = GetCurrentThreadId();
  }
  IdPublished().notify_all();
  DWORD code = start->routine(start->parameter);
  {
    std::lock_guard<std::mutex> lock(WaitLock());
    start->thread->exitCode = code;
    start->thread->done = true;
  }
  NotifyWaiters();
  return nullptr;
}

}  // namespace
}  // namespace vel::win32

extern "C" {

HANDLE CreateThread(SECURITY_ATTRIBUTES*, SIZE_T dwStackSize, LPTHREAD_START_ROUTINE lpStartAddress,
                    LPVOID lpParameter, DWORD dwCreationFlags, LPDWORD lpThreadId) {
  using namespace vel::win32;
  constexpr DWORD kCreateSuspended = 0x4;
  if (!lpStartAddress || (dwCreationFlags & kCreateSuspended)) {
    // Nothing here resumes threads, so a suspended start is refused.
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto thread = std::make_shared<Thread>();
  auto* start = new Start{thread, lpStartAddress, lpParameter};
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  static const bool joinAtExit = [] { return std::atexit(JoinThreadsAtExit) == 0; }();
  (void)joinAtExit;
  JoinThreads(false);
  if (dwStackSize != 0) pthread_attr_setstacksize(&attr, std::max<SIZE_T>(dwStackSize, 256 * 1024));
  pthread_t tid;
  int rc = pthread_create(&tid, &attr, Run, start);
  pthread_attr_destroy(&attr);
  if (rc != 0) {
    delete start;
    SetLastError(rc == EAGAIN ? ERROR_NOT_ENOUGH_MEMORY : ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  {
    std::lock_guard<std::mutex> lock(LiveThreads().lock);
    LiveThreads().threads.push_back({thread, tid});
  }
  HANDLE h = InsertHandle(thread);
  if (lpThreadId) {
    std::unique_lock<std::mutex> lock(WaitLock());
    IdPublished().wait(lock, [&] { return thread->id != 0; });
    *lpThreadId = thread->id;
  }
  return h;
}

BOOL SetThreadPriority(HANDLE hThread, int nPriority) {
  // Accepted and not applied: raising a thread's priority needs privileges
  // here, and lowering it could never be undone by an unprivileged process.
  if (!vel::win32::LookupHandle(hThread)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}

DWORD GetCurrentThreadId() {
  thread_local DWORD id = static_cast<DWORD>(syscall(SYS_gettid));
  return id;
}

DWORD GetCurrentProcessId() { return static_cast<DWORD>(getpid()); }

void Sleep(DWORD dwMilliseconds) {
  if (dwMilliseconds == INFINITE) {
    for (;;) pause();
  }
  timespec ts{static_cast<time_t>(dwMilliseconds / 1000), static_cast<long>(dwMilliseconds % 1000) * 1000000L};
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

BOOL QueryPerformanceCounter(LONGLONG* lpPerformanceCount) {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  *lpPerformanceCount = static_cast<LONGLONG>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
  return TRUE;
}

BOOL QueryPerformanceFrequency(LONGLONG* lpFrequency) {
  *lpFrequency = 1000000000LL;
  return TRUE;
}

}  // extern "C"
