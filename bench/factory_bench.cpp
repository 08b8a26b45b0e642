// CreateWithFile through COM for extensions with one plugin, as a host calls
// it per file: lock, extension lookup, creation through the class-object
// cache. Run with --benchmark_repetitions=10 to see the median.
#include <benchmark/benchmark.h>

#include <string>

#include "module/VelItemPluginsLib.h"
#include "platform/com/combase.h"
#include "platform/com/comdef.h"
#include "testing/BenchModuleStore.h"

using namespace vel::testing;

namespace {

// A fresh store with the modules registered and one factory.
class Setup {
 public:
  Setup() : store_("velfactory-bench") {
    if (FAILED(CoCreateInstance(CLSID_VelItemPluginFactory, nullptr, CLSCTX_ALL, IID_IVelItemPluginFactory,
                                reinterpret_cast<void**>(&factory))))
      std::abort();
  }
  ~Setup() { factory = nullptr; }

 private:
  BenchModuleStore store_;  // first in, last out

 public:
  ComPtr<IVelItemPluginFactory> factory;
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

