// WithRuntime: the Windows Media runtime is there while the object lives,
// whatever $VEL_WMF_RUNTIME says (tests of the plugin otherwise run as on a
// system without it); the variable is put back afterwards.
//
// Thread safety: changes the process's environment; use it where no other
// thread reads the environment.
#pragma once

#include <cstdlib>
#include <optional>
#include <string>

namespace vel::testing {

class WithRuntime {
 public:
  WithRuntime() {
    if (const char* v = std::getenv("VEL_WMF_RUNTIME")) saved_ = v;
    unsetenv("VEL_WMF_RUNTIME");
  }
  ~WithRuntime() {
    if (saved_) setenv("VEL_WMF_RUNTIME", saved_->c_str(), 1);
  }
  WithRuntime(const WithRuntime&) = delete;
  WithRuntime& operator=(const WithRuntime&) = delete;

 private:
  std::optional<std::string> saved_;
};

}  // namespace vel::testing
