// A second process for the registry tests. Uses the store $VEL_REGISTRY names.
//   registry_test_helper set KEY NAME TEXT     writes a REG_SZ value below HKCU
//   registry_test_helper fill KEY PREFIX COUNT writes COUNT REG_DWORD values PREFIX0...
//   registry_test_helper mkkey KEY             creates a key below HKCU
// Exit status 0 on success, else the first Win32 error (or 100 for bad use).
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/registry/winreg.h"
#include "platform/text.h"

int main(int argc, char** argv) {
  if (argc < 3) return 100;
  const std::string command = argv[1];
  const std::u16string path = vel::FromUtf8(argv[2]);
  HKEY key = nullptr;
  LONG rc = RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
  if (rc != ERROR_SUCCESS) return static_cast<int>(rc);
  if (command == "set" && argc == 5) {
    std::u16string name = vel::FromUtf8(argv[3]);
    std::u16string text = vel::FromUtf8(argv[4]);
    rc = RegSetValueExW(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                        static_cast<DWORD>((text.size() + 1) * 2));
  } else if (command == "fill" && argc == 5) {
    const int count = std::atoi(argv[4]);
    for (int i = 0; i < count && rc == ERROR_SUCCESS; ++i) {
      std::u16string name = vel::FromUtf8(std::string(argv[3]) + std::to_string(i));
      DWORD value = static_cast<DWORD>(i);
      rc = RegSetValueExW(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
    }
  } else if (command != "mkkey") {
    rc = 100;
  }
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS) std::fprintf(stderr, "registry_test_helper: %s failed with %d\n", argv[1], static_cast<int>(rc));
  return static_cast<int>(rc);
}
