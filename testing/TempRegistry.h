// A registry store of a test's own: a temporary folder holding registry.db,
// named by $VEL_REGISTRY while the object lives (the previous value comes back
// afterwards), optionally with in-process servers of this build registered in
// it, so a test reaches them through COM as a host does. The one store set-up
// the test fixtures (TempStore, ModuleStore), the process-wide stores of test
// binaries and the benchmarks share.
//
// Thread safety: make and destroy it on one thread while no other thread uses
// the registry; the environment variable is process-wide.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win32/winbase.h"
#include "testing/TempDir.h"

namespace vel::testing {

// The folder the build puts its binaries and modules in: $VEL_TEST_BIN, or the
// running program's own folder when that is not set (the benchmarks).
std::string TestBinDir();

class TempRegistry {
 public:
  explicit TempRegistry(std::string_view prefix = "velreg");
  // Unloads the registered modules, closes the store, removes the folder and
  // restores $VEL_REGISTRY.
  ~TempRegistry();
  TempRegistry(const TempRegistry&) = delete;
  TempRegistry& operator=(const TempRegistry&) = delete;

  // Loads a module from TestBinDir() (e.g. "libVelItems.so"), keeps it loaded
  // and calls its DllRegisterServer. Empty on success, else what went wrong.
  std::string RegisterModule(std::string_view file);
  // Unloads the modules RegisterModule loaded (before the objects' owners go).
  void UnloadModules();

  const TempDir& folder() const { return dir_; }
  // The folder and the store file as plain paths.
  const std::string& dir() const { return dirText_; }
  const std::string& path() const { return path_; }

 private:
  TempDir dir_;
  std::string dirText_;
  std::string path_;
  std::optional<std::string> previous_;
  std::vector<HMODULE> modules_;
};

}  // namespace vel::testing
