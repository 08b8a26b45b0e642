// Control of the process's connection to the registry store, for tests and
// tools. The Reg* functions open the store by themselves on first use.
//
// Thread-safe. RegistryReset must not race a Reg* call that is still using a
// handle the reset closes; it is meant for a test switching $VEL_REGISTRY.
#pragma once

#include <string>

namespace vel {

// Closes the connection and every open key handle (a waiting
// RegNotifyChangeKeyValue returns ERROR_INVALID_HANDLE), so that the next
// Reg* call opens the store named by $VEL_REGISTRY anew.
void RegistryReset();

// How long a write waits for another connection's lock before failing with
// ERROR_BUSY (5000 ms unless changed). Takes effect on the next open.
void RegistrySetBusyTimeout(int milliseconds);

// The file the store lives in: $VEL_REGISTRY, else
// ${XDG_DATA_HOME:-~/.local/share}/velitems/registry.db.
std::string RegistryPath();

}  // namespace vel
