// The Reg* API within one process: names and order, typed values and the
// buffer protocol, the HKEY_CLASSES_ROOT view, persistence, deletion, errors.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

#include "platform/text.h"
#include "testing/TempStore.h"

using namespace vel::testing;

namespace {

using RegistryTest = TempStore;

std::vector<std::u16string> SubkeyNames(HKEY key) {
  std::vector<std::u16string> out;
  for (DWORD i = 0;; ++i) {
    char16_t name[256];
    DWORD cch = 256;
    LONG rc = RegEnumKeyExW(key, i, name, &cch, nullptr, nullptr, nullptr, nullptr);
    if (rc != ERROR_SUCCESS) {
      EXPECT_EQ(rc, ERROR_NO_MORE_ITEMS);
      break;
    }
    EXPECT_EQ(cch, vel::U16Len(name));
    out.emplace_back(name, cch);
  }
  return out;
}

std::vector<std::u16string> ValueNames(HKEY key) {
  std::vector<std::u16string> out;
  for (DWORD i = 0;; ++i) {
    char16_t name[256];
    DWORD cch = 256;
    LONG rc = RegEnumValueW(key, i, name, &cch, nullptr, nullptr, nullptr, nullptr);
    if (rc != ERROR_SUCCESS) {
      EXPECT_EQ(rc, ERROR_NO_MORE_ITEMS);
      break;
    }
    out.emplace_back(name, cch);
  }
  return out;
}

TEST_F(RegistryTest, SubkeysEnumerateInCaseInsensitiveOrderAndKeepTheirCase) {
  HKEY root = Create(u"Software\\Order");
  // '_' sorts after the letters because names compare upper-cased; 'ä'
  // and 'Ä' are one name.
  for (const char16_t* name : {u"beta", u"_under", u"Alpha", u"\u00e4rger", u"Zeta", u"gamma", u"\u00c4RGER"}) {
    HKEY k = nullptr;
    DWORD disposition = 0;
    ASSERT_EQ(RegCreateKeyExW(root, name, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, &disposition), ERROR_SUCCESS);
    EXPECT_EQ(disposition, std::u16string_view(name) == u"\u00c4RGER" ? REG_OPENED_EXISTING_KEY : REG_CREATED_NEW_KEY)
        << vel::ToUtf8(name);
    RegCloseKey(k);
  }
  EXPECT_EQ(SubkeyNames(root),
            (std::vector<std::u16string>{u"Alpha", u"beta", u"gamma", u"Zeta", u"_under", u"\u00e4rger"}));
  HKEY k = nullptr;
  EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"SOFTWARE\\order\\ALPHA", 0, KEY_READ, &k), ERROR_SUCCESS);
  RegCloseKey(k);
  RegCloseKey(root);
}

TEST_F(RegistryTest, ValuesKeepCreationOrderAndCaseAndMatchWithoutCase) {
  HKEY key = Create(u"Software\\Values");
  ASSERT_EQ(SetString(key, u"Zulu", u"1"), ERROR_SUCCESS);
  ASSERT_EQ(SetString(key, u"alpha", u"2"), ERROR_SUCCESS);
  ASSERT_EQ(SetString(key, u"\u00dcber", u"3"), ERROR_SUCCESS);
  ASSERT_EQ(SetString(key, nullptr, u"default"), ERROR_SUCCESS);
  // Replacing through another spelling keeps the place and the first spelling.
  ASSERT_EQ(SetString(key, u"ZULU", u"one"), ERROR_SUCCESS);
  ASSERT_EQ(SetString(key, u"\u00fcBER", u"three"), ERROR_SUCCESS);
  EXPECT_EQ(ValueNames(key), (std::vector<std::u16string>{u"Zulu", u"alpha", u"\u00dcber", u""}));
  EXPECT_EQ(GetString(key, u"zulu"), u"one");
  EXPECT_EQ(GetString(key, u"\u00dcBER"), u"three");
  EXPECT_EQ(GetString(key, u""), u"default");  // empty and null name are the default value
  EXPECT_EQ(GetString(key, nullptr), u"default");
  // Deleting from the middle keeps the others' order; a new value goes last.
  ASSERT_EQ(RegDeleteValueW(key, u"ALPHA"), ERROR_SUCCESS);
  ASSERT_EQ(SetString(key, u"new", u"4"), ERROR_SUCCESS);
  EXPECT_EQ(ValueNames(key), (std::vector<std::u16string>{u"Zulu", u"\u00dcber", u"", u"new"}));
  RegCloseKey(key);
}

