#include <gtest/gtest.h>

#include <string>

#include "platform/com/hresult.h"
#include "platform/text.h"
#include "platform/win32/winbase.h"

namespace {

constexpr DWORD kSystem = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;

std::u16string Format(DWORD id, DWORD lang = 0) {
  WCHAR buf[512];
  DWORD n = FormatMessageW(kSystem, nullptr, id, lang, buf, 512, nullptr);
  return std::u16string(buf, n);
}

TEST(FormatMessage, KnowsThePlatformWording) {
  struct Row {
    DWORD id;
    const char16_t* text;
  };
  const Row rows[] = {
      {0, u"The operation completed successfully.\r\n"},
      {2, u"The system cannot find the file specified.\r\n"},
      {3, u"The system cannot find the path specified.\r\n"},
      {5, u"Access is denied.\r\n"},
      {87, u"The parameter is incorrect.\r\n"},
      {183, u"Cannot create a file when that file already exists.\r\n"},
      {259, u"No more data is available.\r\n"},
      {1113, u"No mapping for the Unicode character exists in the target multi-byte code page.\r\n"},
      {static_cast<DWORD>(E_NOTIMPL), u"Not implemented\r\n"},
      {static_cast<DWORD>(E_FAIL), u"Unspecified error\r\n"},
      {static_cast<DWORD>(E_UNEXPECTED), u"Catastrophic failure\r\n"},
      {static_cast<DWORD>(E_OUTOFMEMORY), u"Not enough memory resources are available to complete this operation.\r\n"},
      {static_cast<DWORD>(E_INVALIDARG), u"The parameter is incorrect.\r\n"},
      {static_cast<DWORD>(E_ACCESSDENIED), u"Access is denied.\r\n"},
      {static_cast<DWORD>(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)), u"The system cannot find the file specified.\r\n"},
      {static_cast<DWORD>(REGDB_E_CLASSNOTREG), u"Class not registered\r\n"},
      {static_cast<DWORD>(CLASS_E_NOAGGREGATION), u"Class does not support aggregation (or class object is remote)\r\n"},
      {static_cast<DWORD>(CO_E_NOTINITIALIZED), u"CoInitialize has not been called.\r\n"},
      {static_cast<DWORD>(DISP_E_TYPEMISMATCH), u"Type mismatch.\r\n"},
      {static_cast<DWORD>(DISP_E_OVERFLOW), u"Out of present range.\r\n"},
      {static_cast<DWORD>(DISP_E_DIVBYZERO), u"Division by zero.\r\n"},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(Format(r.id), r.text) << "message " << std::hex << r.id;
    EXPECT_EQ(Format(r.id, 0x409), r.text) << "message " << std::hex << r.id << " in 0x409";
  }
}

TEST(FormatMessage, UnknownNumbersAndLanguagesFail) {
  WCHAR buf[64];
  for (DWORD id : {DWORD{317}, DWORD{9999}, DWORD{0x80045D53}, DWORD{0x80070000 | 9999}}) {
    SetLastError(0);
    EXPECT_EQ(FormatMessageW(kSystem, nullptr, id, 0, buf, 64, nullptr), 0u) << std::hex << id;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MR_MID_NOT_FOUND)) << std::hex << id;
  }
  SetLastError(0);
  EXPECT_EQ(FormatMessageW(kSystem, nullptr, 2, 0x407, buf, 64, nullptr), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MUI_FILE_NOT_FOUND));
  EXPECT_EQ(Format(2, LANG_USER_DEFAULT), u"The system cannot find the file specified.\r\n");
}

TEST(FormatMessage, BufferSizesAndAllocation) {
  WCHAR small[8];
  SetLastError(0);
  EXPECT_EQ(FormatMessageW(kSystem, nullptr, 2, 0, small, 8, nullptr), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  WCHAR exact[20];  // "Access is denied.\r\n" and its terminator
  EXPECT_EQ(FormatMessageW(kSystem, nullptr, 5, 0, exact, 20, nullptr), 19u);
  EXPECT_EQ(exact[19], 0);
  EXPECT_EQ(FormatMessageW(kSystem, nullptr, 5, 0, exact, 19, nullptr), 0u);

  LPWSTR allocated = nullptr;
  DWORD n = FormatMessageW(kSystem | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr, 3, 0,
                           reinterpret_cast<LPWSTR>(&allocated), 0, nullptr);
  ASSERT_NE(allocated, nullptr);
  EXPECT_EQ(std::u16string(allocated, n), u"The system cannot find the path specified.\r\n");
  EXPECT_EQ(allocated[n], 0);
  EXPECT_EQ(LocalFree(allocated), nullptr);
}

TEST(GetModuleHandle, FindsOnlyLoadedModules) {
  SetLastError(0);
  EXPECT_EQ(GetModuleHandleW(u"winhttp.dll"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
  EXPECT_NE(GetModuleHandleW(nullptr), nullptr);
  EXPECT_NE(GetModuleHandleW(u"libvelplatform.so"), nullptr);
}

TEST(ModuleFiles, PathsHandlesAndExports) {
  HMODULE platform = nullptr;
  ASSERT_TRUE(GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                 reinterpret_cast<LPCWSTR>(&FormatMessageW), &platform));
  EXPECT_EQ(platform, GetModuleHandleW(u"libvelplatform.so"));
  WCHAR path[4096];
  DWORD n = GetModuleFileNameW(platform, path, 4096);
  ASSERT_GT(n, 0u);
  const std::u16string full(path, n);
  EXPECT_EQ(full[0], u'/');
  EXPECT_EQ(full.substr(full.rfind(u'/')), u"/libvelplatform.so");

  // Too small a buffer gets the truncated path, terminated.
  WCHAR small[5];
  SetLastError(0);
  EXPECT_EQ(GetModuleFileNameW(platform, small, 5), 5u);
  EXPECT_EQ(std::u16string(small), full.substr(0, 4));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));

  n = GetModuleFileNameW(nullptr, path, 4096);
  const std::u16string exe(path, n);
  EXPECT_EQ(exe.substr(exe.rfind(u'/')), u"/win32_messages_test");

  HMODULE loaded = LoadLibraryW(full.c_str());
  EXPECT_EQ(loaded, platform);
  EXPECT_NE(GetProcAddress(loaded, "FormatMessageW"), nullptr);
  SetLastError(0);
  EXPECT_EQ(GetProcAddress(loaded, "NoSuchFunction"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
  EXPECT_TRUE(FreeLibrary(loaded));
  EXPECT_EQ(LoadLibraryW(u"/no/such/library.so"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
}

}  // namespace
