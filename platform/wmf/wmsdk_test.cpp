// The Windows Media runtime stand-in's entry points, identifiers and layouts.
#include "platform/wmf/wmsdk.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdlib>

namespace {

TEST(WmsdkTest, FactoriesHandOutObjectsWithTheirInterfaces) {
  EXPECT_EQ(WMCreateEditor(nullptr), E_POINTER);
  EXPECT_EQ(WMCreateSyncReader(nullptr, 0, nullptr), E_POINTER);

  IWMMetadataEditor* editor = nullptr;
  ASSERT_EQ(WMCreateEditor(&editor), S_OK);
  ASSERT_NE(editor, nullptr);
  const IID* editorInterfaces[] = {&IID_IWMMetadataEditor2, &IID_IWMHeaderInfo, &IID_IWMHeaderInfo2,
                                   &IID_IWMHeaderInfo3, &IID_IWMLanguageList, &IID_IWMDRMEditor};
  for (const IID* iid : editorInterfaces) {
    void* p = nullptr;
    EXPECT_EQ(editor->QueryInterface(*iid, &p), S_OK) << iid->Data1;
    if (p) static_cast<IUnknown*>(p)->Release();
  }
  void* none = reinterpret_cast<void*>(0x1);
  EXPECT_EQ(editor->QueryInterface(IID_IWMSyncReader, &none), E_NOINTERFACE);
  // Nothing is open yet.
  EXPECT_EQ(editor->Flush(), NS_E_INVALID_REQUEST);
  EXPECT_EQ(editor->Close(), NS_E_INVALID_REQUEST);
  editor->Release();

  IWMSyncReader* reader = nullptr;
  ASSERT_EQ(WMCreateSyncReader(nullptr, 0, &reader), S_OK);
  void* profile = nullptr;
  EXPECT_EQ(reader->QueryInterface(IID_IWMProfile, &profile), S_OK);
  if (profile) static_cast<IUnknown*>(profile)->Release();
  EXPECT_EQ(reader->Open(u"/no/such/file.wma"), NS_E_FILE_NOT_FOUND);
  reader->Release();

  BOOL isProtected = TRUE;
  EXPECT_EQ(WMIsContentProtected(u"/no/such/file.wma", &isProtected), NS_E_FILE_NOT_FOUND);
  EXPECT_EQ(isProtected, FALSE);
  EXPECT_EQ(WMIsContentProtected(u"/no/such/file.wma", nullptr), E_INVALIDARG);
}

TEST(WmsdkTest, WithoutTheRuntimeNothingIsCreated) {
  ASSERT_EQ(::setenv("VEL_WMF_RUNTIME", "absent", 1), 0);
  auto* staleEditor = reinterpret_cast<IWMMetadataEditor*>(0x1);
  EXPECT_EQ(WMCreateEditor(&staleEditor), E_NOTIMPL);
  EXPECT_EQ(staleEditor, nullptr);
  auto* staleReader = reinterpret_cast<IWMSyncReader*>(0x1);
  EXPECT_EQ(WMCreateSyncReader(nullptr, 0, &staleReader), E_NOTIMPL);
  EXPECT_EQ(staleReader, nullptr);
  BOOL isProtected = TRUE;
  EXPECT_EQ(WMIsContentProtected(u"/no/such/file.wma", &isProtected), E_NOTIMPL);
  EXPECT_EQ(isProtected, FALSE);
  ASSERT_EQ(::unsetenv("VEL_WMF_RUNTIME"), 0);
  IWMMetadataEditor* editor = nullptr;
  ASSERT_EQ(WMCreateEditor(&editor), S_OK);
  editor->Release();
}

struct IidRow {
  const char* name;
  const IID& declared;
  IID platform;
};

TEST(WmsdkTest, InterfacesKeepThePlatformsIdentifiers) {
  const IidRow rows[] = {
      {"IWMMetadataEditor", __uuidof(IWMMetadataEditor),
       {0x96406BD9, 0x2B2B, 0x11D3, {0xB3, 0x6B, 0x00, 0xC0, 0x4F, 0x61, 0x08, 0xFF}}},
      {"IWMMetadataEditor2", __uuidof(IWMMetadataEditor2),
       {0x203CFFE3, 0x2E18, 0x4FDF, {0xB5, 0x9D, 0x6E, 0x71, 0x53, 0x05, 0x34, 0xCF}}},
      {"IWMHeaderInfo", __uuidof(IWMHeaderInfo),
       {0x96406BDA, 0x2B2B, 0x11D3, {0xB3, 0x6B, 0x00, 0xC0, 0x4F, 0x61, 0x08, 0xFF}}},
      {"IWMHeaderInfo2", __uuidof(IWMHeaderInfo2),
       {0x15CF9781, 0x454E, 0x482E, {0xB3, 0x93, 0x85, 0xFA, 0xE4, 0x87, 0xA8, 0x10}}},
      {"IWMHeaderInfo3", __uuidof(IWMHeaderInfo3),
       {0x15CC68E3, 0x27CC, 0x4ECD, {0xB2, 0x22, 0x3F, 0x5D, 0x02, 0xD8, 0x0B, 0xD5}}},
      {"IWMLanguageList", __uuidof(IWMLanguageList),
       {0xDF683F00, 0x2D49, 0x4D8E, {0x92, 0xB7, 0xFB, 0x19, 0xF6, 0xA0, 0xDC, 0x57}}},
      {"IWMDRMEditor", __uuidof(IWMDRMEditor),
       {0xFF130EBC, 0xA6C3, 0x42A6, {0xB4, 0x01, 0xC3, 0x38, 0x2C, 0x3E, 0x08, 0xB3}}},
      {"IWMSyncReader", __uuidof(IWMSyncReader),
       {0x9397F121, 0x7705, 0x4DC9, {0xB0, 0x49, 0x98, 0xB6, 0x98, 0x18, 0x84, 0x14}}},
      {"IWMProfile", __uuidof(IWMProfile),
       {0x96406BDB, 0x2B2B, 0x11D3, {0xB3, 0x6B, 0x00, 0xC0, 0x4F, 0x61, 0x08, 0xFF}}},
      {"IWMStreamConfig", __uuidof(IWMStreamConfig),
       {0x96406BDC, 0x2B2B, 0x11D3, {0xB3, 0x6B, 0x00, 0xC0, 0x4F, 0x61, 0x08, 0xFF}}},
      {"IWMMediaProps", __uuidof(IWMMediaProps),
       {0x96406BCE, 0x2B2B, 0x11D3, {0xB3, 0x6B, 0x00, 0xC0, 0x4F, 0x61, 0x08, 0xFF}}},
      {"WMMEDIATYPE_Audio", WMMEDIATYPE_Audio,
       {0x73647561, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}}},
      {"WMFORMAT_WaveFormatEx", WMFORMAT_WaveFormatEx,
       {0x05589F81, 0xC356, 0x11CE, {0xBF, 0x01, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A}}},
  };
  for (const IidRow& row : rows) EXPECT_TRUE(IsEqualGUID(row.declared, row.platform)) << row.name;
}

TEST(WmsdkTest, PackedStructuresHaveThePlatformLayout) {
  EXPECT_EQ(offsetof(WAVEFORMATEX, nSamplesPerSec), 4u);
  EXPECT_EQ(offsetof(WAVEFORMATEX, nAvgBytesPerSec), 8u);
  EXPECT_EQ(offsetof(WAVEFORMATEX, wBitsPerSample), 14u);
  EXPECT_EQ(sizeof(WAVEFORMATEX), 18u);
  // Packed: no padding after the picture type byte.
  EXPECT_EQ(offsetof(WM_PICTURE, pwszDescription), sizeof(void*) + 1);
  EXPECT_EQ(sizeof(WM_PICTURE), 3 * sizeof(void*) + 1 + 4);
}

}  // namespace
