// Test-only fixture for framework code that works on real host items: a
// fresh registry store (TempStore) with this build's libVelItems.so
// ($VEL_TEST_BIN) registered in it, so CLSID_VelItem creates the host's item.
// It belongs with the shared test support and moves there once that library
// is on this branch.
//
// Thread safety: test set-up; one test at a time.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/registry/test_store_fixture.h"
#include "platform/text.h"
#include "platform/win32/winbase.h"

class HostItemsTest : public TempStore {
 protected:
  void SetUp() override {
    TempStore::SetUp();
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
    module_ = nullptr;
    TempStore::TearDown();
  }

 private:
  HMODULE module_ = nullptr;
};
