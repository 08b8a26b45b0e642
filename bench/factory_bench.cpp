// CreateWithFile through COM for extensions with one plugin, as a host calls
// it per file: lock, extension lookup, creation through the class-object
// cache. Run with --benchmark_repetitions=10 to see the median.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "module/VelItemPluginsLib.h"
#include "platform/com/combase.h"
#include "platform/com/comdef.h"
#include "platform/registry/store.h"
#include "platform/text.h"
#include "platform/win32/winbase.h"

namespace {

using EntryPoint = HRESULT (*)();

// A fresh store with the modules registered and one factory.
class Setup {
 public:
  Setup() {
    std::string pattern = (std::filesystem::temp_directory_path() / "velfactory-bench-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    dir_ = pattern;
    setenv("VEL_REGISTRY", (dir_ + "/registry.db").c_str(), 1);
    vel::RegistryReset();
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    // The modules are built beside this binary.
    std::u16string self(4096, u'\0');
    self.resize(GetModuleFileNameW(nullptr, self.data(), static_cast<DWORD>(self.size())));
    const std::u16string dir = self.substr(0, self.find_last_of(u'/') + 1);
    for (const char16_t* name : {u"libVelItems.so", u"libVelItemPlugins.so"}) {
      HMODULE h = LoadLibraryW((dir + name).c_str());
      auto reg = h ? reinterpret_cast<EntryPoint>(GetProcAddress(h, "DllRegisterServer")) : nullptr;
      if (!reg || FAILED(reg())) {
        std::fprintf(stderr, "cannot register %s\n", vel::ToUtf8(name).c_str());
        std::abort();
      }
    }
    if (FAILED(CoCreateInstance(CLSID_VelItemPluginFactory, nullptr, CLSCTX_ALL, IID_IVelItemPluginFactory,
                                reinterpret_cast<void**>(&factory))))
      std::abort();
  }
  ~Setup() {
    factory = nullptr;
    vel::RegistryReset();
    std::filesystem::remove_all(dir_);
  }
  ComPtr<IVelItemPluginFactory> factory;

 private:
  std::string dir_;
};

Setup& TheSetup() {
  static Setup setup;
  return setup;
}

void CreateWithFile(benchmark::State& state, const char16_t* path) {
  IVelItemPluginFactory* factory = TheSetup().factory;
  _bstr_t file(path);
  for (auto _ : state) {
    ComPtr<IVelItemPlugin> plugin;
    if (factory->CreateWithFile(file, &plugin) != S_OK || !plugin) state.SkipWithError("no plugin");
    benchmark::DoNotOptimize(plugin.GetInterfacePtr());
  }
}

// The image plugin: nothing to construct beyond the object.
BENCHMARK_CAPTURE(CreateWithFile, jpg, u"/home/u/Pictures/holiday/IMG_0001.JPG");
// The SMS plugin.
BENCHMARK_CAPTURE(CreateWithFile, vmg, u"/home/u/messages/0001.vmg");
// The audio plugin creates a video plugin of its own on construction.
BENCHMARK_CAPTURE(CreateWithFile, mp3, u"/home/u/Music/song.mp3");

}  // namespace

