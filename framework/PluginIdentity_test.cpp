// A plugin's identity answered through PluginIdentity: name, storage folder,
// the capability query, and the error object a null out-parameter leaves.
#include "framework/PluginIdentity.h"

#include <gtest/gtest.h>

#include <string>

#include "contract/VelItemPluginsLib.h"
#include "platform/com/comdef.h"
#include "platform/text.h"
#include "platform/win32/shlobj.h"
#include "ylib/YException.h"

namespace {

using vel::framework::PluginIdentity;

struct Identity {
  const char16_t* className;
  const char16_t* progId;
  const char16_t* name;
  int folder;
};

constexpr Identity kIdentities[] = {
    {u"CVelItemAudio", u"VelItemPlugins.VelItemAudio.1", u"Audio", CSIDL_MYMUSIC},
    {u"CVelItemVideo", u"VelItemPlugins.VelItemVideo.1", u"Video", CSIDL_MYVIDEO},
    {u"CVelItemSMS", u"VelItemPlugins.VelItemSMS.1", u"SMS", 0},
};

TEST(PluginIdentity, AnswersNameFolderAndNoCapability) {
  for (const Identity& row : kIdentities) {
    SCOPED_TRACE(vel::ToUtf8(row.className));
    const PluginIdentity identity(row.className, u"PluginIdentity_test", row.progId, row.name, row.folder);

    _bstr_t name;
    ASSERT_EQ(identity.Name(name.GetAddress()), S_OK);
    EXPECT_EQ(std::u16string(name.view()), row.name);

    BSTR folder = reinterpret_cast<BSTR>(1);
    ASSERT_EQ(identity.CustomStoragePath(&folder), S_OK);
    if (row.folder == 0) {
      EXPECT_EQ(folder, nullptr) << "no folder is the null BSTR";
    } else {
      ASSERT_NE(folder, nullptr);
      EXPECT_GT(SysStringLen(folder), 0u);
    }
    SysFreeString(folder);

    for (LONG capability : {0, 1, 2, -1, 1000}) {
      VARIANT_BOOL answer = VARIANT_TRUE;
      EXPECT_EQ(identity.QueryCapability(capability, &answer), S_OK);
      EXPECT_EQ(answer, VARIANT_FALSE) << capability;
    }
  }
}

TEST(PluginIdentity, NullOutParameterLeavesTheErrorObjectOfThePluginsMethod) {
  const PluginIdentity identity(u"CVelItemVideo", u"PluginIdentity_test", u"VelItemPlugins.VelItemVideo.1", u"Video",
                                CSIDL_MYVIDEO);
  struct Row {
    const char* name;
    HRESULT (PluginIdentity::*call)(BSTR*) const noexcept;
    const char16_t* method;
  };
  const Row rows[] = {
      {"Name", &PluginIdentity::Name, u"CVelItemVideo::get_Name"},
      {"CustomStoragePath", &PluginIdentity::CustomStoragePath, u"CVelItemVideo::get_CustomStoragePath"},
  };
  auto check = [](HRESULT hr, const char16_t* method) {
    EXPECT_EQ(hr, kVelErrorHResult);
    ComPtr<IErrorInfo> info;
    ASSERT_EQ(GetErrorInfo(0, &info), S_OK);
    ASSERT_TRUE(info);
    GUID guid{};
    info->GetGUID(&guid);
    EXPECT_TRUE(guid == IID_IVelItemPlugin);
    _bstr_t source, description;
    info->GetSource(source.GetAddress());
    info->GetDescription(description.GetAddress());
    EXPECT_EQ(std::u16string(source.view()), u"VelItemPlugins.VelItemVideo.1");
    const std::u16string xml(description.view());
    EXPECT_NE(xml.find(method), std::u16string::npos) << vel::ToUtf8(xml);
    EXPECT_NE(xml.find(u"<errorcode>1010</errorcode>"), std::u16string::npos) << vel::ToUtf8(xml);
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    check((identity.*r.call)(nullptr), r.method);
  }
  SCOPED_TRACE("QueryCapability");
  check(identity.QueryCapability(0, nullptr), u"CVelItemVideo::QueryCapability");
}

}  // namespace
