// CYRegistry: registry access by one text path whose first component names the
// root ("HKEY_LOCAL_MACHINE\Software\..."). Every key is open only for the
// duration of one call; failures are error reports or, where asked, quiet.
//
// Root names are spelled out and case-sensitive: "HKEY_LOCAL_MACHINE",
// "HKEY_CURRENT_USER", "HKEY_CURRENT_CONFIG", "HKEY_USERS", "HKEY_CLASSES_ROOT";
// anything else (HKLM too) raises "Invalid function parameter." (1010).
//
// Thread safety: no state; any thread.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/registry/winreg.h"
#include "platform/win32/UniqueHandles.h"

struct YRegValueName {
  std::u16string name;
  DWORD type;  // REG_SZ and so on
};

class CYRegistry {
 public:
  // Opens the path component by component from its root, KEY_READ (plus
  // KEY_WOW64_64KEY with bUse64bitHive), the last component also KEY_WRITE
  // with bWrite; with bCreate missing keys are created. On failure without
  // bThrow and bCreate, out is empty and the Win32 result is returned;
  // otherwise the failure raises "Failed to open registry key." (2004).
  static LONG RegOpenRegKey(vel::UniqueHKey& out, std::u16string_view path, bool bThrow, bool bWrite, bool bCreate,
                            bool bUse64bitHive);

  // A REG_SZ or REG_EXPAND_SZ value. With a default (not null) every failure
  // answers the default; without one it raises.
  static std::u16string GetStringValue(std::u16string_view path, const char16_t* valueName,
                                       const char16_t* defaultValue, bool bUse64bitHive = false);
  // A REG_DWORD value; failure answers the default, or raises with bThrow.
  static DWORD GetDWORDValue(std::u16string_view path, const char16_t* valueName, DWORD defaultValue, bool bThrow);

  // Write REG_SZ / REG_DWORD, creating missing keys. A null text raises E_FAIL.
  static void SetValue(std::u16string_view path, const char16_t* valueName, const char16_t* text);
  static void SetValue(std::u16string_view path, const char16_t* valueName, DWORD value);

  // Subkey names in the registry's order; a missing key gives none.
  static std::vector<std::u16string> GetSubKeyNames(std::u16string_view path);
  // Values of the key (type -1: all; else only that type); a missing key gives none.
  static std::vector<YRegValueName> GetValueNames(std::u16string_view path, long type);
  // The key can be opened, and (unless valueName is null) holds that value,
  // the name compared without regard to case.
  static bool Exists(std::u16string_view path, const char16_t* valueName);
};