TEST_F(RegistryTest, TypedValuesRoundTripAsRawBytes) {
  const char16_t sz[] = u"audio/mp4|audio/aac";
  const char16_t expand[] = u"%HOME%\\x";
  const char16_t multi[] = u"a\0bc\0";  // two strings and the list's terminator
  const DWORD dword = 10;
  const ULONGLONG qword = 0x123456789ABCDEF0ull;
  const BYTE binary[] = {1, 2, 0xFF, 0};
  struct Case {
    const char* label;
    DWORD type;
    const void* data;
    DWORD size;
  } cases[] = {
      {"REG_SZ", REG_SZ, sz, sizeof sz},
      {"REG_EXPAND_SZ", REG_EXPAND_SZ, expand, sizeof expand},
      {"REG_MULTI_SZ", REG_MULTI_SZ, multi, sizeof multi},
      {"REG_DWORD", REG_DWORD, &dword, sizeof dword},
      {"REG_QWORD", REG_QWORD, &qword, sizeof qword},
      {"REG_BINARY", REG_BINARY, binary, sizeof binary},
      {"empty REG_BINARY", REG_BINARY, nullptr, 0},
      {"REG_SZ without terminator", REG_SZ, sz, 6},
  };
  HKEY key = Create(u"Software\\Typed");
  for (const Case& c : cases) {
    std::u16string name = vel::FromUtf8(c.label);
    ASSERT_EQ(RegSetValueExW(key, name.c_str(), 0, c.type, static_cast<const BYTE*>(c.data), c.size), ERROR_SUCCESS)
        << c.label;
  }
  vel::RegistryReset();  // read back from the file, not from anything in memory
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\Typed", 0, KEY_READ, &key), ERROR_SUCCESS);
  for (const Case& c : cases) {
    std::u16string name = vel::FromUtf8(c.label);
    DWORD type = 0;
    DWORD size = 0;
    ASSERT_EQ(RegQueryValueExW(key, name.c_str(), nullptr, &type, nullptr, &size), ERROR_SUCCESS) << c.label;
    EXPECT_EQ(type, c.type) << c.label;
    EXPECT_EQ(size, c.size) << c.label;
    std::vector<BYTE> buf(size + 8, 0xCC);
    DWORD cb = static_cast<DWORD>(buf.size());
    ASSERT_EQ(RegQueryValueExW(key, name.c_str(), nullptr, nullptr, buf.data(), &cb), ERROR_SUCCESS) << c.label;
    ASSERT_EQ(cb, c.size) << c.label;
    EXPECT_TRUE(c.size == 0 || std::memcmp(buf.data(), c.data, c.size) == 0) << c.label;
    EXPECT_EQ(buf[c.size], 0xCC) << c.label << ": nothing is written past the value";
  }
  RegCloseKey(key);
}

