// Test fixture: a fresh registry store in a temporary folder for each test
// (TempRegistry), with small helpers to write and read values below HKCU.
//
// Thread safety: GoogleTest runs SetUp, the test body and TearDown on one
// thread; threads a test starts must end before TearDown.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/registry/store.h"
#include "platform/registry/winreg.h"
#include "platform/text.h"
#include "testing/TempRegistry.h"

namespace vel::testing {

class TempStore : public ::testing::Test {
 protected:
  void SetUp() override {
    store_ = std::make_unique<TempRegistry>("velreg");
    dir_ = store_->dir();
    path_ = store_->path();
  }
  void TearDown() override { store_.reset(); }

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

  std::unique_ptr<TempRegistry> store_;
  std::string dir_;
  std::string path_;
};

}  // namespace vel::testing
