// Test fixture: a fresh registry store in a temporary folder for each test.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "platform/registry/store.h"
#include "platform/registry/winreg.h"
#include "platform/text.h"

class TempStore : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "velreg-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    path_ = dir_ + "/registry.db";
    setenv("VEL_REGISTRY", path_.c_str(), 1);
    vel::RegistryReset();
  }
  void TearDown() override {
    vel::RegistryReset();
    vel::RegistrySetBusyTimeout(5000);
    std::error_code ignored;
    std::filesystem::permissions(dir_, std::filesystem::perms::owner_all, ignored);
    std::filesystem::remove_all(dir_, ignored);
  }

  // Creates (or opens) a key below HKCU with full access.
  HKEY Create(const char16_t* path) {
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    return key;
  }
  static LONG SetString(HKEY key, const char16_t* name, std::u16string_view text) {
    std::u16string data(text);
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                          static_cast<DWORD>((data.size() + 1) * 2));
  }
  static LONG SetDword(HKEY key, const char16_t* name, DWORD value) {
    return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
  }
  // The string value as stored, without its terminator; "<error N>" on failure.
  static std::u16string GetString(HKEY key, const char16_t* name) {
    char16_t buf[512];
    DWORD size = sizeof buf;
    DWORD type = 0;
    LONG rc = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buf), &size);
    if (rc != ERROR_SUCCESS) return u"<error " + vel::FromUtf8(std::to_string(rc)) + u">";
    std::u16string out(buf, size / 2);
    if (!out.empty() && out.back() == 0) out.pop_back();
    return out;
  }

  std::string dir_;
  std::string path_;
};
