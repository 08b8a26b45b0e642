#include "ylib/YLock.h"

#include "platform/com/hresult.h"
#include "ylib/YErrorFrame.h"
#include "ylib/YSystem.h"

namespace {
constexpr char16_t kSource[] = u"YLock";
}

CYCOMLock::CYCOMLock() {
  YErrorFrame(VEL_FRAME(u"CYCOMLock::CYCOMLock"), [&](const YFrame& frame) {
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

CYMutexLock::~CYMutexLock() { Clear(); }

void CYMutexLock::Init(std::u16string_view name, bool bGlobal) {
  YErrorFrame(VEL_FRAME(u"CYMutexLock::Init"), [&](const YFrame& frame) {
    Clear();
    // Named mutexes of the platform are open to every process of the
    // machine, which is what a null DACL grants, so no attributes are needed.
    const std::u16string kernelName = name.empty() ? std::u16string() : CYSystem::MakeKernelObjectName(name, bGlobal);
    vel::UniqueHandle mutex(CreateMutexW(nullptr, FALSE, kernelName.empty() ? nullptr : kernelName.c_str()));
    if (!mutex) YThrowWin32(GetLastError(), frame);
    m_hMutex = std::move(mutex);
  });
}

bool CYMutexLock::Lock() {
  return YErrorFrame(VEL_FRAME(u"CYMutexLock::Lock"), [&] {
    if (!m_hMutex) Init(u"", true);
    const DWORD result = WaitForSingleObject(m_hMutex.get(), m_timeout);
    if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED) {
      m_locked = true;
      return true;
    }
    return false;
  });
}

void CYMutexLock::Unlock() {
  YErrorFrame(VEL_FRAME(u"CYMutexLock::Unlock"), [&](const YFrame& frame) {
    if (!m_hMutex) return;
    if (!ReleaseMutex(m_hMutex.get())) YThrowWin32(GetLastError(), frame);
    m_locked = false;
  });
}

void CYMutexLock::Clear() noexcept {
  if (!m_hMutex) return;
  m_locked = false;
  m_hMutex.reset();
}

CYLockHolder::~CYLockHolder() {
  if (!m_locked) return;
  YErrorFrameNoThrow(VEL_FRAME(u"CYLockHolder::~CYLockHolder"), [&] { m_lock->Unlock(); });
}
