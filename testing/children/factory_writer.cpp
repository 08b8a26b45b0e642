// A second process for the factory tests: writes one REG_SZ value below
// HKEY_LOCAL_MACHINE in the store $VEL_REGISTRY names.
//   factory_test_writer KEY NAME TEXT
// Exit status 0 on success, else the Win32 error (100 for bad use).
#include <string>

#include "platform/registry/winreg.h"
#include "platform/text.h"

int main(int argc, char** argv) {
  if (argc != 4) return 100;
  const std::u16string path = vel::FromUtf8(argv[1]);
  const std::u16string name = vel::FromUtf8(argv[2]);
  const std::u16string text = vel::FromUtf8(argv[3]);
  HKEY key = nullptr;
  LONG rc = RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
  if (rc != ERROR_SUCCESS) return static_cast<int>(rc);
  rc = RegSetValueExW(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                      static_cast<DWORD>((text.size() + 1) * 2));
  RegCloseKey(key);
  return static_cast<int>(rc);
}
