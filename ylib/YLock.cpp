#include "ylib/YLock.h"

#include "platform/com/hresult.h"
#include "ylib/YErrorFrame.h"
#include "ylib/YSystem.h"

namespace {
constexpr char16_t kSource[] = u"YLock";
}

CYCOMLock::CYCOMLock() {
  YErrorFrame({u"CYCOMLock::CYCOMLock", kSource, __LINE__}, [&](const YFrame& frame) {
    if (!InitializeCriticalSectionAndSpinCount(&m_cs, 0)) {
      YThrowHr(HRESULT_FROM_WIN32(static_cast<LONG>(GetLastError())), frame);
    }
  });
}

CYCOMLock::~CYCOMLock() { DeleteCriticalSection(&m_cs); }

bool CYCOMLock::Lock() {
  EnterCriticalSection(&m_cs);
  return true;
}

void CYCOMLock::Unlock() { LeaveCriticalSection(&m_cs); }

CYMutexLock::~CYMutexLock() {
  YErrorFrameNoThrow({u"CYMutexLock::~CYMutexLock", kSource, __LINE__}, [&] { Clear(); });
}

void CYMutexLock::Init(std::u16string_view name, bool bGlobal) {
  YErrorFrame({u"CYMutexLock::Init", kSource, __LINE__}, [&](const YFrame& frame) {
    Clear();
    // Named mutexes of the platform are open to every process of the
    // machine, which is what a null DACL grants, so no attributes are needed.
    const std::u16string kernelName = name.empty() ? std::u16string() : CYSystem::MakeKernelObjectName(name, bGlobal);
    HANDLE h = CreateMutexW(nullptr, FALSE, kernelName.empty() ? nullptr : kernelName.c_str());
    if (h == nullptr || h == INVALID_HANDLE_VALUE) YThrowWin32(GetLastError(), frame);
    m_hMutex = h;
  });
}

bool CYMutexLock::Lock() {
  return YErrorFrame({u"CYMutexLock::Lock", kSource, __LINE__}, [&] {
    if (!m_hMutex) Init(u"", true);
    const DWORD result = WaitForSingleObject(m_hMutex, m_timeout);
    if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED) {
      m_locked = true;
      return true;
    }
    return false;
  });
}

void CYMutexLock::Unlock() {
  YErrorFrame({u"CYMutexLock::Unlock", kSource, __LINE__}, [&](const YFrame& frame) {
    if (!m_hMutex) return;
    if (!ReleaseMutex(m_hMutex)) YThrowWin32(GetLastError(), frame);
    m_locked = false;
  });
}

void CYMutexLock::Clear() {
  YErrorFrame({u"CYMutexLock::Clear", kSource, __LINE__}, [&] {
    if (m_hMutex) {
      HANDLE h = m_hMutex;
      m_hMutex = nullptr;
      m_locked = false;
      CloseHandle(h);
    }
  });
}

CYLockHolder::~CYLockHolder() {
  if (!m_locked) return;
  YErrorFrameNoThrow({u"CYLockHolder::~CYLockHolder", kSource, __LINE__}, [&] { m_lock->Unlock(); });
}
