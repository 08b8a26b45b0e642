// CYRegistryListener: watches a registry key on a worker thread and calls a
// CYRegistryListenerNotify whenever something below it changes.
//
//   listener.StartListening(u"HKEY_LOCAL_MACHINE\\Software\\...", &target, true,
//                           REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET);
//   ...                                     // target.OnRegistryChange(path) per completed wait
//   listener.StopListening();               // prompt, also while the thread waits
//
// Each completed wait produces one callback; the wait is issued again only
// after the callback returns, so changes made meanwhile show up as one more
// callback. A report thrown by the callback is logged at level 2 and the
// listener keeps watching. Deleting the watched key ends the thread silently;
// nothing more is reported until StartListening runs again.
//
// Thread safety: OnRegistryChange runs on the listener's thread only; the
// target guards its own state. StartListening and StopListening belong to the
// owner; StopListening from inside the callback only asks the thread to end.
#pragma once

#include <atomic>
#include <string>
#include <string_view>

#include "platform/registry/winreg.h"
#include "ylib/YWorkerThreadHost.h"

class CYRegistryListenerNotify {
 public:
  virtual void OnRegistryChange(const std::u16string& keyPath) = 0;

 protected:
  ~CYRegistryListenerNotify() = default;
};

class CYRegistryListener : public CYWorkerThreadHost {
 public:
  CYRegistryListener() = default;
  ~CYRegistryListener() override;  // StopListening; errors are logged and dropped

  // Stops a previous watch, opens the key (a missing key raises "Failed to
  // open registry key.", 2004) and starts the thread.
  void StartListening(std::u16string_view keyPath, CYRegistryListenerNotify* notify, bool bWatchSubtree,
                      DWORD notifyFilter);
  void StopListening();
  // Same as StopListening.
  void Clear();

  bool IsListening() const noexcept { return m_listening.load(std::memory_order_acquire); }

 protected:
  void WorkerProc(void* parameter) override;

 private:
  // Written by the owner while the worker may be inside the wait: closing the
  // handle is what wakes that wait.
  std::atomic<HKEY> m_hKey{nullptr};
  std::u16string m_keyPath;
  bool m_watchSubtree = true;
  DWORD m_notifyFilter = 0;
  CYRegistryListenerNotify* m_notify = nullptr;
  std::atomic<bool> m_listening{false};
};
