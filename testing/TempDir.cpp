#include "testing/TempDir.h"

#include <stdlib.h>

#include <stdexcept>
#include <system_error>

#include "platform/text.h"

namespace vel::testing {

TempDir::TempDir(std::string_view prefix) {
  std::string pattern = (std::filesystem::temp_directory_path() / (std::string(prefix) + "-XXXXXX")).string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot make a temporary folder " + pattern);
  path_ = pattern;
}

TempDir::~TempDir() {
  // A test may have taken the owner's rights away to provoke a failure.
  std::error_code ignored;
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ignored);
  std::filesystem::remove_all(path_, ignored);
}

std::u16string TempDir::WFile(std::string_view name) const { return vel::FromUtf8(File(name)); }

std::u16string TempDir::Write(std::string_view name, const Bytes& bytes) const {
  if (!WriteBytes(path_ / name, bytes)) throw std::runtime_error("cannot write test file " + File(name));
  return WFile(name);
}

}  // namespace vel::testing
