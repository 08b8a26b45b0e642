// The plugin factory through COM, as a host creates it: the choice among
// plugins sharing an extension (three test plugin classes in a module of
// their own), items, MIME lookups, reloading after changes made by another
// process and during lookups, a missing configuration key, and the helper
// that maps an extension to a plugin's MIME type.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "contract/VelItemPluginsLib.h"
#include "framework/VelPluginHelpers.h"
#include "platform/com/combase.h"
#include "platform/com/comdef.h"
#include "platform/com/oleauto.h"
#include "platform/win32/winbase.h"
#include "testing/ChildProcess.h"
#include "testing/TempStore.h"

using namespace vel::testing;

namespace {

using EntryPoint = HRESULT (*)();
constexpr char16_t kPlugins[] = u"SOFTWARE\\Zandor\\VelPlatform\\ItemPlugins";
constexpr char16_t kClsidA[] = u"{10000000-0000-0000-0000-0000000000A1}";
constexpr char16_t kClsidB[] = u"{20000000-0000-0000-0000-0000000000B1}";
constexpr char16_t kClsidC[] = u"{30000000-0000-0000-0000-0000000000C1}";

std::u16string Bin(const char16_t* name) {
  const char* bin = std::getenv("VEL_TEST_BIN");
  return vel::FromUtf8(bin ? bin : ".") + u"/" + name;
}

std::u16string Guid(const GUID& g) {
  OLECHAR text[40];
  StringFromGUID2(g, text, 40);
  return text;
}

std::string Text(BSTR b) { return b ? vel::ToUtf8(std::u16string_view(b, SysStringLen(b))) : ""; }

std::string NameOf(IVelItemPlugin* plugin) {
  if (!plugin) return "null";
  BSTR name = nullptr;
  plugin->get_Name(&name);
  std::string text = Text(name);
  SysFreeString(name);
  return text;
}

std::string ErrorDescription() {
  ComPtr<IErrorInfo> info;
  if (GetErrorInfo(0, &info) != S_OK || !info) return "";
  BSTR d = nullptr;
  info->GetDescription(&d);
  std::string text = Text(d);
  SysFreeString(d);
  return text;
}

class FactoryTest : public TempStore {
 protected:
  void SetUp() override {
    TempStore::SetUp();
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    // Warnings of these tests stay out of the system log.
    HKEY logging = Create(u"Software\\Zandor\\Logging\\Zandor software");
    SetDword(logging, u"EventLogLevel", 0);
    RegCloseKey(logging);
    for (const char16_t* module : {u"libVelItems.so", u"libVelItemPlugins.so"}) {
      HMODULE h = LoadLibraryW(Bin(module).c_str());
      ASSERT_NE(h, nullptr) << vel::ToUtf8(module);
      auto reg = reinterpret_cast<EntryPoint>(GetProcAddress(h, "DllRegisterServer"));
      ASSERT_NE(reg, nullptr);
      ASSERT_EQ(reg(), S_OK) << vel::ToUtf8(module);
    }
    testModule_ = LoadLibraryW(Bin(u"libVelFactoryTestPlugins.so").c_str());
    ASSERT_NE(testModule_, nullptr);
    calls_ = reinterpret_cast<const char* (*)()>(GetProcAddress(testModule_, "VelTestCalls"));
    resetCalls_ = reinterpret_cast<void (*)()>(GetProcAddress(testModule_, "VelTestResetCalls"));
    ASSERT_TRUE(calls_ && resetCalls_);
    resetCalls_();
    for (const char16_t* clsid : {kClsidA, kClsidB, kClsidC}) {
      HKEY server = nullptr;
      ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, (u"CLSID\\" + std::u16string(clsid) + u"\\InprocServer32").c_str(),
                                0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &server, nullptr),
                ERROR_SUCCESS);
      SetString(server, nullptr, Bin(u"libVelFactoryTestPlugins.so"));
      SetString(server, u"ThreadingModel", u"Free");
      RegCloseKey(server);
    }
    Config(kClsidA, u"SupportedMIMEs", u"test/a|TEST/Shared");
    Config(kClsidA, u".SHR", u"test/shared");
    Config(kClsidA, u".aonly", u"Test/A");
    Config(kClsidB, u"SupportedMIMEs", u"test/b");
    Config(kClsidB, u".shr", u"test/b");
    Config(kClsidC, u"SupportedMIMEs", u"test/c");
    Config(kClsidC, u".shr", u"test/c");
  }
  void TearDown() override {
    factory_ = nullptr;
    CoUninitialize();
    TempStore::TearDown();
  }

  static void Config(const std::u16string& clsid, const char16_t* name, const char16_t* text) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, (std::u16string(kPlugins) + u"\\" + clsid).c_str(), 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    SetString(key, name, text);
    RegCloseKey(key);
  }

  IVelItemPluginFactory* Factory() {
    if (!factory_) {
      EXPECT_EQ(CoCreateInstance(CLSID_VelItemPluginFactory, nullptr, CLSCTX_ALL, IID_IVelItemPluginFactory,
                                 reinterpret_cast<void**>(&factory_)),
                S_OK)
          << ErrorDescription();
    }
    return factory_;
  }

  // An item with the given core properties (empty values are left out).
  ComPtr<IVelItem> Item(const char16_t* itemType, const char16_t* uri) {
    ComPtr<IVelItem> item;
    EXPECT_EQ(CoCreateInstance(CLSID_VelItem, nullptr, CLSCTX_ALL, IID_IVelItem, reinterpret_cast<void**>(&item)),
              S_OK);
    ComPtr<IVelProperties> props;
    item->get_Properties(&props);
    if (itemType) props->put_Value(_bstr_t(u"ItemType"), _bstr_t(kCoreNamespace), _variant_t(itemType));
    if (uri) props->put_Value(_bstr_t(u"URI"), _bstr_t(kCoreNamespace), _variant_t(uri));
    return item;
  }

  std::vector<std::string> MimeTypes() {
    _variant_t list;
    EXPECT_EQ(Factory()->GetRegisteredMimeTypes(list.GetAddress()), S_OK);
    std::vector<std::string> out;
    if (list.vt != (VT_ARRAY | VT_BSTR)) return out;
    LONG lower = 0, upper = -1;
    SafeArrayGetLBound(list.parray, 1, &lower);
    SafeArrayGetUBound(list.parray, 1, &upper);
    EXPECT_EQ(lower, 0);
    for (LONG i = lower; i <= upper; ++i) {
      BSTR b = nullptr;
      SafeArrayGetElement(list.parray, &i, &b);
      out.push_back(Text(b));
      SysFreeString(b);
    }
    return out;
  }

  bool Registered(const char16_t* mime) {
    VARIANT_BOOL result = VARIANT_FALSE;
    EXPECT_EQ(Factory()->IsRegisteredMimeType(_bstr_t(mime), &result), S_OK);
    return result == VARIANT_TRUE;
  }

  HMODULE testModule_ = nullptr;
  const char* (*calls_)() = nullptr;
  void (*resetCalls_)() = nullptr;
  ComPtr<IVelItemPluginFactory> factory_;
};

