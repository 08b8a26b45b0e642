// libVelItemPlugins.so as a host sees it: registration into a fresh registry
// store, creation of every class through COM, the shared plugin members, and
// failures arriving as 0x80045D53 with the XML report as error info.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "contract/VelItemPluginsLib.h"
#include "platform/com/combase.h"
#include "platform/com/comdef.h"
#include "platform/registry/store.h"
#include "platform/registry/winreg.h"
#include "platform/text.h"
#include "platform/win32/winbase.h"
#include "testing/TempStore.h"

using namespace vel::testing;

namespace {

using EntryPoint = HRESULT (*)();

constexpr char16_t kPluginsKey[] = u"SOFTWARE\\Zandor\\VelPlatform\\ItemPlugins";

std::u16string Guid(const GUID& g) {
  OLECHAR text[40];
  StringFromGUID2(g, text, 40);
  return text;
}

struct Module {
  HMODULE handle = nullptr;
  EntryPoint reg = nullptr;
  EntryPoint unreg = nullptr;
  EntryPoint canUnload = nullptr;
};

Module Load(const std::u16string& path) {
  Module m;
  m.handle = LoadLibraryW(path.c_str());
  if (!m.handle) return m;
  m.reg = reinterpret_cast<EntryPoint>(GetProcAddress(m.handle, "DllRegisterServer"));
  m.unreg = reinterpret_cast<EntryPoint>(GetProcAddress(m.handle, "DllUnregisterServer"));
  m.canUnload = reinterpret_cast<EntryPoint>(GetProcAddress(m.handle, "DllCanUnloadNow"));
  return m;
}

// Subkey names of root\path in enumeration order; empty when the key is missing.
std::vector<std::u16string> SubKeys(HKEY root, const std::u16string& path, bool* exists = nullptr) {
  std::vector<std::u16string> names;
  HKEY key = nullptr;
  LSTATUS rc = RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key);
  if (exists) *exists = rc == ERROR_SUCCESS;
  if (rc != ERROR_SUCCESS) return names;
  for (DWORD i = 0;; ++i) {
    char16_t name[256];
    DWORD size = 256;
    if (RegEnumKeyExW(key, i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    names.emplace_back(name, size);
  }
  RegCloseKey(key);
  return names;
}

// "name=data" of every string value of root\path, in enumeration order.
std::vector<std::u16string> Values(HKEY root, const std::u16string& path) {
  std::vector<std::u16string> out;
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return out;
  for (DWORD i = 0;; ++i) {
    char16_t name[256];
    DWORD nameSize = 256;
    char16_t data[1024];
    DWORD dataSize = sizeof data;
    DWORD type = 0;
    if (RegEnumValueW(key, i, name, &nameSize, nullptr, &type, reinterpret_cast<BYTE*>(data), &dataSize) !=
        ERROR_SUCCESS)
      break;
    std::u16string text(data, dataSize / 2);
    if (!text.empty() && text.back() == 0) text.pop_back();
    out.push_back(std::u16string(name, nameSize) + u"=" + text);
  }
  RegCloseKey(key);
  return out;
}

// A value's text, or "<missing>".
std::u16string Value(HKEY root, const std::u16string& path, const char16_t* name = nullptr) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return u"<missing>";
  char16_t data[1024];
  DWORD size = sizeof data;
  DWORD type = 0;
  LSTATUS rc = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS) return u"<missing>";
  std::u16string text(data, size / 2);
  if (!text.empty() && text.back() == 0) text.pop_back();
  return text;
}

bool KeyExists(HKEY root, const std::u16string& path) {
  bool exists = false;
  SubKeys(root, path, &exists);
  return exists;
}

std::string Narrow(const std::u16string& s) { return vel::ToUtf8(s); }

