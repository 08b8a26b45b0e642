// velitems registry dump, run as a process on a small store.
#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/wait.h>

#include <fstream>
#include <string>

#include "testing/ChildProcess.h"
#include "testing/TempStore.h"

using namespace vel::testing;

namespace {

using Result = ProcessResult;
inline Result Velitems(const std::string& args, const std::string& dir) { return RunCaptured("velitems", args, dir); }

class CliRegistryTest : public TempStore {
 protected:
  void SetUp() override {
    TempStore::SetUp();
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Zandor", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                              nullptr),
              ERROR_SUCCESS);
    SetString(key, nullptr, u"default value");
    SetString(key, u"SupportedMIMEs", u"audio/mp4|audio/aac");
    SetDword(key, u"Count", 10);
    const BYTE binary[] = {1, 2, 0xFF};
    RegSetValueExW(key, u"Data", 0, REG_BINARY, binary, sizeof binary);
    const char16_t list[] = u"a\0b\0";
    RegSetValueExW(key, u"List", 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(list), sizeof list);
    const ULONGLONG big = 0x100000000ull;
    RegSetValueExW(key, u"Big", 0, REG_QWORD, reinterpret_cast<const BYTE*>(&big), sizeof big);
    SetString(key, u"Quote \"\\\" \u00e9", u"line\nnext");
    HKEY sub = nullptr;
    RegCreateKeyExW(key, u"beta", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &sub, nullptr);
    RegCloseKey(sub);
    RegCreateKeyExW(key, u"Alpha\\Inner", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &sub, nullptr);
    SetDword(sub, u"x", 1);
    RegCloseKey(sub);
    RegCloseKey(key);
    vel::RegistryReset();  // the child process opens the store itself
  }
};

const char kZandor[] =
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Zandor]\n"
    "@=REG_SZ:\"default value\"\n"
    "\"SupportedMIMEs\"=REG_SZ:\"audio/mp4|audio/aac\"\n"
    "\"Count\"=REG_DWORD:0x0000000a (10)\n"
    "\"Data\"=REG_BINARY:01 02 ff\n"
    "\"List\"=REG_MULTI_SZ:\"a\",\"b\"\n"
    "\"Big\"=REG_QWORD:0x0000000100000000 (4294967296)\n"
    "\"Quote \\\"\\\\\\\" \xc3\xa9\"=REG_SZ:\"line\\nnext\"\n"
    "\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Zandor\\Alpha]\n"
    "\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Zandor\\Alpha\\Inner]\n"
    "\"x\"=REG_DWORD:0x00000001 (1)\n"
    "\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Zandor\\beta]\n";

TEST_F(CliRegistryTest, DumpsAKeyAndEverythingBelowIt) {
  for (const char* spelling : {"'HKEY_LOCAL_MACHINE\\SOFTWARE\\Zandor'", "'hklm\\software\\zandor\\'"}) {
    Result r = Velitems(std::string("registry dump ") + spelling, dir_);
    EXPECT_EQ(r.status, 0) << spelling << r.err;
    EXPECT_EQ(r.out, kZandor) << spelling;
    EXPECT_EQ(r.err, "") << spelling;
  }
}

TEST_F(CliRegistryTest, DumpsEveryRootByDefault) {
  Result r = Velitems("registry dump", dir_);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, std::string("[HKEY_LOCAL_MACHINE]\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE]\n\n") + kZandor +
                       "\n[HKEY_CURRENT_USER]\n\n[HKEY_USERS]\n\n[HKEY_CURRENT_CONFIG]\n");
}

TEST_F(CliRegistryTest, FailuresAndBadArguments) {
  struct Case {
    const char* args;
    int status;
    const char* err;  // part of standard error
  } cases[] = {
      {"registry dump 'HKCU\\Missing'", 1, "not found"},
      {"registry dump 'HKXX\\Software'", 2, "usage:"},
      {"registry dump a b", 2, "usage:"},
      {"registry", 2, "usage:"},
      {"nonsense", 2, "unknown command"},
      {"", 2, "usage:"},
  };
  for (const Case& c : cases) {
    Result r = Velitems(c.args, dir_);
    EXPECT_EQ(r.status, c.status) << c.args;
    EXPECT_NE(r.err.find(c.err), std::string::npos) << c.args << ": " << r.err;
    EXPECT_EQ(r.out, "") << c.args;
  }
  std::ofstream(path_, std::ios::trunc) << std::string(100, 'x');
  Result r = Velitems("registry dump HKLM", dir_);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("1015"), std::string::npos) << r.err;
}

}  // namespace
