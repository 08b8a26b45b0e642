#include "testing/TempRegistry.h"

#include <stdlib.h>

#include <cstdio>
#include <cstdlib>

#include "platform/com/combase.h"
#include "platform/registry/store.h"
#include "platform/text.h"

namespace vel::testing {

std::string TestBinDir() {
  if (const char* bin = std::getenv("VEL_TEST_BIN")) return bin;
  std::u16string self(4096, u'\0');
  self.resize(GetModuleFileNameW(nullptr, self.data(), static_cast<DWORD>(self.size())));
  return vel::ToUtf8(self.substr(0, self.find_last_of(u'/')));
}

TempRegistry::TempRegistry(std::string_view prefix) : dir_(prefix), dirText_(dir_.path().string()) {
  path_ = dirText_ + "/registry.db";
  if (const char* before = std::getenv("VEL_REGISTRY")) previous_ = before;
  setenv("VEL_REGISTRY", path_.c_str(), 1);
  vel::RegistryReset();
}

TempRegistry::~TempRegistry() {
  UnloadModules();
  vel::RegistryReset();
  // A test may have shortened the wait for a locked store.
  vel::RegistrySetBusyTimeout(5000);
  if (previous_) {
    setenv("VEL_REGISTRY", previous_->c_str(), 1);
  } else {
    unsetenv("VEL_REGISTRY");
  }
}

std::string TempRegistry::RegisterModule(std::string_view file) {
  const std::string path = TestBinDir() + "/" + std::string(file);
  HMODULE module = LoadLibraryW(vel::FromUtf8(path).c_str());
  if (module == nullptr) return "cannot load " + path;
  modules_.push_back(module);
  auto reg = reinterpret_cast<HRESULT (*)()>(GetProcAddress(module, "DllRegisterServer"));
  if (reg == nullptr) return path + " has no DllRegisterServer";
  const HRESULT hr = reg();
  if (hr != S_OK) {
    char code[16];
    std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(hr));
    return "DllRegisterServer of " + path + " returned " + code;
  }
  return {};
}

void TempRegistry::UnloadModules() {
  for (HMODULE module : modules_) FreeLibrary(module);
  modules_.clear();
}

}  // namespace vel::testing