struct ClassCase {
  const char* name;
  const CLSID* clsid;
  const char16_t* coclass;
  const char16_t* threading;
};
const ClassCase kClasses[] = {
    {"factory", &CLSID_VelItemPluginFactory, u"VelItemPluginFactory", u"Free"},
    {"image", &CLSID_VelItemImage, u"VelItemImage", u"Free"},
    {"audio", &CLSID_VelItemAudio, u"VelItemAudio", u"Free"},
    {"video", &CLSID_VelItemVideo, u"VelItemVideo", u"Both"},
    {"mms", &CLSID_VelItemMMS, u"VelItemMMS", u"Free"},
    {"sms", &CLSID_VelItemSMS, u"VelItemSMS", u"Free"},
};

class ModuleServer : public TempStore {
 protected:
  void SetUp() override {
    TempStore::SetUp();
    std::filesystem::create_directories(dir_ + "/config");
    std::ofstream(dir_ + "/config/user-dirs.dirs") << "XDG_MUSIC_DIR=\"" << dir_ << "/Tunes\"\n"
                                                    << "XDG_VIDEOS_DIR=\"" << dir_ << "/Films\"\n"
                                                    << "XDG_PICTURES_DIR=\"" << dir_ << "/Photos\"\n";
    setenv("XDG_CONFIG_HOME", (dir_ + "/config").c_str(), 1);
    const char* bin = std::getenv("VEL_TEST_BIN");
    ASSERT_NE(bin, nullptr);
    pluginsPath_ = vel::FromUtf8(std::string(bin) + "/libVelItemPlugins.so");
    plugins_ = Load(pluginsPath_);
    ASSERT_NE(plugins_.reg, nullptr);
    ASSERT_NE(plugins_.unreg, nullptr);
    ASSERT_NE(plugins_.canUnload, nullptr);
    items_ = Load(vel::FromUtf8(std::string(bin) + "/libVelItems.so"));
    ASSERT_NE(items_.reg, nullptr);
  }
  void TearDown() override {
    if (plugins_.handle) FreeLibrary(plugins_.handle);
    if (items_.handle) FreeLibrary(items_.handle);
    TempStore::TearDown();
  }
  void RegisterBoth() {
    ASSERT_EQ(items_.reg(), S_OK);
    ASSERT_EQ(plugins_.reg(), S_OK);
  }
  template <class I>
  ComPtr<I> Create(const CLSID& clsid) {
    ComPtr<I> p;
    EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_ALL, __uuidof(I), reinterpret_cast<void**>(&p)), S_OK);
    return p;
  }

  std::u16string pluginsPath_;
  Module plugins_;
  Module items_;
};

