// The set-up the module benchmarks share: a fresh registry store in a
// temporary folder with libVelItems.so and libVelItemPlugins.so (built beside
// the benchmark) registered in it, removed again at the end.
#pragma once

#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "platform/com/combase.h"
#include "platform/registry/store.h"
#include "platform/text.h"
#include "platform/win32/winbase.h"

class BenchModuleStore {
 public:
  explicit BenchModuleStore(const char* name) {
    std::string pattern = (std::filesystem::temp_directory_path() / (std::string(name) + "-XXXXXX")).string();
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    dir_ = pattern;
    setenv("VEL_REGISTRY", (dir_ + "/registry.db").c_str(), 1);
    vel::RegistryReset();
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    std::u16string self(4096, u'\0');
    self.resize(GetModuleFileNameW(nullptr, self.data(), static_cast<DWORD>(self.size())));
    const std::u16string dir = self.substr(0, self.find_last_of(u'/') + 1);
    for (const char16_t* module : {u"libVelItems.so", u"libVelItemPlugins.so"}) {
      HMODULE h = LoadLibraryW((dir + module).c_str());
      auto reg = h ? reinterpret_cast<HRESULT (*)()>(GetProcAddress(h, "DllRegisterServer")) : nullptr;
      if (!reg || FAILED(reg())) {
        std::fprintf(stderr, "cannot register %s\n", vel::ToUtf8(module).c_str());
        std::abort();
      }
    }
  }
  ~BenchModuleStore() {
    vel::RegistryReset();
    std::filesystem::remove_all(dir_);
  }
  BenchModuleStore(const BenchModuleStore&) = delete;
  BenchModuleStore& operator=(const BenchModuleStore&) = delete;

  // The temporary folder, for files the benchmark makes.
  const std::string& dir() const { return dir_; }

 private:
  std::string dir_;
};
