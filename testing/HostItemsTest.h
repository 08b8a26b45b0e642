// Test fixture for code that works on real host items: a fresh registry store
// (TempStore) with this build's libVelItems.so registered in it, so
// CLSID_VelItem creates the host's item.
//
// Thread safety: test set-up; one test at a time.
#pragma once

#include <gtest/gtest.h>

#include "testing/TempStore.h"

namespace vel::testing {

class HostItemsTest : public TempStore {
 protected:
  void SetUp() override {
    TempStore::SetUp();
    ASSERT_EQ(store_->RegisterModule("libVelItems.so"), "");
  }
};

}  // namespace vel::testing
