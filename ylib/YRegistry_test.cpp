#include "ylib/YRegistry.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "platform/registry/store.h"
#include "testing/TempStore.h"
#include "ylib/YException.h"
#include "ylib/YUtf8.h"

using namespace vel::testing;

namespace fs = std::filesystem;

namespace {

std::string U8(std::u16string_view s) { return YUtf16ToUtf8(s); }

struct Raised {
  std::vector<std::pair<std::string, int>> entries;  // without stack entries
  std::string xml;
};

std::optional<Raised> Catch(const std::function<void()>& call) {
  try {
    call();
  } catch (const CYException& x) {
    Raised r;
    r.xml = U8(x.GetXml());
    for (const auto& entry : x.GetTree().GetChildren()) {
      const int code = std::stoi(U8(entry->GetChildren(u"errorcode").front()->GetValue()));
      if (code != 1005) r.entries.emplace_back(U8(entry->GetChildren(u"description").front()->GetValue()), code);
    }
    return r;
  }
  return std::nullopt;
}

using Entries = std::vector<std::pair<std::string, int>>;
constexpr char16_t kBase[] = u"HKEY_CURRENT_USER\\Software\\VelTest";

class CYRegistryTest : public TempStore {
 protected:
  static std::u16string Path(std::u16string_view rest) { return std::u16string(kBase) + u"\\" + std::u16string(rest); }
};

TEST_F(CYRegistryTest, RootNamesAreSpelledOut) {
  for (const char16_t* path : {u"HKLM\\Software", u"hkey_local_machine\\Software", u"", u"HKEY_FOO"}) {
    CYRegKey key;
    const auto r = Catch([&] { CYRegistry::RegOpenRegKey(key, path, false, false, false, false); });
    ASSERT_TRUE(r) << U8(path);
    EXPECT_EQ(r->entries, (Entries{{"Invalid function parameter.", 1010}})) << U8(path);
    // Quiet readers still refuse an unknown root.
    EXPECT_TRUE(Catch([&] { CYRegistry::GetSubKeyNames(path); })) << U8(path);
    EXPECT_TRUE(Catch([&] { CYRegistry::GetStringValue(path, u"x", u"default"); })) << U8(path);
  }
}

TEST_F(CYRegistryTest, OpeningMissingKeys) {
  CYRegKey key;
  EXPECT_EQ(CYRegistry::RegOpenRegKey(key, Path(u"Missing\\Deeper"), false, false, false, false),
            ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(key);
  const auto r = Catch([&] { CYRegistry::RegOpenRegKey(key, Path(u"Missing"), true, false, false, false); });
  ASSERT_TRUE(r);
  EXPECT_EQ(r->entries, (Entries{{"The system cannot find the file specified.", static_cast<int>(0x80070002u)},
                                 {"Failed to open registry key.", 2004}}));
  EXPECT_NE(r->xml.find("<Registrykey>" + U8(Path(u"Missing")) + "</Registrykey>"), std::string::npos) << r->xml;
  EXPECT_TRUE(CYRegistry::GetSubKeyNames(Path(u"Missing")).empty());
  EXPECT_TRUE(CYRegistry::GetValueNames(Path(u"Missing"), -1).empty());
  EXPECT_FALSE(CYRegistry::Exists(Path(u"Missing"), nullptr));

  // With bCreate every missing component is made, and the key is writable.
  ASSERT_EQ(CYRegistry::RegOpenRegKey(key, Path(u"Made\\Here\\\\"), false, true, true, false), ERROR_SUCCESS);
  DWORD one = 1;
  EXPECT_EQ(RegSetValueExW(key.Get(), u"v", 0, REG_DWORD, reinterpret_cast<BYTE*>(&one), 4), ERROR_SUCCESS);
  // Opened for reading only, a write is refused.
  ASSERT_EQ(CYRegistry::RegOpenRegKey(key, Path(u"Made\\Here"), true, false, false, false), ERROR_SUCCESS);
  EXPECT_NE(RegSetValueExW(key.Get(), u"v", 0, REG_DWORD, reinterpret_cast<BYTE*>(&one), 4), ERROR_SUCCESS);
}

TEST_F(CYRegistryTest, ValuesWithAndWithoutDefaults) {
  CYRegistry::SetValue(Path(u"A\\B\\C"), u"File", u"/var/log/x.log");  // creates A, B and C
  CYRegistry::SetValue(Path(u"A\\B\\C"), u"Level", DWORD{4});
  CYRegistry::SetValue(Path(u"A\\B\\C"), u"", u"default value");

  EXPECT_EQ(U8(CYRegistry::GetStringValue(Path(u"A\\B\\C"), u"File", nullptr)), "/var/log/x.log");
  EXPECT_EQ(U8(CYRegistry::GetStringValue(Path(u"A\\B\\C"), u"", nullptr)), "default value");
  EXPECT_EQ(CYRegistry::GetDWORDValue(Path(u"A\\B\\C"), u"Level", 2, true), 4u);

  // Wrong types and missing values.
  EXPECT_EQ(U8(CYRegistry::GetStringValue(Path(u"A\\B\\C"), u"Level", u"fallback")), "fallback");
  auto r = Catch([&] { CYRegistry::GetStringValue(Path(u"A\\B\\C"), u"Level", nullptr, true); });
  ASSERT_TRUE(r);
  EXPECT_EQ(r->entries, (Entries{{"The data is invalid.", static_cast<int>(0x8007000Du)},
                                 {"Failed to read registry value.", 2014}}));
  EXPECT_NE(r->xml.find("<Registrykey>" + U8(Path(u"A\\B\\C\\Level")) + "</Registrykey>"), std::string::npos);
  EXPECT_NE(r->xml.find("<bUse64bitHive>1</bUse64bitHive>"), std::string::npos) << r->xml;
  EXPECT_EQ(U8(CYRegistry::GetStringValue(Path(u"Nokey"), u"File", u"d")), "d");
  r = Catch([&] { CYRegistry::GetStringValue(Path(u"Nokey"), u"File", nullptr); });
  ASSERT_TRUE(r);
  EXPECT_EQ(r->entries.back(), (std::pair<std::string, int>{"Failed to open registry key.", 2004}));

  EXPECT_EQ(CYRegistry::GetDWORDValue(Path(u"A\\B\\C"), u"File", 7, false), 7u);
  EXPECT_EQ(CYRegistry::GetDWORDValue(Path(u"A\\B\\C"), u"None", 7, false), 7u);
  EXPECT_EQ(CYRegistry::GetDWORDValue(Path(u"Nokey"), u"None", 7, false), 7u);
  r = Catch([&] { CYRegistry::GetDWORDValue(Path(u"A\\B\\C"), u"None", 7, true); });
  ASSERT_TRUE(r);
  EXPECT_EQ(r->entries.back(), (std::pair<std::string, int>{"Failed to read registry value.", 2014}));

  r = Catch([&] { CYRegistry::SetValue(Path(u"A"), u"x", static_cast<const char16_t*>(nullptr)); });
  ASSERT_TRUE(r);
  EXPECT_EQ(r->entries, (Entries{{"Unspecified error", static_cast<int>(0x80004005u)}}));
}

TEST_F(CYRegistryTest, EnumerationAndExistence) {
  CYRegistry::SetValue(Path(u"Plugins\\{B}"), u"File", u"x");
  CYRegistry::SetValue(Path(u"Plugins\\{a}"), u"Count", DWORD{1});
  CYRegistry::SetValue(Path(u"Plugins\\{a}"), u"Name", u"n");
  CYRegistry::SetValue(Path(u"Plugins\\{a}"), u"Size", DWORD{2});
  CYRegistry::RegOpenRegKey(*std::make_unique<CYRegKey>(), Path(u"Plugins\\Empty"), false, false, true, false);

  const auto subkeys = CYRegistry::GetSubKeyNames(Path(u"Plugins"));
  ASSERT_EQ(subkeys.size(), 3u);
  // The registry's order: names without regard to case.
  EXPECT_EQ(U8(subkeys[0]), "Empty");
  EXPECT_EQ(U8(subkeys[1]), "{a}");
  EXPECT_EQ(U8(subkeys[2]), "{B}");

  const auto all = CYRegistry::GetValueNames(Path(u"Plugins\\{a}"), -1);
  ASSERT_EQ(all.size(), 3u);
  EXPECT_EQ(U8(all[0].name), "Count");
  EXPECT_EQ(all[0].type, REG_DWORD);
  EXPECT_EQ(U8(all[1].name), "Name");
  EXPECT_EQ(all[1].type, REG_SZ);
  const auto dwords = CYRegistry::GetValueNames(Path(u"Plugins\\{a}"), REG_DWORD);
  ASSERT_EQ(dwords.size(), 2u);
  EXPECT_EQ(U8(dwords[1].name), "Size");

  EXPECT_TRUE(CYRegistry::Exists(Path(u"Plugins\\Empty"), nullptr));
  EXPECT_FALSE(CYRegistry::Exists(Path(u"Plugins\\Empty"), u"File"));
  EXPECT_TRUE(CYRegistry::Exists(Path(u"Plugins\\{B}"), u"FILE"));
  EXPECT_TRUE(CYRegistry::Exists(Path(u"plugins\\{b}"), u"file"));  // key names ignore case too
  EXPECT_FALSE(CYRegistry::Exists(Path(u"Plugins\\{B}"), u"Files"));
}

}  // namespace
