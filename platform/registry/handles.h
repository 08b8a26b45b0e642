// Key handles: the HKEY values RegOpenKeyExW and RegCreateKeyExW hand out, and
// the wake-up of threads waiting in RegNotifyChangeKeyValue.
//
// Thread-safe. Lock order: the store's connection may be held while taking
// the handle table's lock, never the other way round.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "platform/registry/store_db.h"
#include "platform/registry/winreg.h"

namespace vel::reg {

struct KeyHandle {
  std::int64_t key = 0;  // row id in the keys table
  REGSAM access = 0;     // specific rights, generic ones mapped
  bool closed = false;   // guarded by the handle table's lock
  int waiters = 0;       // threads in WaitForChange on it; guarded by the handle table's lock
  // Where the next wait on this handle starts in the change log: the newest
  // change when the handle was opened, then the newest change a wait
  // reported. So a change made after the open (while a listener thread was
  // still starting) or while the caller handled the previous change is
  // reported too, as the platform keeps a handle's watch armed.
  std::atomic<std::int64_t> reportedSeq{0};
};

struct KeyRef {
  std::shared_ptr<KeyHandle> handle;  // null for a predefined root
  std::int64_t key = 0;
  REGSAM access = 0;
};

// Resolves a predefined root or a handle of ours. HKEY_CLASSES_ROOT needs the
// store (it is a key below HKEY_LOCAL_MACHINE), hence the Db.
LONG ResolveKey(HKEY hKey, Db& db, KeyRef* out);
// A handle with the generic rights in `access` mapped to specific ones.
// `changeSeq` is the newest row of the change log when the handle is opened.
HKEY NewHandle(std::int64_t key, REGSAM access, std::int64_t changeSeq);
// The newest row of the change log (0 when it is empty), or an error.
// fresh: ask the store itself (a change waiter polling), not the in-process image.
LONG NewestChange(Db& db, std::int64_t* seq, bool fresh = false);
LONG CloseKeyHandle(HKEY hKey);
// Closes every handle (waiters return ERROR_INVALID_HANDLE).
void CloseAllHandles();

// Process-wide count of committed writes, for waiters.
std::uint64_t WriteGeneration();
// Sleeps until this process commits a write past *generation, the handle is
// closed, or `ms` pass. False when the handle was closed. Updates *generation.
bool WaitForChange(const std::shared_ptr<KeyHandle>& handle, std::uint64_t* generation, int ms);

}  // namespace vel::reg