TEST_F(ModuleServer, RegistrationWritesTheClassesAndThePluginConfiguration) {
  RegisterBoth();
  const std::u16string appId = Guid(APPID_VelItemPlugins);
  const std::u16string libId = Guid(LIBID_VelItemPluginsLib);
  EXPECT_EQ(Value(HKEY_CLASSES_ROOT, u"AppID\\" + appId), u"VelItemPlugins");
  EXPECT_EQ(Value(HKEY_CLASSES_ROOT, u"AppID\\VelItemPlugins.DLL", u"AppID"), appId);

  for (const ClassCase& c : kClasses) {
    SCOPED_TRACE(c.name);
    const std::u16string clsid = Guid(*c.clsid);
    const std::u16string progId = u"VelItemPlugins." + std::u16string(c.coclass);
    const std::u16string description = std::u16string(c.coclass) + u" Class";
    const std::u16string key = u"CLSID\\" + clsid;
    EXPECT_EQ(Value(HKEY_CLASSES_ROOT, progId + u".1"), description);
    EXPECT_EQ(Value(HKEY_CLASSES_ROOT, progId + u".1\\CLSID"), clsid);
    EXPECT_EQ(Value(HKEY_CLASSES_ROOT, progId), description);
    EXPECT_EQ(Value(HKEY_CLASSES_ROOT, progId + u"\\CLSID"), clsid);
    EXPECT_EQ(Value(HKEY_CLASSES_ROOT, progId + u"\\CurVer"), progId + u".1");
    EXPECT_EQ(Value(HKEY_CLASSES_ROOT, key), description);
    EXPECT_EQ(Value(HKEY_CLASSES_ROOT, key, u"AppID"), appId);
    EXPECT_EQ(Value(HKEY_CLASSES_ROOT, key + u"\\ProgID"), progId + u".1");
    EXPECT_EQ(Value(HKEY_CLASSES_ROOT, key + u"\\VersionIndependentProgID"), progId);
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, key + u"\\Programmable"));
    EXPECT_EQ(Value(HKEY_CLASSES_ROOT, key + u"\\InprocServer32"), pluginsPath_);
    EXPECT_EQ(Value(HKEY_CLASSES_ROOT, key + u"\\InprocServer32", u"ThreadingModel"), c.threading);
    EXPECT_EQ(Value(HKEY_CLASSES_ROOT, key + u"\\TypeLib"), libId);
  }

  // Five plugins, the audio plugin enumerated before the video plugin; the factory has no configuration.
  const std::vector<std::u16string> expectedKeys = {Guid(CLSID_VelItemImage), Guid(CLSID_VelItemSMS),
                                                    Guid(CLSID_VelItemMMS), Guid(CLSID_VelItemAudio),
                                                    Guid(CLSID_VelItemVideo)};
  EXPECT_EQ(SubKeys(HKEY_LOCAL_MACHINE, kPluginsKey), expectedKeys);
  struct Config {
    const CLSID* clsid;
    std::vector<std::u16string> values;
  };
  const Config configs[] = {
      {&CLSID_VelItemImage,
       {u"SupportedMIMEs=image/jpeg", u".jpg=image/jpeg", u".jpeg=image/jpeg", u".jif=image/jpeg", u".bmp=image/bmp",
        u".gif=image/gif", u".png=image/png", u".tif=image/tiff", u".tiff=image/tiff"}},
      {&CLSID_VelItemAudio,
       {u"SupportedMIMEs=audio/amr|audio/m4a|audio/mp4|audio/aac|audio/asf|audio/mpeg|audio/wav|audio/x-ms-wma|"
        u"audio/3gpp|audio/3gpp2",
        u".amr=audio/amr", u".m4a=audio/mp4", u".mp4=audio/mp4", u".aac=audio/aac", u".asf=audio/asf",
        u".mp3=audio/mpeg", u".wav=audio/wav", u".wma=audio/x-ms-wma", u".3gp=audio/3gpp", u".3g2=audio/3gpp2"}},
      {&CLSID_VelItemVideo,
       {u"SupportedMIMEs=video/3gpp2|video/3gpp|video/mp4|video/avi|video/mpeg|video/x-ms-wmv|video/asf",
        u".3g2=video/3gpp2", u".3gp2=video/3gpp2", u".3gp=video/3gpp", u".3gpp=video/3gpp", u".mp4=video/mp4",
        u".mpg4=video/mp4", u".avi=video/avi", u".asf=video/asf", u".m1v=video/mpeg", u".m2v=video/mpeg",
        u".mp2=video/mpeg", u".mp2v=video/mpeg", u".mpv2=video/mpeg", u".mpa=video/mpeg", u".mpe=video/mpeg",
        u".mpeg=video/mpeg", u".mpg=video/mpeg", u".wmv=video/x-ms-wmv"}},
      {&CLSID_VelItemMMS,
       {u"SupportedMIMEs=application/vnd.zandor.vexa.mms", u".mms=application/vnd.zandor.vexa.mms"}},
      {&CLSID_VelItemSMS,
       {u"SupportedMIMEs=application/vnd.zandor.vexa.sms", u".vmg=application/vnd.zandor.vexa.sms"}},
  };
  for (const Config& c : configs) {
    SCOPED_TRACE(Narrow(Guid(*c.clsid)));
    EXPECT_EQ(Values(HKEY_LOCAL_MACHINE, std::u16string(kPluginsKey) + u"\\" + Guid(*c.clsid)), c.values);
  }

  // The type library and its interfaces.
  const std::u16string lib = u"TypeLib\\" + libId + u"\\1.0";
  EXPECT_EQ(Value(HKEY_CLASSES_ROOT, lib), u"VelItemPlugins 1.0 Type Library");
  EXPECT_EQ(Value(HKEY_CLASSES_ROOT, lib + u"\\409\\linux64"), pluginsPath_);
  EXPECT_EQ(Value(HKEY_CLASSES_ROOT, lib + u"\\FLAGS"), u"0");
  EXPECT_EQ(Value(HKEY_CLASSES_ROOT, lib + u"\\HELPDIR"),
            pluginsPath_.substr(0, pluginsPath_.find_last_of(u'/')));
  for (const VelTypeLibInterface& itf : kVelItemPluginsInterfaces) {
    const std::u16string key = u"Interface\\" + Guid(*itf.iid);
    SCOPED_TRACE(Narrow(itf.name));
    EXPECT_EQ(Value(HKEY_CLASSES_ROOT, key), itf.name);
    EXPECT_EQ(Value(HKEY_CLASSES_ROOT, key + u"\\ProxyStubClsid32"), u"{00020424-0000-0000-C000-000000000046}");
    EXPECT_EQ(Value(HKEY_CLASSES_ROOT, key + u"\\TypeLib"), libId);
    EXPECT_EQ(Value(HKEY_CLASSES_ROOT, key + u"\\TypeLib", u"Version"), u"1.0");
  }
}