TEST_F(FactoryTest, SharedExtensionIsValidatedInEnumerationOrder) {
  struct Row {
    const char16_t* file;
    const char* plugin;
    const char* calls;  // ValidateItem calls in order
  } rows[] = {
      {u"/m/x_2_0_0.shr", "TestB", "AB"},           // A corrupt: the next decides
      {u"/m/x_0_2_2.shr", "TestA", "A"},            // the first that is not corrupt wins
      {u"/m/x_1_0_0.SHR", "TestA", "A"},            // missing is no reason to go on
      {u"/m/x_2_6_0.shr", "TestB", "AB"},           // corrupt with more bits is not "corrupt"
      {u"/m/x_2_2_2.shr", "TestC", "ABC"},          // all corrupt: the last one
      {u"/m/x_2_16_0.shr", "TestB", "AB"},          // locked
      {u"/m/only.aonly", "TestA", ""},              // one candidate: no validation
      {u"/m/no-extension", "null", ""},             //
      {u"/m/x.unknown", "null", ""},                //
      {u"\\m\\x_2_0_0.shr", "TestB", "AB"},         // either separator
  };
  for (const Row& row : rows) {
    resetCalls_();
    ComPtr<IVelItemPlugin> plugin;
    EXPECT_EQ(Factory()->CreateWithFile(_bstr_t(row.file), &plugin), S_OK) << vel::ToUtf8(row.file) << ErrorDescription();
    EXPECT_EQ(NameOf(plugin), row.plugin) << vel::ToUtf8(row.file);
    EXPECT_STREQ(calls_(), row.calls) << vel::ToUtf8(row.file);
  }
}

