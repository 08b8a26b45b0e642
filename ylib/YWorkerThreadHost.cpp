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
  YErrorFrameNoThrow(VEL_FRAME(u"CYWorkerThreadHost::~CYWorkerThreadHost"), [&] { StopWorkerThread(); });
  CloseHandles();
}

void CYWorkerThreadHost::StartWorkerThread(void* parameter) {
  YErrorFrame(VEL_FRAME(u"CYWorkerThreadHost::StartWorkerThread"), [&](const YFrame& frame) {
    StopWorkerThread();
    Clear();
    m_hStopEvent.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    if (!m_hStopEvent) YThrowWin32(GetLastError(), frame);
    m_hDoneEvent.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    if (!m_hDoneEvent) {
      const DWORD error = GetLastError();
      CloseHandles();
      YThrowWin32(error, frame);
    }
    auto context = std::make_unique<WorkerContext>(WorkerContext{this, parameter});
    m_running.store(true, std::memory_order_release);
    m_hThread.reset(CreateThread(nullptr, 0, &CYWorkerThreadHost::WorkerThreadRunner, context.get(), 0, &m_threadId));
    if (!m_hThread) {
      const DWORD error = GetLastError();
      m_running.store(false, std::memory_order_release);
      CloseHandles();
      YThrowWin32(error, frame);
    }
    context.release();  // the runner frees it
    ::SetThreadPriority(m_hThread.get(), m_priority);
  });
}

DWORD CYWorkerThreadHost::WorkerThreadRunner(LPVOID p) {
  std::unique_ptr<WorkerContext> context(static_cast<WorkerContext*>(p));
  CYWorkerThreadHost& host = *context->host;
  t_workerOf = &host;
  CYLogging::Log(kYLogDebug, u"0x%04x\t\tCYWorkerThreadHost::WorkerThreadRunner() Entered\n", GetCurrentThreadId());
  try {
    YErrorFrame(VEL_FRAME(u"CYWorkerThreadHost::WorkerThreadRunner"),
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
  SetEvent(host.m_hDoneEvent.get());
  return 0;
}

void CYWorkerThreadHost::StopWorkerThread() {
  YErrorFrame(VEL_FRAME(u"CYWorkerThreadHost::StopWorkerThread"), [&](const YFrame& frame) {
    if (!m_hThread) return;
    m_stopRequested.store(true, std::memory_order_release);
    SetEvent(m_hStopEvent.get());
    // The worker cannot wait for its own end; it leaves its loop once its
    // current step returns, and the owner's next stop collects it.
    if (t_workerOf == this) return;
    if (WaitForSingleObject(m_hDoneEvent.get(), INFINITE) == WAIT_FAILED) YThrowWin32(GetLastError(), frame);
    CloseHandles();
    m_stopRequested.store(false, std::memory_order_release);
  });
}

void CYWorkerThreadHost::Clear() {
  YErrorFrame(VEL_FRAME(u"CYWorkerThreadHost::Clear"), [&] {
    {
      CYLockHolder hold(m_errorLock);
      m_workerError.reset();
    }
    m_running.store(false, std::memory_order_release);
  });
}

std::optional<CYException> CYWorkerThreadHost::GetWorkerError() {
  return YErrorFrame(VEL_FRAME(u"CYWorkerThreadHost::GetWorkerError"), [&] {
    CYLockHolder hold(m_errorLock);
    return m_workerError;
  });
}

void CYWorkerThreadHost::SetWorkerError(const CYException& error) {
  YErrorFrame(VEL_FRAME(u"CYWorkerThreadHost::SetWorkerError"), [&] {
    CYLockHolder hold(m_errorLock);
    m_workerError = error;
  });
}

void CYWorkerThreadHost::CloseHandles() noexcept {
  m_hThread.reset();
  m_hStopEvent.reset();
  m_hDoneEvent.reset();
  m_threadId = 0;
}
