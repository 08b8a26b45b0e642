// The image plugin as a host sees it: libVelItems.so and libVelItemPlugins.so
// registered into a fresh registry store, the plugin created through COM.
// Keywords run on photos that exiftool tags in the test (skipped without
// ffmpeg and exiftool); storage folders and validation on items built here.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "contract/VelItemPluginsLib.h"
#include "contract/VelItemsLib.h"
#include "platform/com/combase.h"
#include "platform/com/comdef.h"
#include "platform/com/oleauto.h"
#include "platform/text.h"
#include "testing/ChildProcess.h"
#include "testing/FileBytes.h"
#include "testing/ModuleStore.h"
#include "testing/Tools.h"
#include "ylib/YVariant.h"

using namespace vel::testing;

namespace {

std::string ErrorXml() {
  ComPtr<IErrorInfo> info;
  if (GetErrorInfo(0, &info) != S_OK || !info) return "<no error info>";
  _bstr_t description;
  info->GetDescription(description.GetAddress());
  return vel::ToUtf8(std::u16string(description.view()));
}

class ImagePlugin : public ModuleStore {
 protected:
  void SetUp() override {
    ModuleStore::SetUp();
    if (HasFatalFailure()) return;
    ASSERT_EQ(CoCreateInstance(CLSID_VelItemImage, nullptr, CLSCTX_ALL, IID_IVelItemPlugin,
                               reinterpret_cast<void**>(&plugin_)),
              S_OK);
    ASSERT_EQ(plugin_.QueryInterface(image_), S_OK);
  }
  void TearDown() override {
    image_ = nullptr;
    plugin_ = nullptr;
    ModuleStore::TearDown();
  }
  ComPtr<IVelItem> NewItem() {
    ComPtr<IVelItem> item;
    EXPECT_EQ(CoCreateInstance(CLSID_VelItem, nullptr, CLSCTX_ALL, IID_IVelItem, reinterpret_cast<void**>(&item)),
              S_OK);
    return item;
  }
  static void Put(IVelItem* item, const char16_t* name, const _variant_t& value) {
    ComPtr<IVelProperties> properties;
    ASSERT_EQ(item->get_Properties(&properties), S_OK);
    ASSERT_EQ(properties->put_Value(_bstr_t(name), _bstr_t(kCoreNamespace), value), S_OK);
  }
  // A photo tagged by exiftool; empty when the tools are missing.
  std::string Photo(const std::string& name, const std::string& tags) {
    if (!HaveTool("ffmpeg") || !HaveTool("exiftool")) return {};
    const std::string path = dir_ + "/" + name;
    EXPECT_TRUE(RunFfmpeg("-f lavfi -i testsrc=size=64x48 -frames:v 1 -y '" + path + "'"));
    EXPECT_EQ(RunCommand("exiftool -q -overwrite_original " + tags + " '" + path + "'").status, 0);
    return path;
  }
  std::vector<std::u16string> Keywords(const std::string& path) {
    _variant_t keywords;
    EXPECT_EQ(image_->ReadIPTCKeywords(_bstr_t(vel::FromUtf8(path)), keywords.GetAddress()), S_OK) << ErrorXml();
    if (keywords.vt == VT_EMPTY) return {};
    return CYVariant::VariantToStringVector(keywords);
  }