TEST_F(FactoryTest, FailingValidationEndsCreateWithFile) {
  ComPtr<IVelItemPlugin> plugin;
  EXPECT_EQ(Factory()->CreateWithFile(_bstr_t(u"/m/x_2_f_0.shr"), &plugin), static_cast<HRESULT>(0x80045D53));
  EXPECT_EQ(plugin, nullptr);
  const std::string xml = ErrorDescription();  // taking the error info clears it
  EXPECT_NE(xml.find("<error"), std::string::npos) << xml;
  EXPECT_NE(xml.find("CVelItemPluginFactory::CreateWithFile"), std::string::npos) << xml;
  EXPECT_STREQ(calls_(), "AB") << "C is not asked after B failed";
}

TEST_F(FactoryTest, MimeTypeLookupsAreExactAndListedOnce) {
  ComPtr<IVelItemPlugin> plugin;
  EXPECT_EQ(Factory()->CreateWithMimeType(_bstr_t(u"test/shared"), &plugin), S_OK);
  EXPECT_EQ(NameOf(plugin), "TestA") << "the first CLSID of the entry";
  EXPECT_STREQ(calls_(), "");
  plugin = nullptr;
  EXPECT_EQ(Factory()->CreateWithMimeType(_bstr_t(u"TEST/SHARED"), &plugin), S_OK);
  EXPECT_EQ(plugin, nullptr);
  EXPECT_EQ(Factory()->CreateWithMimeType(_bstr_t(u"audio/m4a"), &plugin), S_OK);
  EXPECT_EQ(NameOf(plugin), "Audio");

  EXPECT_TRUE(Registered(u"audio/m4a"));
  EXPECT_FALSE(Registered(u"AUDIO/M4A"));
  EXPECT_TRUE(Registered(u"image/png")) << "named only by an extension value";
  EXPECT_TRUE(Registered(u"test/c"));

  const std::vector<std::string> all = MimeTypes();
  for (std::size_t i = 1; i < all.size(); ++i) EXPECT_LT(all[i - 1], all[i]) << "ordinal order, each once";
  for (const char* want : {"test/a", "test/b", "test/c", "test/shared", "image/png", "audio/mp4"})
    EXPECT_NE(std::find(all.begin(), all.end(), want), all.end()) << want;
}

