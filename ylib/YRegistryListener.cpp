#include "ylib/YRegistryListener.h"

#include "platform/com/combase.h"
#include "platform/win32/winbase.h"
#include "ylib/YErrorFrame.h"
#include "ylib/YLogging.h"
#include "ylib/YRegistry.h"

namespace {

constexpr char16_t kSource[] = u"YRegistryListener";

// After a failed wait on a key that still exists, the next try waits this long
// (or until stopped), so a persistent store error does not spin the thread.
constexpr DWORD kRetryDelayMs = 100;

}  // namespace

CYRegistryListener::~CYRegistryListener() {
  YErrorFrameNoThrow(VEL_FRAME(u"CYRegistryListener::~CYRegistryListener"), [&] { StopListening(); });
}

void CYRegistryListener::StartListening(std::u16string_view keyPath, CYRegistryListenerNotify* notify,
                                        bool bWatchSubtree, DWORD notifyFilter) {
  YErrorFrame(VEL_FRAME(u"CYRegistryListener::StartListening"), [&] {
    Clear();
    m_keyPath = keyPath;
    m_watchSubtree = bWatchSubtree;
    m_notifyFilter = notifyFilter;
    m_notify = notify;
    vel::UniqueHKey key;
    CYRegistry::RegOpenRegKey(key, m_keyPath, true, false, false, false);
    m_hKey.store(key.release(), std::memory_order_release);
    m_listening.store(true, std::memory_order_release);
    StartWorkerThread(nullptr);
  });
}

void CYRegistryListener::WorkerProc(void*) {
  YErrorFrame(VEL_FRAME(u"CYRegistryListener::WorkerProc"), [&] {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    while (!IsStopRequested() && m_listening.load(std::memory_order_acquire)) {
      const LONG rc = RegNotifyChangeKeyValue(m_hKey.load(std::memory_order_acquire), m_watchSubtree ? TRUE : FALSE,
                                              m_notifyFilter, nullptr, FALSE);
      if (rc == ERROR_SUCCESS) {
        if (m_notify && m_listening.load(std::memory_order_acquire)) {
          try {
            YErrorFrame(VEL_FRAME(u"CYRegistryListener::WorkerProc"),
                        [&] { m_notify->OnRegistryChange(m_keyPath); });
          } catch (const CYException& x) {
            // The report's text doubles "%": it serves as the format itself.
            CYLogging::Log(kYLogWarning, x.GetText(kYTextForLog) + u"\n");
          }
        }
        continue;
      }
      // A closed handle (stop) ends the loop through the flags above; a
      // deleted key ends the thread here.
      if (!m_listening.load(std::memory_order_acquire) || IsStopRequested()) break;
      if (!CYRegistry::Exists(m_keyPath, nullptr)) return;
      WaitForSingleObject(GetStopEvent(), kRetryDelayMs);
    }
  });
}

void CYRegistryListener::StopListening() {
  YErrorFrame(VEL_FRAME(u"CYRegistryListener::StopListening"), [&] {
    m_listening.store(false, std::memory_order_release);
    // Closing the handle makes a pending synchronous wait return with an error.
    // The worker reads the handle while this thread closes it, so it lives in
    // an atomic rather than an owner; the exchange hands it to one owner here.
    vel::UniqueHKey(m_hKey.exchange(nullptr, std::memory_order_acq_rel)).reset();
    StopWorkerThread();
    if (IsRunning()) return;  // stopped from inside the callback: the thread still uses path and target
    m_keyPath.clear();
    m_notify = nullptr;
  });
}

void CYRegistryListener::Clear() {
  YErrorFrame(VEL_FRAME(u"CYRegistryListener::Clear"), [&] { StopListening(); });
}
