// Locks: CYLock and its two kinds, and the scoped CYLockHolder.
//
//   CYCOMLock   an in-process critical section, recursive for its owner.
//   CYMutexLock a mutex, optionally named and machine-wide ("Global\"), with
//               a wait timeout; a mutex whose owner died counts as obtained.
//
//   CYLockHolder hold(lock);      // Lock() now; Unlock() at scope end only if Lock() said true
//
// Thread safety: a lock object may be used by any number of threads at once,
// except CYMutexLock::Init/Clear/SetTimeout, which must not race with its use.
#pragma once

#include <atomic>
#include <string>
#include <string_view>

#include "platform/com/types.h"
#include "platform/win32/UniqueHandles.h"
#include "platform/win32/winbase.h"

class CYLock {
 public:
  // True when the lock was obtained.
  virtual bool Lock() = 0;
  virtual void Unlock() = 0;
  // Declared after Lock/Unlock: the buffers (YBuf.h) extend this vtable and keep its order.
  virtual ~CYLock() = default;
};

class CYCOMLock : public CYLock {
 public:
  CYCOMLock();  // raises the HRESULT of a failed initialisation
  ~CYCOMLock() override;
  CYCOMLock(const CYCOMLock&) = delete;
  CYCOMLock& operator=(const CYCOMLock&) = delete;

  bool Lock() override;
  void Unlock() override;

 private:
  CRITICAL_SECTION m_cs{};
};

class CYMutexLock : public CYLock {
 public:
  CYMutexLock() = default;
  ~CYMutexLock() override;  // closes the handle
  CYMutexLock(const CYMutexLock&) = delete;
  CYMutexLock& operator=(const CYMutexLock&) = delete;

  // Releases a previous mutex and creates (or opens) the one named
  // CYSystem::MakeKernelObjectName(name, bGlobal); an empty name makes an
  // unnamed mutex. Failure raises the system text with its HRESULT.
  void Init(std::u16string_view name, bool bGlobal);
  // Waits up to the timeout; creates an unnamed mutex first when none exists.
  bool Lock() override;
  // Raises the system text when the mutex cannot be released (not owned).
  void Unlock() override;
  // Closes the mutex (and forgets a lock held through it).
  void Clear() noexcept;

  void SetTimeout(DWORD milliseconds) noexcept { m_timeout = milliseconds; }
  DWORD GetTimeout() const noexcept { return m_timeout; }
  // Set by the last successful Lock, cleared by Unlock; a hint for logs.
  bool IsLocked() const noexcept { return m_locked.load(std::memory_order_relaxed); }

 private:
  DWORD m_timeout = INFINITE;
  vel::UniqueHandle m_hMutex;
  std::atomic<bool> m_locked{false};
};

class CYLockHolder {
 public:
  explicit CYLockHolder(CYLock& lock) : m_lock(&lock) { m_locked = m_lock->Lock(); }
  explicit CYLockHolder(CYLock* lock) : m_lock(lock) { m_locked = m_lock && m_lock->Lock(); }
  ~CYLockHolder();  // Unlock() only when Lock() said true; errors are logged and dropped
  CYLockHolder(const CYLockHolder&) = delete;
  CYLockHolder& operator=(const CYLockHolder&) = delete;

  bool IsLocked() const noexcept { return m_locked; }

 private:
  bool m_locked = false;
  CYLock* m_lock;
};
