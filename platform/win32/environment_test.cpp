#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/text.h"
#include "platform/win32/winbase.h"

namespace {

std::u16string Expand(const char16_t* src) {
  DWORD n = ExpandEnvironmentStringsW(src, nullptr, 0);
  if (n == 0) return u"<fail>";
  std::u16string out(n, u'#');
  EXPECT_EQ(ExpandEnvironmentStringsW(src, out.data(), n), n);
  EXPECT_EQ(out.back(), u'\0');
  out.pop_back();
  return out;
}

TEST(Environment, ExpandsKnownNamesOnly) {
  setenv("VEL_T_A", "alpha", 1);
  setenv("VEL_T_WIDE", "\xC3\xA9t\xC3\xA9", 1);
  struct Row {
    const char16_t* in;
    const char16_t* out;
  };
  const Row rows[] = {
      {u"x%VEL_T_A%y", u"xalphay"},
      {u"%VEL_T_A%%VEL_T_A%", u"alphaalpha"},
      {u"%vel_t_a%", u"alpha"},
      {u"%VEL_T_WIDE%", u"\u00E9t\u00E9"},
      {u"a%VEL_T_NONE%b", u"a%VEL_T_NONE%b"},
      {u"%VEL_T_NONE%VEL_T_A%", u"%VEL_T_NONEalpha"},
      {u"100% sure", u"100% sure"},
      {u"%%", u"%%"},
      {u"", u""},
  };
  for (const Row& r : rows) EXPECT_EQ(Expand(r.in), r.out) << vel::ToUtf8(r.in);

  WCHAR small[4];
  EXPECT_EQ(ExpandEnvironmentStringsW(u"%VEL_T_A%", small, 4), 6u) << "the size needed";

  std::u16string huge(40000, u'x');
  SetLastError(0);
  EXPECT_EQ(ExpandEnvironmentStringsW(huge.c_str(), nullptr, 0), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
}

TEST(Environment, GetVariableSizes) {
  setenv("VEL_T_B", "beta", 1);
  WCHAR buf[8];
  EXPECT_EQ(GetEnvironmentVariableW(u"VEL_T_B", buf, 8), 4u);
  EXPECT_EQ(std::u16string(buf), u"beta");
  EXPECT_EQ(GetEnvironmentVariableW(u"VEL_T_B", buf, 4), 5u) << "no room for the terminator";
  SetLastError(0);
  EXPECT_EQ(GetEnvironmentVariableW(u"VEL_T_MISSING", buf, 8), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ENVVAR_NOT_FOUND));
}

TEST(Locale, FromTheEnvironment) {
  struct Row {
    const char* lcAll;
    const char* lcMessages;
    const char* lang;
    LCID lcid;
  };
  const Row rows[] = {
      {nullptr, nullptr, "en_US.UTF-8", 0x409}, {nullptr, nullptr, "en_GB.UTF-8", 0x809},
      {nullptr, nullptr, "de_DE.UTF-8", 0x407}, {nullptr, nullptr, "fr_FR", 0x40C},
      {nullptr, nullptr, "de_LU.UTF-8", 0x407}, {nullptr, nullptr, "C", 0x409},
      {nullptr, nullptr, "xx_YY", 0x409},       {nullptr, nullptr, nullptr, 0x409},
      {"fr_FR.UTF-8", "de_DE", "en_GB", 0x40C}, {nullptr, "de_DE@euro", "en_GB", 0x407},
      {"", "", "en_GB", 0x809},
  };
  auto put = [](const char* name, const char* value) {
    if (value) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  };
  for (const Row& r : rows) {
    put("LC_ALL", r.lcAll);
    put("LC_MESSAGES", r.lcMessages);
    put("LANG", r.lang);
    const std::string name = std::string(r.lcAll ? r.lcAll : "-") + "/" + (r.lcMessages ? r.lcMessages : "-") + "/" +
                             (r.lang ? r.lang : "-");
    EXPECT_EQ(GetUserDefaultLCID(), r.lcid) << name;
    EXPECT_EQ(GetUserDefaultLangID(), static_cast<LANGID>(r.lcid)) << name;
    EXPECT_EQ(GetThreadLocale(), r.lcid) << name;
  }
  EXPECT_EQ(GetSystemDefaultLCID(), 0x409u);

  put("LC_ALL", "en_GB.UTF-8");
  EXPECT_TRUE(SetThreadLocale(0x407));
  EXPECT_EQ(GetThreadLocale(), 0x407u);
  LCID other = 0;
  HANDLE t = CreateThread(
      nullptr, 0,
      [](LPVOID p) -> DWORD {
        *static_cast<LCID*>(p) = GetThreadLocale();
        return 0;
      },
      &other, 0, nullptr);
  WaitForSingleObject(t, INFINITE);
  CloseHandle(t);
  EXPECT_EQ(other, 0x809u) << "another thread keeps the user's locale";
  SetLastError(0);
  EXPECT_FALSE(SetThreadLocale(0x12345));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_TRUE(SetThreadLocale(LOCALE_USER_DEFAULT));
  EXPECT_EQ(GetThreadLocale(), 0x809u);
  unsetenv("LC_ALL");
}

TEST(DebugOutput, OnlyWhenAskedFor) {
  char path[] = "/tmp/vel-win32-debug-XXXXXX";
  int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  int saved = dup(STDERR_FILENO);
  dup2(fd, STDERR_FILENO);
  unsetenv("VEL_DEBUG_OUTPUT");
  OutputDebugStringW(u"hidden\n");
  setenv("VEL_DEBUG_OUTPUT", "1", 1);
  OutputDebugStringW(u"caf\u00E9\n");
  OutputDebugStringA("\x80 ansi\n");
  OutputDebugStringW(nullptr);
  unsetenv("VEL_DEBUG_OUTPUT");
  dup2(saved, STDERR_FILENO);
  close(saved);
  close(fd);
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  std::remove(path);
  EXPECT_EQ(text.str(), "caf\xC3\xA9\n\xE2\x82\xAC ansi\n");
}

}  // namespace