TEST_F(RegistryTest, BufferSizeProtocol) {
  HKEY key = Create(u"Software\\Sizes");
  ASSERT_EQ(SetString(key, u"LongValueName", u"0123456789"), ERROR_SUCCESS);  // 22 bytes with terminator
  BYTE buf[64];
  DWORD type = 0;
  // Too small: ERROR_MORE_DATA and the size needed.
  DWORD cb = 21;
  EXPECT_EQ(RegQueryValueExW(key, u"LongValueName", nullptr, &type, buf, &cb), ERROR_MORE_DATA);
  EXPECT_EQ(cb, 22u);
  EXPECT_EQ(type, REG_SZ);
  cb = 22;
  EXPECT_EQ(RegQueryValueExW(key, u"LongValueName", nullptr, nullptr, buf, &cb), ERROR_SUCCESS);
  // No size for a buffer.
  EXPECT_EQ(RegQueryValueExW(key, u"LongValueName", nullptr, nullptr, buf, nullptr), ERROR_INVALID_PARAMETER);
  // Neither buffer nor size: only whether it exists.
  EXPECT_EQ(RegQueryValueExW(key, u"LongValueName", nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);

  // Enumeration: the name needs room for its terminator.
  char16_t name[32];
  DWORD cch = 13;
  EXPECT_EQ(RegEnumValueW(key, 0, name, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
  cch = 14;
  cb = 4;
  EXPECT_EQ(RegEnumValueW(key, 0, name, &cch, nullptr, &type, buf, &cb), ERROR_MORE_DATA);
  EXPECT_EQ(cb, 22u);
  cch = 14;
  cb = sizeof buf;
  EXPECT_EQ(RegEnumValueW(key, 0, name, &cch, nullptr, &type, buf, &cb), ERROR_SUCCESS);
  EXPECT_EQ(cch, 13u);
  EXPECT_EQ(std::u16string(name), u"LongValueName");
  EXPECT_EQ(cb, 22u);

  HKEY sub = nullptr;
  ASSERT_EQ(RegCreateKeyExW(key, u"Subkey", 0, nullptr, 0, KEY_READ, nullptr, &sub, nullptr), ERROR_SUCCESS);
  RegCloseKey(sub);
  cch = 6;
  EXPECT_EQ(RegEnumKeyExW(key, 0, name, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
  cch = 7;
  EXPECT_EQ(RegEnumKeyExW(key, 0, name, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(cch, 6u);

  DWORD subKeys = 0, maxSubKey = 0, values = 0, maxValueName = 0, maxValue = 0;
  ASSERT_EQ(RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subKeys, &maxSubKey, nullptr, &values, &maxValueName,
                             &maxValue, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(subKeys, 1u);
  EXPECT_EQ(maxSubKey, 6u);
  EXPECT_EQ(values, 1u);
  EXPECT_EQ(maxValueName, 13u);
  EXPECT_EQ(maxValue, 22u);
  RegCloseKey(key);
}

TEST_F(RegistryTest, ClassesRootIsAViewOfLocalMachineSoftwareClasses) {
  HKEY viaRoot = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, u"CLSID\\{1234}\\InprocServer32", 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &viaRoot, nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(SetString(viaRoot, nullptr, u"/lib/x.so"), ERROR_SUCCESS);
  RegCloseKey(viaRoot);
  HKEY viaMachine = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"software\\CLASSES\\clsid\\{1234}\\InprocServer32", 0, KEY_ALL_ACCESS,
                          &viaMachine),
            ERROR_SUCCESS);
  EXPECT_EQ(GetString(viaMachine, nullptr), u"/lib/x.so");
  RegCloseKey(viaMachine);

  HKEY machineClasses = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Classes\\.m4a", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            &machineClasses, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(machineClasses);
  EXPECT_EQ(SubkeyNames(HKEY_CLASSES_ROOT), (std::vector<std::u16string>{u".m4a", u"CLSID"}));
  // Nothing leaks into the other roots.
  EXPECT_TRUE(SubkeyNames(HKEY_CURRENT_USER).empty());
}

TEST_F(RegistryTest, ContentSurvivesReopeningTheStore) {
  HKEY key = Create(u"Software\\Zandor\\Keep");
  ASSERT_EQ(SetDword(key, u"Count", 10), ERROR_SUCCESS);
  RegCloseKey(key);
  vel::RegistryReset();
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\Zandor\\Keep", 0, KEY_READ, &key), ERROR_SUCCESS);
  DWORD value = 0, cb = sizeof value, type = 0;
  EXPECT_EQ(RegQueryValueExW(key, u"count", nullptr, &type, reinterpret_cast<BYTE*>(&value), &cb), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_DWORD);
  EXPECT_EQ(value, 10u);
  RegCloseKey(key);
}

TEST_F(RegistryTest, HandlesAndPaths) {
  HKEY key = Create(u"A\\B\\C");
  ASSERT_NE(key, nullptr);
  // An empty or null subkey opens the key again: a handle of its own.
  HKEY again = nullptr, againNull = nullptr;
  ASSERT_EQ(RegOpenKeyExW(key, u"", 0, KEY_READ, &again), ERROR_SUCCESS);
  ASSERT_EQ(RegOpenKeyExW(key, nullptr, 0, KEY_READ, &againNull), ERROR_SUCCESS);
  EXPECT_NE(again, key);
  EXPECT_NE(again, againNull);
  EXPECT_EQ(RegCloseKey(again), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(againNull), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(again), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegQueryValueExW(again, u"x", nullptr, nullptr, nullptr, nullptr), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegCloseKey(nullptr), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);  // the roots stay usable
  EXPECT_EQ(SubkeyNames(HKEY_CURRENT_USER), std::vector<std::u16string>{u"A"});

  // Each component is walked; separators are not part of names.
  HKEY c = nullptr;
  EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"a\\b\\c", 0, KEY_READ, &c), ERROR_SUCCESS);
  RegCloseKey(c);
  EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"A\\B\\C\\D", 0, KEY_READ, &c), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(c, nullptr);
  EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"A\\B", 0, KEY_READ, nullptr), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegOpenKeyExW(reinterpret_cast<HKEY>(0x12345678), u"A", 0, KEY_READ, &c), ERROR_INVALID_HANDLE);
  const std::u16string tooLong(256, u'x');
  EXPECT_EQ(RegCreateKeyExW(key, tooLong.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &c, nullptr),
            ERROR_INVALID_PARAMETER);
  RegCloseKey(key);
}

TEST_F(RegistryTest, MissingItemsAndAccessRights) {
  HKEY key = Create(u"Software\\Errors");
  EXPECT_EQ(RegQueryValueExW(key, u"absent", nullptr, nullptr, nullptr, nullptr), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteValueW(key, u"absent"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteKeyW(key, u"absent"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteTreeW(key, u"absent"), ERROR_FILE_NOT_FOUND);
  char16_t name[16];
  DWORD cch = 16;
  EXPECT_EQ(RegEnumKeyExW(key, 0, name, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
  EXPECT_EQ(RegEnumValueW(key, 0, name, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
  ASSERT_EQ(SetDword(key, u"v", 1), ERROR_SUCCESS);

  HKEY readOnly = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\Errors", 0, KEY_READ, &readOnly), ERROR_SUCCESS);
  EXPECT_EQ(SetDword(readOnly, u"v", 2), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteValueW(readOnly, u"v"), ERROR_ACCESS_DENIED);
  HKEY child = nullptr;
  EXPECT_EQ(RegCreateKeyExW(readOnly, u"new", 0, nullptr, 0, KEY_READ, nullptr, &child, nullptr),
            ERROR_ACCESS_DENIED);
  DWORD value = 0, cb = sizeof value;
  EXPECT_EQ(RegQueryValueExW(readOnly, u"v", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &cb), ERROR_SUCCESS);
  EXPECT_EQ(value, 1u);
  HKEY writeOnly = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\Errors", 0, KEY_WRITE, &writeOnly), ERROR_SUCCESS);
  EXPECT_EQ(RegQueryValueExW(writeOnly, u"v", nullptr, nullptr, nullptr, nullptr), ERROR_ACCESS_DENIED);
  EXPECT_EQ(SetDword(writeOnly, u"v", 3), ERROR_SUCCESS);
  RegCloseKey(writeOnly);
  RegCloseKey(readOnly);
  RegCloseKey(key);
}

TEST_F(RegistryTest, DeletingKeysAndTrees) {
  HKEY top = Create(u"Software\\Del");
  HKEY leaf = Create(u"Software\\Del\\Mid\\Leaf");
  ASSERT_EQ(SetDword(leaf, u"x", 1), ERROR_SUCCESS);
  HKEY other = Create(u"Software\\Del\\Other");
  ASSERT_EQ(SetDword(top, u"kept", 1), ERROR_SUCCESS);

  EXPECT_EQ(RegDeleteKeyW(top, u"Mid"), ERROR_ACCESS_DENIED);  // it has a subkey
  EXPECT_EQ(RegDeleteKeyW(HKEY_CURRENT_USER, u""), ERROR_ACCESS_DENIED);  // roots stay
  EXPECT_EQ(RegDeleteKeyW(top, u"mid\\LEAF"), ERROR_SUCCESS);
  // A handle to a deleted key reports so.
  EXPECT_EQ(RegQueryValueExW(leaf, u"x", nullptr, nullptr, nullptr, nullptr), ERROR_KEY_DELETED);
  EXPECT_EQ(SetDword(leaf, u"y", 1), ERROR_KEY_DELETED);
  char16_t name[16];
  DWORD cch = 16;
  EXPECT_EQ(RegEnumValueW(leaf, 0, name, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_KEY_DELETED);
  HKEY h = nullptr;
  EXPECT_EQ(RegCreateKeyExW(leaf, u"again", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr), ERROR_KEY_DELETED);
  EXPECT_EQ(RegCloseKey(leaf), ERROR_SUCCESS);
  // Recreating the name makes a new key, without the old values.
  leaf = Create(u"Software\\Del\\Mid\\Leaf");
  EXPECT_EQ(RegQueryValueExW(leaf, u"x", nullptr, nullptr, nullptr, nullptr), ERROR_FILE_NOT_FOUND);
  RegCloseKey(leaf);

  // A tree goes with all below it; its siblings and its parent's values stay.
  Create(u"Software\\Del\\Mid\\Leaf\\Deeper");  // handle closed by RegistryReset at the end
  ASSERT_EQ(RegDeleteTreeW(top, u"MID"), ERROR_SUCCESS);
  EXPECT_EQ(RegOpenKeyExW(top, u"Mid", 0, KEY_READ, &h), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(SubkeyNames(top), std::vector<std::u16string>{u"Other"});
  EXPECT_EQ(ValueNames(top), std::vector<std::u16string>{u"kept"});

  // Without a subkey: the key stays, empty.
  ASSERT_EQ(RegDeleteTreeW(top, nullptr), ERROR_SUCCESS);
  EXPECT_TRUE(SubkeyNames(top).empty());
  EXPECT_TRUE(ValueNames(top).empty());
  EXPECT_EQ(SetDword(other, u"z", 1), ERROR_KEY_DELETED);
  RegCloseKey(other);
  RegCloseKey(top);
}

TEST_F(RegistryTest, ThreadsWritingAtOnceLoseNothing) {
  HKEY key = Create(u"Software\\Threads");
  constexpr int kThreads = 4;
  constexpr int kEach = 200;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) {
        std::u16string name = vel::FromUtf8("t" + std::to_string(t) + "_" + std::to_string(i));
        ASSERT_EQ(SetDword(key, name.c_str(), static_cast<DWORD>(i)), ERROR_SUCCESS);
      }
    });
  }
  for (auto& th : threads) th.join();
  DWORD values = 0;
  ASSERT_EQ(RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr, nullptr,
                             nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(values, static_cast<DWORD>(kThreads * kEach));
  RegCloseKey(key);
}

}  // namespace
