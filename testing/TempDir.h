// A temporary folder below TMPDIR for one test, removed with everything in it
// when the object goes. Tests write their files here so nothing outlives them.
//
// Thread safety: one object per test; the folder's files are the test's own.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "testing/FileBytes.h"

namespace vel::testing {

class TempDir {
 public:
  // prefix names the folder ("prefix-XXXXXX"), so a left-over folder shows its test.
  explicit TempDir(std::string_view prefix = "veltest");
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // A file in the folder, as narrow (UTF-8) and as wide text.
  std::string File(std::string_view name) const { return (path_ / name).string(); }
  std::u16string WFile(std::string_view name) const;
  std::u16string PathOf(std::string_view name) const { return WFile(name); }
  // Writes bytes to a file in the folder; its path as the code under test takes it.
  std::u16string Write(std::string_view name, const Bytes& bytes) const;

 private:
  std::filesystem::path path_;
};

}  // namespace vel::testing
