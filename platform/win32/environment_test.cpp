#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>

#include "platform/com/oleauto.h"
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

namespace {

// Sets the variables that decide the language of messages for one test.
class LanguageEnv {
 public:
  LanguageEnv() {
    for (std::size_t i = 0; i < std::size(kNames); ++i) {
      const char* v = std::getenv(kNames[i]);
      saved_[i] = v ? std::optional<std::string>(v) : std::nullopt;
      unsetenv(kNames[i]);
    }
  }
  ~LanguageEnv() {
    for (std::size_t i = 0; i < std::size(kNames); ++i) {
      if (saved_[i]) {
        setenv(kNames[i], saved_[i]->c_str(), 1);
      } else {
        unsetenv(kNames[i]);
      }
    }
  }

 private:
  static constexpr const char* kNames[] = {"LC_ALL", "LC_MESSAGES", "LANG"};
  std::optional<std::string> saved_[3];
};

std::u16string Language(LCID lcid) {
  WCHAR buffer[8] = {};
  if (GetLocaleInfoW(lcid, LOCALE_SISO639LANGNAME, buffer, 8) == 0) return u"<fail " + vel::FromUtf8(std::to_string(GetLastError())) + u">";
  return buffer;
}

TEST(Environment, LocaleLanguageFollowsTheEnvironment) {
  struct Row {
    const char* name;
    const char* lcAll;
    const char* lcMessages;
    const char* lang;
    std::u16string want;
  };
  const Row rows[] = {
      {"nothing set", nullptr, nullptr, nullptr, u"en"},
      {"LANG alone", nullptr, nullptr, "de_DE.UTF-8", u"de"},
      {"LC_MESSAGES before LANG", nullptr, "fr_FR.UTF-8", "de_DE.UTF-8", u"fr"},
      {"LC_ALL before both", "es_ES@euro", "fr_FR", "de_DE", u"es"},
      {"language only", nullptr, nullptr, "pt", u"pt"},
      {"three letters", nullptr, nullptr, "fil_PH.UTF-8", u"fil"},
      {"upper case", nullptr, nullptr, "DE_de", u"de"},
      {"C locale", nullptr, nullptr, "C.UTF-8", u"en"},
      {"POSIX", nullptr, nullptr, "POSIX", u"en"},
  };
  for (const Row& row : rows) {
    LanguageEnv env;
    if (row.lcAll) setenv("LC_ALL", row.lcAll, 1);
    if (row.lcMessages) setenv("LC_MESSAGES", row.lcMessages, 1);
    if (row.lang) setenv("LANG", row.lang, 1);
    EXPECT_EQ(vel::ToUtf8(Language(LOCALE_SYSTEM_DEFAULT)), vel::ToUtf8(row.want)) << row.name;
    EXPECT_EQ(vel::ToUtf8(Language(LOCALE_USER_DEFAULT)), vel::ToUtf8(row.want)) << row.name;
  }
}

TEST(Environment, LocaleLanguageOfAnLcid) {
  LanguageEnv env;
  setenv("LANG", "de_DE.UTF-8", 1);  // must not matter for an explicit LCID
  struct Row {
    const char* name;
    LCID lcid;
    std::u16string want;
  };
  const Row rows[] = {
      {"en-US", 0x0409, u"en"}, {"en-GB", 0x0809, u"en"},        {"fr-CA", 0x0C0C, u"fr"},
      {"it-IT", 0x0410, u"it"}, {"de-LU by primary language", 0x1007, u"de"}, {"invariant", LOCALE_INVARIANT, u"iv"},
      {"unknown language", 0x0425, u"<fail 87>"},
  };
  for (const Row& row : rows) EXPECT_EQ(vel::ToUtf8(Language(row.lcid)), vel::ToUtf8(row.want)) << row.name;
}

TEST(Environment, LocaleInfoBuffersAndTypes) {
  LanguageEnv env;
  setenv("LANG", "fil_PH", 1);
  EXPECT_EQ(GetLocaleInfoW(LOCALE_SYSTEM_DEFAULT, LOCALE_SISO639LANGNAME, nullptr, 0), 4) << "size asked for";
  WCHAR small[3] = {u'x', u'x', u'x'};
  SetLastError(0);
  EXPECT_EQ(GetLocaleInfoW(LOCALE_SYSTEM_DEFAULT, LOCALE_SISO639LANGNAME, small, 3), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  WCHAR exact[4] = {};
  EXPECT_EQ(GetLocaleInfoW(LOCALE_SYSTEM_DEFAULT, LOCALE_SISO639LANGNAME | LOCALE_NOUSEROVERRIDE, exact, 4), 4);
  EXPECT_EQ(std::u16string(exact), u"fil");
  SetLastError(0);
  EXPECT_EQ(GetLocaleInfoW(LOCALE_SYSTEM_DEFAULT, 0x5A, exact, 4), 0) << "another LCTYPE";
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_FLAGS));
  SetLastError(0);
  EXPECT_EQ(GetLocaleInfoW(LOCALE_SYSTEM_DEFAULT, LOCALE_SISO639LANGNAME, nullptr, 4), 0) << "no buffer";
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

}  // namespace