TEST_F(ModuleServer, ReRegistrationReplacesAPluginsConfigurationAsAWhole) {
  RegisterBoth();
  const std::u16string audio = std::u16string(kPluginsKey) + u"\\" + Guid(CLSID_VelItemAudio);
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, audio.c_str(), 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
  const std::u16string stale = u"audio/stale";
  RegSetValueExW(key, u".old", 0, REG_SZ, reinterpret_cast<const BYTE*>(stale.c_str()),
                 static_cast<DWORD>((stale.size() + 1) * 2));
  RegCloseKey(key);
  ASSERT_EQ(plugins_.reg(), S_OK);
  EXPECT_EQ(Value(HKEY_LOCAL_MACHINE, audio, u".old"), u"<missing>");
  EXPECT_EQ(Value(HKEY_LOCAL_MACHINE, audio, u".m4a"), u"audio/mp4");
}

TEST_F(ModuleServer, UnregistrationRemovesWhatItWroteAndKeepsSharedKeys) {
  RegisterBoth();
  // A plugin of another module and another server's AppID share the NoRemove keys.
  HKEY key = nullptr;
  const std::u16string foreign = std::u16string(kPluginsKey) + u"\\{00000000-0000-0000-0000-000000000001}";
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, foreign.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                            nullptr),
            ERROR_SUCCESS);
  RegCloseKey(key);
  ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, u"AppID\\Other", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                            nullptr),
            ERROR_SUCCESS);
  RegCloseKey(key);

  ASSERT_EQ(plugins_.unreg(), S_OK);

  EXPECT_EQ(SubKeys(HKEY_LOCAL_MACHINE, kPluginsKey),
            std::vector<std::u16string>{u"{00000000-0000-0000-0000-000000000001}"});
  for (const ClassCase& c : kClasses) {
    SCOPED_TRACE(c.name);
    const std::u16string progId = u"VelItemPlugins." + std::u16string(c.coclass);
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, u"CLSID\\" + Guid(*c.clsid)));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, progId));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, progId + u".1"));
  }
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, u"CLSID\\" + Guid(CLSID_VelItem)));  // the item library's
  EXPECT_EQ(SubKeys(HKEY_CLASSES_ROOT, u"AppID"), std::vector<std::u16string>{u"Other"});
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, u"TypeLib\\" + Guid(LIBID_VelItemPluginsLib)));
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, u"TypeLib"));
  for (const VelTypeLibInterface& itf : kVelItemPluginsInterfaces)
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, u"Interface\\" + Guid(*itf.iid))) << Narrow(itf.name);

  // With nothing left to remove, unregistering again is no failure.
  ASSERT_EQ(plugins_.unreg(), S_OK);
  ComPtr<IUnknown> p;
  EXPECT_EQ(CoCreateInstance(CLSID_VelItemAudio, nullptr, CLSCTX_ALL, IID_IUnknown, reinterpret_cast<void**>(&p)),
            REGDB_E_CLASSNOTREG);
}

