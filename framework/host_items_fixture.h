// Test fixture for framework code that works on real host items: a fresh
// registry store in a temporary folder with libVelItems.so registered in it,
// so CLSID_VelItem creates the host's item. Removed again after each test.
//
// Thread safety: test set-up; one test at a time.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/registry/store.h"
#include "platform/text.h"
#include "platform/win32/winbase.h"

class HostItemsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "velitems-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    setenv("VEL_REGISTRY", (dir_ + "/registry.db").c_str(), 1);
    vel::RegistryReset();
    const char* bin = std::getenv("VEL_TEST_BIN");
    ASSERT_NE(bin, nullptr);
    module_ = LoadLibraryW(vel::FromUtf8(std::string(bin) + "/libVelItems.so").c_str());
    ASSERT_NE(module_, nullptr);
    auto reg = reinterpret_cast<HRESULT (*)()>(GetProcAddress(module_, "DllRegisterServer"));
    ASSERT_NE(reg, nullptr);
    ASSERT_EQ(reg(), S_OK);
  }
  void TearDown() override {
    if (module_) FreeLibrary(module_);
    vel::RegistryReset();
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  std::string dir_;
  HMODULE module_ = nullptr;
};
