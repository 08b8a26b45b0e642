// The Windows Media runtime stand-in: until the runtime is built, neither
// factory creates anything, and both say so.
#include "platform/wmf/wmsdk.h"

#include <gtest/gtest.h>

namespace {

TEST(WmsdkTest, FactoriesCreateNothingYet) {
  auto* staleEditor = reinterpret_cast<IWMMetadataEditor*>(0x1);
  EXPECT_EQ(WMCreateEditor(&staleEditor), E_NOTIMPL);
  EXPECT_EQ(staleEditor, nullptr);
  EXPECT_EQ(WMCreateEditor(nullptr), E_POINTER);

  auto* staleReader = reinterpret_cast<IWMSyncReader*>(0x1);
  EXPECT_EQ(WMCreateSyncReader(nullptr, 0, &staleReader), E_NOTIMPL);
  EXPECT_EQ(staleReader, nullptr);
  EXPECT_EQ(WMCreateSyncReader(nullptr, 0, nullptr), E_POINTER);
}

TEST(WmsdkTest, InterfacesKeepThePlatformsIdentifiers) {
  const IID editor = {0x96406BD9, 0x2B2B, 0x11D3, {0xB3, 0x6B, 0x00, 0xC0, 0x4F, 0x61, 0x08, 0xFF}};
  const IID reader = {0x9397F121, 0x7705, 0x4DC9, {0xB0, 0x49, 0x98, 0xB6, 0x98, 0x18, 0x84, 0x14}};
  EXPECT_TRUE(IsEqualGUID(__uuidof(IWMMetadataEditor), editor));
  EXPECT_TRUE(IsEqualGUID(__uuidof(IWMSyncReader), reader));
}

}  // namespace