TEST_F(ModuleServer, EveryClassAnswersExactlyItsInterfacesAndErrorInfoTable) {
  RegisterBoth();
  struct Itf {
    const char* name;
    const IID* iid;
  };
  const Itf itfs[] = {{"IVelItemPluginFactory", &IID_IVelItemPluginFactory},
                      {"IVelItemPlugin", &IID_IVelItemPlugin},
                      {"IVelItemImage", &IID_IVelItemImage},
                      {"IVelItemAudio", &IID_IVelItemAudio},
                      {"IVelItemMMS", &IID_IVelItemMMS},
                      {"IDispatch", &IID_IDispatch},
                      {"ISupportErrorInfo", &IID_ISupportErrorInfo}};
  struct Row {
    const ClassCase* c;
    std::vector<std::string> answered;
    std::vector<std::string> errorInfo;
  };
  const Row rows[] = {
      {&kClasses[0], {"IVelItemPluginFactory", "IDispatch", "ISupportErrorInfo"}, {"IVelItemPluginFactory"}},
      {&kClasses[1], {"IVelItemPlugin", "IVelItemImage", "IDispatch", "ISupportErrorInfo"},
       {"IVelItemPlugin", "IVelItemImage"}},
      {&kClasses[2], {"IVelItemPlugin", "IVelItemAudio", "IDispatch", "ISupportErrorInfo"}, {"IVelItemPlugin"}},
      {&kClasses[3], {"IVelItemPlugin", "IDispatch", "ISupportErrorInfo"}, {"IVelItemPlugin"}},
      {&kClasses[4], {"IVelItemPlugin", "IVelItemMMS", "IDispatch", "ISupportErrorInfo"},
       {"IVelItemPlugin", "IVelItemMMS"}},
      {&kClasses[5], {"IVelItemPlugin", "IDispatch", "ISupportErrorInfo"}, {"IVelItemPlugin"}},
  };
  auto listed = [](const std::vector<std::string>& v, const char* n) {
    for (const auto& s : v)
      if (s == n) return true;
    return false;
  };
  for (const Row& r : rows) {
    ComPtr<IUnknown> obj = Create<IUnknown>(*r.c->clsid);
    ASSERT_TRUE(obj) << r.c->name;
    ComPtr<ISupportErrorInfo> sei;
    ASSERT_EQ(obj.QueryInterface(sei), S_OK) << r.c->name;
    for (const Itf& i : itfs) {
      ComPtr<IUnknown> got;
      HRESULT hr = obj->QueryInterface(*i.iid, reinterpret_cast<void**>(&got));
      EXPECT_EQ(hr, listed(r.answered, i.name) ? S_OK : E_NOINTERFACE) << r.c->name << " QI " << i.name;
      EXPECT_EQ(sei->InterfaceSupportsErrorInfo(*i.iid), listed(r.errorInfo, i.name) ? S_OK : S_FALSE)
          << r.c->name << " InterfaceSupportsErrorInfo " << i.name;
    }
  }
}

