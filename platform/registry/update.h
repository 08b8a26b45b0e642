// Changes to the store that write only what differs, for registrations that
// run again and again: a registration run a second time changes nothing, so
// other processes keep their image of the store, their open key handles stay
// valid, and change waiters are not woken for nothing.
//
// Thread-safe as the Reg* functions are.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/registry/winreg.h"

namespace vel {

// Sets a REG_SZ value (name null or empty: the default value) unless it
// already holds exactly that text.
LONG RegSetTextIfChanged(HKEY key, const char16_t* name, std::u16string_view text);

// Deletes every subkey (with its tree) and every value of key whose name is
// not in the lists; names compare without regard to case, and the default
// value is named "".
LONG RegKeepOnly(HKEY key, const std::vector<std::u16string>& subkeys, const std::vector<std::u16string>& values);

}  // namespace vel
