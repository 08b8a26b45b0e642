#include "ylib/YWorkerThreadHost.h"

#include <memory>

#include "platform/com/combase.h"
#include "platform/win32/winbase.h"
#include "ylib/YErrorFrame.h"
#include "ylib/YLogging.h"

namespace {

constexpr char16_t kSource[] = u"YWorkerThreadHost";

struct WorkerContext {
  CYWorkerThreadHost* host;
  void* parameter;
};

// The host whose worker this thread is, so a stop from inside the worker is recognised.
thread_local const CYWorkerThreadHost* t_workerOf = nullptr;

}  // namespace

CYWorkerThreadHost::~CYWorkerThreadHost() {
  YErrorFrameNoThrow({u"CYWorkerThreadHost::~CYWorkerThreadHost", kSource, __LINE__}, [&] { StopWorkerThread(); });
  CloseHandles();
}

void CYWorkerThreadHost::StartWorkerThread(void* parameter) {
  YErrorFrame({u"CYWorkerThreadHost::StartWorkerThread", kSource, __LINE__}, [&](const YFrame& frame) {
    StopWorkerThread();
    Clear();
    m_hStopEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (!m_hStopEvent) YThrowWin32(GetLastError(), frame);
    m_hDoneEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (!m_hDoneEvent) {
      const DWORD error = GetLastError();
      CloseHandles();
      YThrowWin32(error, frame);
    }
    auto context = std::make_unique<WorkerContext>(WorkerContext{this, parameter});
    m_running.store(true, std::memory_order_release);
    m_hThread = CreateThread(nullptr, 0, &CYWorkerThreadHost::WorkerThreadRunner, context.get(), 0, &m_threadId);
    if (!m_hThread) {
      const DWORD error = GetLastError();
      m_running.store(false, std::memory_order_release);
      CloseHandles();
      YThrowWin32(error, frame);
    }
    context.release();  // the runner frees it
    ::SetThreadPriority(m_hThread, m_priority);
  });
}

DWORD CYWorkerThreadHost::WorkerThreadRunner(LPVOID p) {
  std::unique_ptr<WorkerContext> context(static_cast<WorkerContext*>(p));
  CYWorkerThreadHost& host = *context->host;
  t_workerOf = &host;
  CYLogging::Log(kYLogDebug, u"0x%04x\t\tCYWorkerThreadHost::WorkerThreadRunner() Entered\n", GetCurrentThreadId());
  try {
    YErrorFrame({u"CYWorkerThreadHost::WorkerThreadRunner", kSource, __LINE__},
                [&] { host.WorkerProc(context->parameter); });
  } catch (const CYException& x) {
    try {
      // The report's text doubles "%", so it is the format itself and a "%"
      // in a message reaches the log as written.
      CYLogging::Log(kYLogWarning, x.GetText(kYTextForLog) + u"\n");
      host.SetWorkerError(x);
    } catch (...) {
      // Out of memory while reporting: the thread still has to end cleanly.
    }
  }
  CoUninitialize();
  host.m_running.store(false, std::memory_order_release);
  // The host may be gone as soon as the owner sees this event: nothing of it
  // is touched afterwards.
  t_workerOf = nullptr;
  SetEvent(host.m_hDoneEvent);
  return 0;
}

void CYWorkerThreadHost::StopWorkerThread() {
  YErrorFrame({u"CYWorkerThreadHost::StopWorkerThread", kSource, __LINE__}, [&](const YFrame& frame) {
    if (!m_hThread) return;
    m_stopRequested.store(true, std::memory_order_release);
    SetEvent(m_hStopEvent);
    // The worker cannot wait for its own end; it leaves its loop once its
    // current step returns, and the owner's next stop collects it.
    if (t_workerOf == this) return;
    if (WaitForSingleObject(m_hDoneEvent, INFINITE) == WAIT_FAILED) YThrowWin32(GetLastError(), frame);
    CloseHandles();
    m_stopRequested.store(false, std::memory_order_release);
  });
}

void CYWorkerThreadHost::Clear() {
  YErrorFrame({u"CYWorkerThreadHost::Clear", kSource, __LINE__}, [&] {
    {
      CYLockHolder hold(m_errorLock);
      m_workerError.reset();
    }
    m_running.store(false, std::memory_order_release);
  });
}

std::optional<CYException> CYWorkerThreadHost::GetWorkerError() {
  return YErrorFrame({u"CYWorkerThreadHost::GetWorkerError", kSource, __LINE__}, [&] {
    CYLockHolder hold(m_errorLock);
    return m_workerError;
  });
}

void CYWorkerThreadHost::SetWorkerError(const CYException& error) {
  YErrorFrame({u"CYWorkerThreadHost::SetWorkerError", kSource, __LINE__}, [&] {
    CYLockHolder hold(m_errorLock);
    m_workerError = error;
  });
}

void CYWorkerThreadHost::CloseHandles() noexcept {
  for (HANDLE* h : {&m_hThread, &m_hStopEvent, &m_hDoneEvent}) {
    if (*h) CloseHandle(*h);
    *h = nullptr;
  }
  m_threadId = 0;
}