TEST_F(ModuleServer, CommonPluginMembers) {
  RegisterBoth();
  struct Row {
    const ClassCase* c;
    const char16_t* name;
    std::string storage;  // empty: the null BSTR
  };
  const Row rows[] = {
      {&kClasses[1], u"Image", dir_ + "/Photos"}, {&kClasses[2], u"Audio", dir_ + "/Tunes"},
      {&kClasses[3], u"Video", dir_ + "/Films"},  {&kClasses[4], u"MMS", ""},
      {&kClasses[5], u"SMS", ""},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.c->name);
    ComPtr<IVelItemPlugin> plugin = Create<IVelItemPlugin>(*r.c->clsid);
    ASSERT_TRUE(plugin);
    _bstr_t name;
    ASSERT_EQ(plugin->get_Name(name.GetAddress()), S_OK);
    EXPECT_EQ(name, _bstr_t(r.name));
    BSTR storage = reinterpret_cast<BSTR>(1);
    ASSERT_EQ(plugin->get_CustomStoragePath(&storage), S_OK);
    if (r.storage.empty()) {
      EXPECT_EQ(storage, nullptr);
    } else {
      ASSERT_NE(storage, nullptr);
      EXPECT_EQ(vel::ToUtf8(storage), r.storage);
    }
    SysFreeString(storage);
    for (LONG capability : {0, 1, -1}) {
      VARIANT_BOOL answer = VARIANT_TRUE;
      EXPECT_EQ(plugin->QueryCapability(capability, &answer), S_OK) << capability;
      EXPECT_EQ(answer, VARIANT_FALSE) << capability;
    }
  }

  // The messaging plugins' own answers.
  ComPtr<IVelItemPlugin> sms = Create<IVelItemPlugin>(CLSID_VelItemSMS);
  LONG status = -1;
  EXPECT_EQ(sms->ValidateItem(nullptr, &status), S_OK);
  EXPECT_EQ(status, EVelValidateStatus_OK);
  for (const CLSID* clsid : {&CLSID_VelItemSMS, &CLSID_VelItemMMS}) {
    ComPtr<IVelItemPlugin> p = Create<IVelItemPlugin>(*clsid);
    BSTR path = reinterpret_cast<BSTR>(1);
    EXPECT_EQ(p->GetItemPath(nullptr, &path), S_OK);
    EXPECT_EQ(path, nullptr);
  }
}

// The error info a failing call left on this thread.
struct ErrorInfo {
  GUID guid{};
  std::u16string source;
  std::u16string description;
};
ErrorInfo TakeErrorInfo() {
  ErrorInfo out;
  ComPtr<IErrorInfo> info;
  if (GetErrorInfo(0, &info) != S_OK || !info) return out;
  info->GetGUID(&out.guid);
  _bstr_t source;
  _bstr_t description;
  info->GetSource(source.GetAddress());
  info->GetDescription(description.GetAddress());
  out.source = source.view();
  out.description = description.view();
  return out;
}

