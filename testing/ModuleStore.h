// Test fixture: a fresh registry store (TempStore) with this build's
// libVelItems.so, libVelItemPlugins.so and the media graph the video plugin
// reads with (libveldshow.so) registered in it, so a test reaches
// the plugins through COM as a host does. Derived fixtures release their
// objects before calling TearDown, which unloads the modules.
//
// Thread safety: as TempStore.
#pragma once

#include <gtest/gtest.h>

#include "testing/TempStore.h"

namespace vel::testing {

class ModuleStore : public TempStore {
 protected:
  void SetUp() override {
    TempStore::SetUp();
    for (const char* name : {"libVelItems.so", "libVelItemPlugins.so", "libveldshow.so"}) {
      ASSERT_EQ(store_->RegisterModule(name), "") << name;
    }
  }
  void TearDown() override {
    store_->UnloadModules();
    TempStore::TearDown();
  }
};

}  // namespace vel::testing
