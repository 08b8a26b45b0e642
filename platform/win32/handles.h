// Kernel objects behind HANDLE: one handle table for every kind (mutexes,
// events, threads; files can join later) and the wait machinery they share.
//
// Thread safety: every function here may be called from any thread. Object
// state that waits look at is guarded by WaitLock(); whoever changes it calls
// NotifyWaiters() so blocked waits look again.
#pragma once

#include <chrono>
#include <memory>
#include <mutex>

#include "platform/com/types.h"

namespace vel::win32 {

enum class Claim { kNotSignalled, kAcquired, kAbandoned };

class KernelObject {
 public:
  virtual ~KernelObject() = default;
  // Waits call these under WaitLock().
  virtual bool Waitable() const { return true; }
  // Takes the object for the calling thread when it is signalled (an
  // auto-reset event resets, a mutex gains an owner).
  virtual Claim TryClaim(DWORD threadId) = 0;
  // Gives back a claim that a wait-for-all could not complete.
  virtual void Unclaim(DWORD threadId) {}
  // How often a blocked wait must look again on its own because the object can
  // change without a notification (another process, a thread that died);
  // zero when notifications are enough.
  virtual std::chrono::milliseconds PollInterval() const { return std::chrono::milliseconds(0); }
};

std::mutex& WaitLock();
void NotifyWaiters();

// Adds the object to the table; the returned handle keeps it alive until
// CloseHandle. Null (ERROR_NOT_ENOUGH_MEMORY) only on allocation failure.
HANDLE InsertHandle(std::shared_ptr<KernelObject> object);
// Null when the handle is not in the table.
std::shared_ptr<KernelObject> LookupHandle(HANDLE handle);

template <class T>
std::shared_ptr<T> LookupHandleAs(HANDLE handle) {
  return std::dynamic_pointer_cast<T>(LookupHandle(handle));
}

}  // namespace vel::win32