TEST_F(FactoryTest, CreateWithItemFollowsItemTypeBeforeUri) {
  struct Row {
    const char* name;
    const char16_t* itemType;
    const char16_t* uri;
    HRESULT hr;
    const char* plugin;
  } rows[] = {
      {"type wins over uri", u"test/b", u"/m/x_0_0_0.shr", S_OK, "TestB"},
      {"unregistered type, known uri", u"test/none", u"/m/x_0_0_0.shr", S_OK, "null"},
      {"type in capitals", u"TEST/B", u"/m/x_0_0_0.shr", S_OK, "null"},
      {"uri only, walk", nullptr, u"/m/x_2_0_0.shr", S_OK, "TestB"},
      {"uri only, unknown extension", nullptr, u"/m/x.xyz", S_OK, "null"},
      {"neither", nullptr, nullptr, S_OK, "null"},
  };
  for (const Row& row : rows) {
    ComPtr<IVelItem> item = Item(row.itemType, row.uri);
    ComPtr<IVelItemPlugin> plugin;
    EXPECT_EQ(Factory()->CreateWithItem(item, &plugin), row.hr) << row.name;
    EXPECT_EQ(NameOf(plugin), row.plugin) << row.name;
  }
  ComPtr<IVelItemPlugin> plugin;
  EXPECT_EQ(Factory()->CreateWithItem(nullptr, &plugin), S_FALSE);
  EXPECT_EQ(plugin, nullptr);
  ComPtr<IVelEnum> notAnItem;
  ASSERT_EQ(CoCreateInstance(CLSID_VelEnum, nullptr, CLSCTX_ALL, IID_IVelEnum, reinterpret_cast<void**>(&notAnItem)),
            S_OK);
  EXPECT_EQ(Factory()->CreateWithItem(reinterpret_cast<IVelItem*>(notAnItem.GetInterfacePtr()), &plugin), S_FALSE);
  EXPECT_EQ(plugin, nullptr);

  // A failure inside the inner call reaches the caller with the trace of both.
  ComPtr<IVelItem> failing = Item(nullptr, u"/m/x_f_0_0.shr");
  EXPECT_EQ(Factory()->CreateWithItem(failing, &plugin), static_cast<HRESULT>(0x80045D53));
  const std::string xml = ErrorDescription();
  EXPECT_NE(xml.find("CVelItemPluginFactory::CreateWithItem"), std::string::npos) << xml;
  EXPECT_NE(xml.find("CVelItemPluginFactory::CreateWithFile"), std::string::npos) << xml;
}

TEST_F(FactoryTest, ChangeByAnotherProcessIsSeenByTheNextLookup) {
  ASSERT_FALSE(Registered(u"test/new"));
  const std::string key = vel::ToUtf8(std::u16string(kPlugins) + u"\\" + kClsidB);
  ASSERT_EQ(WaitChild(SpawnChild("factory_test_writer", {key, ".new", "test/new"})), 0);
  // An upper bound for the listener to reload, not a timing requirement.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (!Registered(u"test/new") && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_TRUE(Registered(u"test/new"));
  ComPtr<IVelItemPlugin> plugin;
  EXPECT_EQ(Factory()->CreateWithFile(_bstr_t(u"/m/a.NEW"), &plugin), S_OK);
  EXPECT_EQ(NameOf(plugin), "TestB");
}

TEST_F(FactoryTest, PluginWithoutSupportedMimesIsSkippedAndTheOthersLoad) {
  Config(u"{05000000-0000-0000-0000-000000000005}", u".skip", u"test/skip");  // no "SupportedMIMEs" at all
  Config(kClsidB, u"SupportedMIMEs", u"");                                     // an empty one
  EXPECT_FALSE(Registered(u"test/skip"));
  EXPECT_FALSE(Registered(u"test/b")) << "its extension values are left out too";
  EXPECT_TRUE(Registered(u"test/a"));
  EXPECT_TRUE(Registered(u"test/c"));
  ComPtr<IVelItemPlugin> plugin;
  EXPECT_EQ(Factory()->CreateWithFile(_bstr_t(u"/m/a.skip"), &plugin), S_OK);
  EXPECT_EQ(plugin, nullptr);
  resetCalls_();
  EXPECT_EQ(Factory()->CreateWithFile(_bstr_t(u"/m/x_2_0_0.shr"), &plugin), S_OK);
  EXPECT_EQ(NameOf(plugin), "TestC");
  EXPECT_STREQ(calls_(), "AC");
}

TEST_F(FactoryTest, MissingConfigurationKeyFailsCreation) {
  ASSERT_EQ(RegDeleteTreeW(HKEY_LOCAL_MACHINE, kPlugins), ERROR_SUCCESS);
  ComPtr<IVelItemPluginFactory> factory;
  EXPECT_EQ(CoCreateInstance(CLSID_VelItemPluginFactory, nullptr, CLSCTX_ALL, IID_IVelItemPluginFactory,
                             reinterpret_cast<void**>(&factory)),
            static_cast<HRESULT>(0x80045D53));
  EXPECT_EQ(factory, nullptr);
  const std::string xml = ErrorDescription();
  EXPECT_NE(xml.find("Failed to open registry key."), std::string::npos) << xml;
}

