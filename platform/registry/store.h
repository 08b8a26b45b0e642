// Control of the process's connection to the registry store, for tests and
// tools. The Reg* functions open the store by themselves on first use.
//
// Thread-safe. RegistryReset must not race a Reg* call that is still using a
// handle the reset closes; it is meant for a test switching $VEL_REGISTRY.
#pragma once

#include <cstdint>
#include <string>

#include "platform/com/types.h"

namespace vel {

// Closes the connection and every open key handle (a waiting
// RegNotifyChangeKeyValue returns ERROR_INVALID_HANDLE), so that the next
// Reg* call opens the store named by $VEL_REGISTRY anew.
void RegistryReset();

// How long a write waits for another connection's lock before failing with
// ERROR_BUSY (5000 ms unless changed). Takes effect on the next open.
void RegistrySetBusyTimeout(int milliseconds);

// Makes the calling thread's Reg* calls between Begin and Commit one store
// transaction: other processes see all of their changes or none, a process
// killed on the way leaves the store as it was, and other threads of this
// process wait until it ends (they would otherwise see or join it). Begin
// waits up to waitMilliseconds for another process's transaction or write to
// finish, so registrations queue instead of failing (ERROR_BUSY after that).
// A Reg* call that fails inside undoes only its own changes; the caller
// decides whether to commit the rest. Destruction without Commit rolls back.
// One transaction per process at a time (ERROR_INVALID_FUNCTION otherwise).
//
// Never wait inside a transaction for another thread that uses the registry.
class RegistryTransaction {
 public:
  RegistryTransaction() = default;
  ~RegistryTransaction();
  RegistryTransaction(const RegistryTransaction&) = delete;
  RegistryTransaction& operator=(const RegistryTransaction&) = delete;

  LONG Begin(int waitMilliseconds = 120'000);
  LONG Commit();
  void Rollback() noexcept;

 private:
  bool open_ = false;
};

// A number that stays the same while this process's image of the store
// stays valid, and changes whenever it is dropped: another process changed
// the store, this process wrote to it, or the store was reset. What a caller
// derived from registry reads made under one number still holds while the
// number is the same. Costs about as little as a read served from memory.
std::uint64_t RegistryImageEpoch();

// The file the store lives in: $VEL_REGISTRY, else
// ${XDG_DATA_HOME:-~/.local/share}/velitems/registry.db.
std::string RegistryPath();

}  // namespace vel
