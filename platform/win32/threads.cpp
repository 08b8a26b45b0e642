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

// Threads whose routine has returned but that may still be unwinding. They
// are joined by the next CreateThread and at process exit, so no thread is
// half torn down while exit handlers (a leak checker among them) run.
struct Finished {
  std::mutex lock;
  std::vector<pthread_t> threads;
};
Finished& FinishedThreads() {
  static Finished* finished = new Finished;  // used by exiting threads after static destruction began
  return *finished;
}

void JoinFinished() {
  std::vector<pthread_t> threads;
  {
    std::lock_guard<std::mutex> lock(FinishedThreads().lock);
    threads.swap(FinishedThreads().threads);
  }
  for (pthread_t t : threads) {
    if (pthread_equal(t, pthread_self())) {
      pthread_detach(t);
    } else {
      pthread_join(t, nullptr);
    }
  }
}

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
  {
    std::lock_guard<std::mutex> lock(FinishedThreads().lock);
    FinishedThreads().threads.push_back(pthread_self());
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
  static const bool joinAtExit = [] { return std::atexit(JoinFinished) == 0; }();
  (void)joinAtExit;
  JoinFinished();
  if (dwStackSize != 0) pthread_attr_setstacksize(&attr, std::max<SIZE_T>(dwStackSize, 256 * 1024));
  pthread_t tid;
  int rc = pthread_create(&tid, &attr, Run, start);
  pthread_attr_destroy(&attr);
  if (rc != 0) {
    delete start;
    SetLastError(rc == EAGAIN ? ERROR_NOT_ENOUGH_MEMORY : ERROR_INVALID_PARAMETER);
    return nullptr;
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
