#include "platform/registry/update.h"

#include <algorithm>

#include "platform/text.h"

namespace vel {
namespace {

bool Listed(const std::vector<std::u16string>& names, std::u16string_view name) {
  return std::any_of(names.begin(), names.end(), [&](const std::u16string& n) {
    if (n.size() != name.size()) return false;
    for (std::size_t i = 0; i < n.size(); ++i)
      if (FoldCase(n[i]) != FoldCase(name[i])) return false;
    return true;
  });
}

// Names of the key's subkeys or values, read whole before anything is deleted.
LONG Names(HKEY key, bool subkeys, std::vector<std::u16string>* out) {
  for (DWORD index = 0;; ++index) {
    char16_t name[16384];
    DWORD chars = sizeof name / sizeof name[0];
    const LONG rc = subkeys ? RegEnumKeyExW(key, index, name, &chars, nullptr, nullptr, nullptr, nullptr)
                            : RegEnumValueW(key, index, name, &chars, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_NO_MORE_ITEMS) return ERROR_SUCCESS;
    if (rc != ERROR_SUCCESS) return rc;
    out->emplace_back(name, chars);
  }
}

}  // namespace

LONG RegSetTextIfChanged(HKEY key, const char16_t* name, std::u16string_view text) {
  const std::u16string wanted(text);
  const DWORD wantedBytes = static_cast<DWORD>((wanted.size() + 1) * sizeof(char16_t));
  std::u16string current(wanted.size() + 1, u'\0');
  DWORD type = 0;
  DWORD bytes = wantedBytes;
  const LONG rc = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(current.data()), &bytes);
  const std::u16string_view wantedUnits(wanted.c_str(), wanted.size() + 1);  // with its terminator
  if (rc == ERROR_SUCCESS && type == REG_SZ && bytes == wantedBytes && current == wantedUnits) return ERROR_SUCCESS;
  return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(wanted.c_str()), wantedBytes);
}

LONG RegKeepOnly(HKEY key, const std::vector<std::u16string>& subkeys, const std::vector<std::u16string>& values) {
  std::vector<std::u16string> present;
  if (LONG rc = Names(key, true, &present)) return rc;
  for (const std::u16string& name : present) {
    if (Listed(subkeys, name)) continue;
    const LONG rc = RegDeleteTreeW(key, name.c_str());  // the subkey goes with its tree
    if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) return rc;
  }
  present.clear();
  if (LONG rc = Names(key, false, &present)) return rc;
  for (const std::u16string& name : present) {
    if (Listed(values, name)) continue;
    const LONG rc = RegDeleteValueW(key, name.c_str());
    if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) return rc;
  }
  return ERROR_SUCCESS;
}

}  // namespace vel
