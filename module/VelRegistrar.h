// Registration scripts as data: a tree of keys, each with an optional default
// value, named string values, a removal flag and child keys, walked by one
// function in register or unregister mode.
//
//   register:   every key is created (or opened) and gets its values;
//               children follow. A ForceRemove key ends up holding exactly
//               what the script names below it (anything else goes). Only
//               what differs is written, so registering again changes nothing.
//   unregister: ForceRemove keys go with their whole tree; NoRemove keys stay
//               and only their children are visited; any other key loses the
//               values the script names and goes when nothing else is left
//               in it (no subkey, no value), so foreign content survives.
//
// Value texts may hold "%NAME%" placeholders, replaced from a table when the
// script runs ("%MODULE%" -> the module's path, "%APPID%" -> its AppID).
//
// Thread safety: stateless; scripts are immutable values.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/com/hresult.h"
#include "platform/com/types.h"
#include "platform/registry/winreg.h"

enum class VelRegFlag { None, NoRemove, ForceRemove };

struct VelRegValue {
  std::u16string name;
  std::u16string data;  // REG_SZ
};

struct VelRegKey {
  std::u16string name;
  std::optional<std::u16string> defaultValue;
  std::vector<VelRegValue> values;
  VelRegFlag flag = VelRegFlag::None;
  std::vector<VelRegKey> children;
};

struct VelRegScript {
  HKEY root;
  std::vector<VelRegKey> keys;
};

using VelRegReplacements = std::vector<std::pair<std::u16string, std::u16string>>;

// Runs the script; the result is the first failure (as an HRESULT), or S_OK.
// Unregistering a key that is not there is no failure.
HRESULT VelRunRegScript(const VelRegScript& script, bool doRegister, const VelRegReplacements& replacements);

// The text with every placeholder of the table replaced.
std::u16string VelExpandRegText(const std::u16string& text, const VelRegReplacements& replacements);