TEST_F(ModuleServer, FailuresReachTheCallerAsTheModulesErrorWithTheReport) {
  RegisterBoth();
  ComPtr<IVelItemPlugin> audio = Create<IVelItemPlugin>(CLSID_VelItemAudio);
  ComPtr<IVelItemAudio> audioExt;
  ASSERT_EQ(audio.QueryInterface(audioExt), S_OK);
  ComPtr<IVelItemImage> image = Create<IVelItemImage>(CLSID_VelItemImage);
  ComPtr<IVelItemMMS> mms = Create<IVelItemMMS>(CLSID_VelItemMMS);
  ComPtr<IVelItemPluginFactory> factory = Create<IVelItemPluginFactory>(CLSID_VelItemPluginFactory);
  ASSERT_TRUE(image && mms && factory);
  const _bstr_t path(vel::FromUtf8(dir_ + "/missing.m4a"));

  struct Row {
    const char* name;
    std::function<HRESULT()> call;
    const IID* iid;
    const char16_t* source;
    const char16_t* function;
    const char16_t* code;
  };
  const Row rows[] = {
      {"audio ReadMetadata",
       [&] {
         IVelItem* item = reinterpret_cast<IVelItem*>(1);
         HRESULT hr = audio->ReadMetadata(path, &item);
         return item == nullptr ? hr : E_UNEXPECTED;  // the out-parameter is reset
       },
       &IID_IVelItemPlugin, u"VelItemPlugins.VelItemAudio.1", u"CVelItemAudio::ReadMetadata", u"-2147024894"},
      {"audio ReadPicture",
       [&] {
         VARIANT v;
         VariantInit(&v);
         return audioExt->ReadPicture(path, &v);
       },
       &IID_IVelItemAudio, u"VelItemPlugins.VelItemAudio.1", u"CVelItemAudio::ReadPicture", u"-2147024894"},
      {"audio Name without out-parameter", [&] { return audio->get_Name(nullptr); }, &IID_IVelItemPlugin,
       u"VelItemPlugins.VelItemAudio.1", u"CVelPluginHelpers::Name", u"1010"},
      {"image WriteIPTCKeywords without a keyword list (1015)",
       [&] {
         VARIANT v;
         VariantInit(&v);
         return image->WriteIPTCKeywords(path, v);
       },
       &IID_IVelItemImage, u"VelItemPlugins.VelItemImage.1", u"CVelItemImage::WriteIPTCKeywords", u"1015"},
      {"mms CreateSMIL without an item (E_POINTER)",
       [&] {
         IUnknown* files = nullptr;
         return mms->CreateSMIL(nullptr, path, &files);
       },
       &IID_IVelItemMMS, u"VelItemPlugins.VelItemMMS.1", u"CVelItemMMS::CreateSMIL", u"-2147467261"},
      {"factory IsRegisteredMimeType without out-parameter",
       [&] { return factory->IsRegisteredMimeType(_bstr_t(u"audio/mp4"), nullptr); }, &IID_IVelItemPluginFactory,
       u"VelItemPlugins.VelItemPluginFactory.1", u"CVelItemPluginFactory::IsRegisteredMimeType", u"1010"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    SetErrorInfo(0, nullptr);
    EXPECT_EQ(r.call(), VEL_HR(0x80045D53));
    const ErrorInfo e = TakeErrorInfo();
    EXPECT_TRUE(e.guid == *r.iid);
    EXPECT_EQ(Narrow(e.source), Narrow(r.source));
    EXPECT_EQ(e.description.rfind(u"\r\n<error>", 0), 0u) << Narrow(e.description);
    EXPECT_NE(e.description.find(u"<errorcode>" + std::u16string(r.code) + u"</errorcode>"), std::u16string::npos)
        << Narrow(e.description);
    EXPECT_NE(e.description.find(r.function), std::u16string::npos) << Narrow(e.description);
    // The method's own frame closes the trace.
    EXPECT_NE(e.description.find(u"<description>Stacktrace.</description>"), std::u16string::npos);
  }
}

TEST_F(ModuleServer, DispatchReachesTheSameMembersByName) {
  RegisterBoth();
  ComPtr<IDispatch> audio = Create<IDispatch>(CLSID_VelItemAudio);
  ASSERT_TRUE(audio);

  struct Name {
    const char16_t* text;
    DISPID id;
  };
  for (const Name& n : {Name{u"queryCAPABILITY", 1}, Name{u"Name", 2}, Name{u"customstoragepath", 3},
                        Name{u"ValidateItem", 4}, Name{u"readmetadata", 5}, Name{u"WriteMetadata", 6},
                        Name{u"GetItemPath", 7}}) {
    LPOLESTR names[] = {const_cast<LPOLESTR>(n.text)};
    DISPID id = 0;
    EXPECT_EQ(audio->GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK) << vel::ToUtf8(n.text);
    EXPECT_EQ(id, n.id) << vel::ToUtf8(n.text);
  }

  DISPPARAMS none{nullptr, nullptr, 0, 0};
  _variant_t result;
  ASSERT_EQ(audio->Invoke(2, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, result.GetAddress(), nullptr, nullptr), S_OK);
  EXPECT_EQ(result.vt, VT_BSTR);
  EXPECT_EQ(_bstr_t(result), _bstr_t(u"Audio"));

  _variant_t arg(vel::FromUtf8(dir_ + "/missing.m4a"));
  DISPPARAMS one{&arg, nullptr, 1, 0};
  EXCEPINFO info{};
  _variant_t item;
  ASSERT_EQ(audio->Invoke(5, IID_NULL, 0, DISPATCH_METHOD, &one, item.GetAddress(), &info, nullptr),
            DISP_E_EXCEPTION);
  EXPECT_EQ(info.scode, VEL_HR(0x80045D53));
  ASSERT_NE(info.bstrSource, nullptr);
  EXPECT_EQ(vel::ToUtf8(info.bstrSource), "VelItemPlugins.VelItemAudio.1");
  ASSERT_NE(info.bstrDescription, nullptr);
  const std::u16string description = info.bstrDescription;
  EXPECT_NE(description.find(u"CVelItemAudio::ReadMetadata"), std::u16string::npos);
  // A missing file: the system's "file not found" (0x80070002).
  EXPECT_NE(description.find(u"<errorcode>-2147024894</errorcode>"), std::u16string::npos);
  SysFreeString(info.bstrSource);
  SysFreeString(info.bstrDescription);
  SysFreeString(info.bstrHelpFile);
}

TEST_F(ModuleServer, TheModuleCanUnloadOnceEveryObjectIsGone) {
  RegisterBoth();
  {
    // The audio plugin keeps a video plugin of its own for its whole life.
    ComPtr<IVelItemPlugin> audio = Create<IVelItemPlugin>(CLSID_VelItemAudio);
    ASSERT_TRUE(audio);
    EXPECT_EQ(plugins_.canUnload(), S_FALSE);
    ComPtr<IClassFactory> cf;
    ASSERT_EQ(CoGetClassObject(CLSID_VelItemSMS, CLSCTX_ALL, nullptr, IID_IClassFactory,
                               reinterpret_cast<void**>(&cf)),
              S_OK);
    audio = nullptr;
    EXPECT_EQ(plugins_.canUnload(), S_OK);
    ASSERT_EQ(cf->LockServer(TRUE), S_OK);
    EXPECT_EQ(plugins_.canUnload(), S_FALSE);
    ASSERT_EQ(cf->LockServer(FALSE), S_OK);
  }
  EXPECT_EQ(plugins_.canUnload(), S_OK);
}

TEST_F(ModuleServer, AudioPluginCannotBeMadeWithoutItsVideoPlugin) {
  ASSERT_EQ(items_.reg(), S_OK);
  ASSERT_EQ(plugins_.reg(), S_OK);
  ASSERT_EQ(RegDeleteTreeW(HKEY_CLASSES_ROOT, (u"CLSID\\" + Guid(CLSID_VelItemVideo)).c_str()), ERROR_SUCCESS);
  SetErrorInfo(0, nullptr);
  ComPtr<IVelItemPlugin> audio;
  EXPECT_EQ(CoCreateInstance(CLSID_VelItemAudio, nullptr, CLSCTX_ALL, IID_IVelItemPlugin,
                             reinterpret_cast<void**>(&audio)),
            VEL_HR(0x80045D53));
  const ErrorInfo e = TakeErrorInfo();
  EXPECT_EQ(Narrow(e.source), "VelItemPlugins.VelItemAudio.1");
  EXPECT_NE(e.description.find(u"<ProgID>VelItemPluginsLib::VelItemVideo</ProgID>"), std::u16string::npos)
      << Narrow(e.description);
  EXPECT_NE(e.description.find(u"CVelItemAudio::FinalConstruct"), std::u16string::npos);
  EXPECT_EQ(plugins_.canUnload(), S_OK);
}

// Plugins may be aggregated: the outer object's identity is theirs.
class Outer : public IUnknown {
 public:
  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    *ppv = riid == IID_IUnknown ? static_cast<IUnknown*>(this) : nullptr;
    return *ppv ? S_OK : inner_->QueryInterface(riid, ppv);
  }
  ULONG AddRef() override { return ++refs_; }
  ULONG Release() override { return --refs_; }
  ComPtr<IUnknown> inner_;
  ULONG refs_ = 1;
};

TEST_F(ModuleServer, PluginsCanBeAggregated) {
  RegisterBoth();
  for (const ClassCase& c : kClasses) {
    Outer outer;
    ASSERT_EQ(CoCreateInstance(*c.clsid, &outer, CLSCTX_ALL, IID_IUnknown,
                               reinterpret_cast<void**>(&outer.inner_)),
              S_OK)
        << c.name;
    ComPtr<IDispatch> disp;
    ASSERT_EQ(outer.QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&disp)), S_OK) << c.name;
    ComPtr<IUnknown> identity;
    ASSERT_EQ(disp->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)), S_OK);
    EXPECT_EQ(identity.get(), static_cast<IUnknown*>(&outer)) << c.name;
    identity = nullptr;
    disp = nullptr;
    outer.inner_ = nullptr;
  }
  EXPECT_EQ(plugins_.canUnload(), S_OK);
}

}  // namespace