  ComPtr<IVelItemPlugin> plugin_;
  ComPtr<IVelItemImage> image_;
};

TEST_F(ImagePlugin, KeywordsReadReplaceAndClear) {
  const std::string path = Photo("keywords.jpg", "-Keywords=Sea -Keywords=Beach");
  if (path.empty()) GTEST_SKIP() << "ffmpeg or exiftool is not installed";
  EXPECT_EQ(Keywords(path), (std::vector<std::u16string>{u"Sea", u"Beach"}));
  const std::vector<std::u16string> written = {u"Caf\u00E9", u"\u5317\u4EAC", u"Sea"};
  ASSERT_EQ(image_->WriteIPTCKeywords(_bstr_t(vel::FromUtf8(path)), CYVariant::StringVectorToVariant(written)), S_OK)
      << ErrorXml();
  EXPECT_EQ(Keywords(path), written);
  ASSERT_EQ(image_->WriteIPTCKeywords(_bstr_t(vel::FromUtf8(path)), CYVariant::StringVectorToVariant({})), S_OK);
  _variant_t none;
  ASSERT_EQ(image_->ReadIPTCKeywords(_bstr_t(vel::FromUtf8(path)), none.GetAddress()), S_OK);
  EXPECT_EQ(none.vt, VT_EMPTY);
}

TEST_F(ImagePlugin, KeywordCallsThatFail) {
  // A plain text is no keyword list; the file is not touched.
  const std::string path = Photo("plain.jpg", "-Keywords=Sea");
  if (!path.empty()) {
    const Bytes before = ReadBytes(path);
    EXPECT_EQ(image_->WriteIPTCKeywords(_bstr_t(vel::FromUtf8(path)), _variant_t(u"Sea")), kVelErrorHResult);
    EXPECT_NE(ErrorXml().find("<description>Invalid variant type</description>"), std::string::npos) << ErrorXml();
    EXPECT_EQ(ReadBytes(path), before);
  }
  // A missing file fails the read.
  _variant_t keywords(u"stale");
  EXPECT_EQ(image_->ReadIPTCKeywords(_bstr_t(vel::FromUtf8(dir_ + "/missing.jpg")), keywords.GetAddress()),
            kVelErrorHResult);
  EXPECT_EQ(keywords.vt, VT_EMPTY);
  EXPECT_EQ(image_->ReadIPTCKeywords(_bstr_t(u"x.jpg"), nullptr), kVelErrorHResult);
}

TEST_F(ImagePlugin, ItemPathFollowsTheCreationDate) {
  SYSTEMTIME st{};
  st.wYear = 2008;
  st.wMonth = 3;
  st.wDay = 31;
  DATE date = 0;
  SystemTimeToVariantTime(&st, &date);
  ComPtr<IVelItem> item = NewItem();
  Put(item, u"URI", _variant_t(vel::FromUtf8(dir_ + "/none.jpg")));
  Put(item, u"CreationDate", _variant_t(date, VT_DATE));
  _bstr_t folder;
  ASSERT_EQ(plugin_->GetItemPath(item, folder.GetAddress()), S_OK) << ErrorXml();
  EXPECT_EQ(std::u16string(folder.view()), u"2008-03");
}

TEST_F(ImagePlugin, ValidateCallsNonImagesAndMissingFilesCorrupt) {
  struct Row {
    const char* name;
    const char16_t* type;  // null: no ItemType
    std::string uri;
  };
  const Row rows[] = {
      {"video item", u"video/mp4", dir_ + "/clip.mp4"},
      {"missing JPEG", u"image/jpeg", dir_ + "/missing.jpg"},
      {"missing by extension", nullptr, dir_ + "/missing.JPG"},
      {"missing PNG", u"image/png", dir_ + "/missing.png"},
      {"tables-only JPEG", u"image/jpeg", dir_ + "/tables.jpg"},
  };
  // An abbreviated stream: start, one quantisation table, end; no frame.
  std::string tables = "\xFF\xD8\xFF\xDB";
  tables += std::string("\x00\x43\x00", 3) + std::string(64, '\x01') + "\xFF\xD9";
  vel::testing::WriteText(dir_ + "/tables.jpg", tables);
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    ComPtr<IVelItem> item = NewItem();
    Put(item, u"URI", _variant_t(vel::FromUtf8(r.uri)));
    if (r.type) Put(item, u"ItemType", _variant_t(r.type));
    LONG status = -1;
    ASSERT_EQ(plugin_->ValidateItem(item, &status), S_OK) << ErrorXml();
    EXPECT_EQ(status, EVelValidateStatus_FileCorrupt);
  }
  ComPtr<IVelItem> item = NewItem();
  EXPECT_EQ(plugin_->ValidateItem(item, nullptr), kVelErrorHResult);
}

}  // namespace
