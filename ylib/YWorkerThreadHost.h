// CYWorkerThreadHost: one worker thread per host object. A derived class
// supplies WorkerProc; the host starts the thread, stops it (stop flag plus
// stop event, then waits for the thread to finish), and keeps the error report
// of a WorkerProc that failed.
//
//   class CMyWorker : public CYWorkerThreadHost {
//     void WorkerProc(void* parameter) override {
//       while (!IsStopRequested()) { ... WaitForSingleObject(GetStopEvent(), 100); }
//     }
//   };
//
// The runner logs "0x%04x\t\tCYWorkerThreadHost::WorkerThreadRunner() Entered\n"
// at level 4; a report leaving WorkerProc is logged at level 2 and kept
// (GetWorkerError). The runner calls CoUninitialize when the procedure ends,
// so a WorkerProc that uses COM calls CoInitializeEx first.
//
// Thread safety: Start/Stop belong to the owner's thread(s), one at a time.
// StopWorkerThread called from the worker itself only asks the thread to stop
// (it cannot wait for itself); the owner's next StopWorkerThread waits for it.
// The worker error is written and read under the host's lock.
#pragma once

#include <atomic>
#include <optional>

#include "platform/com/types.h"
#include "platform/win32/UniqueHandles.h"
#include "ylib/YException.h"
#include "ylib/YLock.h"

class CYWorkerThreadHost {
 public:
  CYWorkerThreadHost() = default;
  virtual ~CYWorkerThreadHost();  // StopWorkerThread; errors are logged and dropped
  CYWorkerThreadHost(const CYWorkerThreadHost&) = delete;
  CYWorkerThreadHost& operator=(const CYWorkerThreadHost&) = delete;

  // Stops a running worker, forgets its error and starts a new thread that
  // runs WorkerProc(parameter). Thread creation failure raises its system text.
  void StartWorkerThread(void* parameter);
  // Asks the worker to stop and waits for it without time limit; then closes
  // the thread's handles.
  void StopWorkerThread();
  // Forgets the stored worker error and clears the running flag.
  void Clear();

  bool IsStopRequested() const noexcept { return m_stopRequested.load(std::memory_order_acquire); }
  bool IsRunning() const noexcept { return m_running.load(std::memory_order_acquire); }
  DWORD GetThreadId() const noexcept { return m_threadId; }
  void SetThreadPriority(int priority) noexcept { m_priority = priority; }

  // The report that ended the last WorkerProc, if it failed.
  std::optional<CYException> GetWorkerError();

 protected:
  virtual void WorkerProc(void* parameter) = 0;

  void SetWorkerError(const CYException& error);
  // Signalled by StopWorkerThread (auto-reset); for WorkerProcs that wait.
  HANDLE GetStopEvent() const noexcept { return m_hStopEvent.get(); }

 private:
  static DWORD WorkerThreadRunner(LPVOID context);
  void CloseHandles() noexcept;

  CYCOMLock m_errorLock;
  std::atomic<bool> m_stopRequested{false};
  std::atomic<bool> m_running{false};
  vel::UniqueHandle m_hStopEvent;
  vel::UniqueHandle m_hDoneEvent;
  vel::UniqueHandle m_hThread;
  std::optional<CYException> m_workerError;
  DWORD m_threadId = 0;
  int m_priority = 0;  // THREAD_PRIORITY_NORMAL
};