// Lookups from several threads while the configuration is rewritten: each
// answer comes from a whole map (no torn state), and the suite also runs this
// under ThreadSanitizer (VEL_SANITIZE_THREAD).
TEST_F(FactoryTest, LookupsDuringReloads) {
  IVelItemPluginFactory* factory = Factory();
  ASSERT_NE(factory, nullptr);
  std::atomic<bool> stop{false};
  std::atomic<int> failures{0};
  std::atomic<long> lookups{0};
  std::vector<std::thread> readers;
  for (int t = 0; t < 3; ++t) {
    readers.emplace_back([&] {
      CoInitializeEx(nullptr, COINIT_MULTITHREADED);
      while (!stop.load()) {
        ComPtr<IVelItemPlugin> plugin;
        if (factory->CreateWithFile(_bstr_t(u"/m/only.aonly"), &plugin) != S_OK || NameOf(plugin) != "TestA")
          ++failures;
        VARIANT_BOOL registered = VARIANT_FALSE;
        if (factory->IsRegisteredMimeType(_bstr_t(u"test/c"), &registered) != S_OK || registered != VARIANT_TRUE)
          ++failures;
        _variant_t list;
        if (factory->GetRegisteredMimeTypes(list.GetAddress()) != S_OK || list.vt != (VT_ARRAY | VT_BSTR)) ++failures;
        ++lookups;
      }
      CoUninitialize();
    });
  }
  for (int i = 0; i < 40; ++i) {
    const std::u16string n = vel::FromUtf8(std::to_string(i));
    Config(kClsidB, (u".x" + n).c_str(), (u"test/x" + n).c_str());
    Config(kClsidA, u"SupportedMIMEs", i % 2 ? u"test/a|test/shared" : u"test/shared|test/a|test/z");
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  stop = true;
  for (std::thread& t : readers) t.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_GT(lookups.load(), 0);
  // Whether the very last change is loaded is not asserted here: a change made
  // while a reload runs, after it has read the key and before the listener
  // waits again, is not reported by the next wait (see the listener).
}

TEST_F(FactoryTest, RegisteredExt2MimeTypeReadsThePluginsConfiguration) {
  const std::u16string audio = Guid(CLSID_VelItemAudio);
  EXPECT_EQ(CVelPluginHelpers::RegisteredExt2MimeType(audio, u".M4A"), u"audio/mp4");
  EXPECT_EQ(CVelPluginHelpers::RegisteredExt2MimeType(audio, u".wma"), u"audio/x-ms-wma");
  EXPECT_EQ(CVelPluginHelpers::RegisteredExt2MimeType(audio, u".jpg"), u"") << "another plugin's extension";
  EXPECT_EQ(CVelPluginHelpers::RegisteredExt2MimeType(audio, u"m4a"), u"") << "the dot belongs to the name";
  EXPECT_EQ(CVelPluginHelpers::RegisteredExt2MimeType(u"{00000000-0000-0000-0000-000000000000}", u".m4a"), u"");

  // The answers are remembered only while the configuration stays as it is.
  HKEY config = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, (std::u16string(kPlugins) + u"\\" + audio).c_str(), 0, KEY_ALL_ACCESS,
                          &config),
            ERROR_SUCCESS);
  ASSERT_EQ(SetString(config, u".m4a", u"audio/x-changed"), ERROR_SUCCESS);
  EXPECT_EQ(CVelPluginHelpers::RegisteredExt2MimeType(audio, u".m4a"), u"audio/x-changed");
  ASSERT_EQ(RegDeleteValueW(config, u".m4a"), ERROR_SUCCESS);
  EXPECT_EQ(CVelPluginHelpers::RegisteredExt2MimeType(audio, u".m4a"), u"");
  RegCloseKey(config);
}

}  // namespace
