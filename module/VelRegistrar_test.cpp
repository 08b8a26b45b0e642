// The script walker's removal rules on a small script in a fresh store.
#include "module/VelRegistrar.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "platform/registry/store.h"
#include "testing/TempStore.h"

using namespace vel::testing;

namespace {

class Registrar : public TempStore {
 protected:
  static bool Exists(const char16_t* path) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
  }
  static std::u16string Get(const char16_t* path, const char16_t* name) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return u"<no key>";
    char16_t data[256];
    DWORD size = sizeof data;
    LSTATUS rc = RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS) return u"<no value>";
    return std::u16string(data, size / 2 - 1);
  }
  static void Put(const char16_t* path, const char16_t* name, const std::u16string& text) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                   static_cast<DWORD>((text.size() + 1) * 2));
    RegCloseKey(key);
  }

  // HKCU { NoRemove Shared { Plain = s '%X%' { val V = s 'v' Child = s 'c' }
  //                          ForceRemove Owned { val W = s '%X%-w' Sub } } }
  static VelRegScript Script() {
    VelRegKey plainChild{u"Child", u"c", {}, VelRegFlag::None, {}};
    VelRegKey plain{u"Plain", u"%X%", {{u"V", u"v"}}, VelRegFlag::None, {plainChild}};
    VelRegKey owned{u"Owned", std::nullopt, {{u"W", u"%X%-w"}}, VelRegFlag::ForceRemove,
                    {VelRegKey{u"Sub", std::nullopt, {}, VelRegFlag::None, {}}}};
    VelRegKey shared{u"Shared", std::nullopt, {}, VelRegFlag::NoRemove, {plain, owned}};
    return VelRegScript{HKEY_CURRENT_USER, {shared}};
  }
  const VelRegReplacements replacements_{{u"%X%", u"ex"}};
};

TEST_F(Registrar, RegisterWritesTheTreeAndForceRemoveStartsAfresh) {
  Put(u"Owned-not", nullptr, u"");  // unrelated
  Put(u"Shared\\Owned", u"Stale", u"old");
  Put(u"Shared\\Owned\\Sub\\Stale", nullptr, u"old");
  Put(u"Shared\\Owned\\Sub", u"Stale", u"old");
  ASSERT_EQ(VelRunRegScript(Script(), true, replacements_), S_OK);
  EXPECT_EQ(Get(u"Shared\\Plain", nullptr), u"ex");
  EXPECT_EQ(Get(u"Shared\\Plain", u"V"), u"v");
  EXPECT_EQ(Get(u"Shared\\Plain\\Child", nullptr), u"c");
  EXPECT_EQ(Get(u"Shared\\Owned", u"W"), u"ex-w");
  EXPECT_TRUE(Exists(u"Shared\\Owned\\Sub"));
  EXPECT_EQ(Get(u"Shared\\Owned", u"Stale"), u"<no value>");
  EXPECT_EQ(Get(u"Shared\\Owned\\Sub", u"Stale"), u"<no value>");
  EXPECT_FALSE(Exists(u"Shared\\Owned\\Sub\\Stale"));
}

// Registering again writes nothing: keys are not made anew (a handle another
// reader holds stays valid) and no write time moves.
TEST_F(Registrar, RegisteringAgainChangesNothing) {
  ASSERT_EQ(VelRunRegScript(Script(), true, replacements_), S_OK);
  HKEY sub = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Shared\\Owned\\Sub", 0, KEY_READ, &sub), ERROR_SUCCESS);
  FILETIME before{}, after{};
  ASSERT_EQ(RegQueryInfoKeyW(sub, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                             nullptr, &before),
            ERROR_SUCCESS);
  ASSERT_EQ(VelRunRegScript(Script(), true, replacements_), S_OK);
  EXPECT_EQ(RegQueryInfoKeyW(sub, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                             nullptr, &after),
            ERROR_SUCCESS);
  EXPECT_EQ(after.dwLowDateTime, before.dwLowDateTime);
  EXPECT_EQ(after.dwHighDateTime, before.dwHighDateTime);
  RegCloseKey(sub);
  EXPECT_EQ(Get(u"Shared\\Owned", u"W"), u"ex-w");
}

TEST_F(Registrar, UnregisterKeepsNoRemoveKeysAndForeignContent) {
  ASSERT_EQ(VelRunRegScript(Script(), true, replacements_), S_OK);
  Put(u"Shared\\Owned\\Sub\\Foreign", nullptr, u"goes with its ForceRemove parent");
  Put(u"Shared\\Plain", u"Foreign", u"keeps the plain key");
  Put(u"Shared\\Other", nullptr, u"not in the script");
  ASSERT_EQ(VelRunRegScript(Script(), false, replacements_), S_OK);
  EXPECT_FALSE(Exists(u"Shared\\Owned"));
  EXPECT_TRUE(Exists(u"Shared\\Other"));
  EXPECT_FALSE(Exists(u"Shared\\Plain\\Child"));
  EXPECT_EQ(Get(u"Shared\\Plain", u"Foreign"), u"keeps the plain key");
  EXPECT_EQ(Get(u"Shared\\Plain", u"V"), u"<no value>");
  EXPECT_EQ(Get(u"Shared\\Plain", nullptr), u"<no value>");

  // Once the foreign value is gone the plain key goes too; NoRemove stays even when empty.
  RegDeleteTreeW(HKEY_CURRENT_USER, u"Shared\\Other");
  Put(u"Shared\\Plain", u"V", u"v");
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Shared\\Plain", 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
  RegDeleteValueW(key, u"Foreign");
  RegCloseKey(key);
  ASSERT_EQ(VelRunRegScript(Script(), false, replacements_), S_OK);
  EXPECT_FALSE(Exists(u"Shared\\Plain"));
  EXPECT_TRUE(Exists(u"Shared"));
}

TEST(RegistrarText, PlaceholdersAreReplacedWhereverTheyStand) {
  const VelRegReplacements r = {{u"%MODULEDIR%", u"/d"}, {u"%MODULE%", u"/d/m.so"}};
  EXPECT_EQ(VelExpandRegText(u"%MODULE%", r), u"/d/m.so");
  EXPECT_EQ(VelExpandRegText(u"a%MODULEDIR%b%MODULE%", r), u"a/db/d/m.so");
  EXPECT_EQ(VelExpandRegText(u"100% %OTHER%", r), u"100% %OTHER%");
}

}  // namespace
