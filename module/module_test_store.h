// Test fixture: a fresh registry store (TempStore) with this build's
// libVelItems.so and libVelItemPlugins.so ($VEL_TEST_BIN) registered in it, so
// a test reaches the plugins through COM as a host does. Derived fixtures
// release their objects before calling TearDown, which unloads the modules.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/com/combase.h"
#include "platform/registry/test_store_fixture.h"
#include "platform/text.h"
#include "platform/win32/winbase.h"

class ModuleStore : public TempStore {
 protected:
  void SetUp() override {
    TempStore::SetUp();
    const char* bin = std::getenv("VEL_TEST_BIN");
    ASSERT_NE(bin, nullptr);
    for (const char* name : {"/libVelItems.so", "/libVelItemPlugins.so"}) {
      HMODULE h = LoadLibraryW(vel::FromUtf8(std::string(bin) + name).c_str());
      ASSERT_NE(h, nullptr) << name;
      modules_.push_back(h);
      auto reg = reinterpret_cast<HRESULT (*)()>(GetProcAddress(h, "DllRegisterServer"));
      ASSERT_NE(reg, nullptr);
      ASSERT_EQ(reg(), S_OK) << name;
    }
  }
  void TearDown() override {
    for (HMODULE h : modules_) FreeLibrary(h);
    modules_.clear();
    TempStore::TearDown();
  }

 private:
  std::vector<HMODULE> modules_;
};
