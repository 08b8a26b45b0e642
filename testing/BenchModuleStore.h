// The set-up the module benchmarks share: a fresh registry store
// (TempRegistry) with libVelItems.so, libVelItemPlugins.so and libveldshow.so of this build
// registered in it and COM initialised; a benchmark cannot run without them,
// so a failure ends the program with a message.
//
// Thread safety: as TempRegistry; make it before the benchmark threads start.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/com/combase.h"
#include "testing/TempRegistry.h"

namespace vel::testing {

class BenchModuleStore : public TempRegistry {
 public:
  explicit BenchModuleStore(const char* name) : TempRegistry(name) {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    for (const char* module : {"libVelItems.so", "libVelItemPlugins.so", "libveldshow.so"}) {
      const std::string error = RegisterModule(module);
      if (!error.empty()) {
        std::fprintf(stderr, "cannot register %s: %s\n", module, error.c_str());
        std::abort();
      }
    }
  }
};

}  // namespace vel::testing
