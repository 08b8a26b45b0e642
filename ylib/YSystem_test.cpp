#include "ylib/YSystem.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "platform/text.h"

namespace {

TEST(CYSystem, MakeKernelObjectName) {
  std::u16string longName;
  for (int i = 0; i < 300; ++i) longName.push_back(static_cast<char16_t>(u'a' + i % 26));
  std::u16string upper;
  for (char16_t c : longName) upper.push_back(static_cast<char16_t>(c - 0x20));

  struct Row {
    const char* name;
    std::u16string in;
    bool global;
    std::u16string want;
  };
  const Row rows[] = {
      {"log file path, global", u"C:\\Logs\\app.log", true, u"Global\\C__LOGS_APP_LOG"},
      {"log file path, local", u"/home/u/app.log", false, u"_HOME_U_APP_LOG"},
      {"Latin-1 letters upper-cased", u"caf\u00E9 \u00FF\u00DF\u00D7", false, u"CAF\u00C9_\u0178\u00DF_"},
      {"other scripts and symbols", u"\u0436-1\u20AC", false, u"__1_"},
      {"empty", u"", false, u""},
      {"empty, global", u"", true, u"Global\\"},
      {"300 characters keep the last 260", longName, false, upper.substr(40)},
      {"300 characters, global: last 253 behind the prefix", longName, true, u"Global\\" + upper.substr(47)},
  };
  for (const Row& r : rows) {
    const std::u16string got = CYSystem::MakeKernelObjectName(r.in, r.global);
    EXPECT_EQ(vel::ToUtf8(got), vel::ToUtf8(r.want)) << r.name;
  }
  EXPECT_EQ(CYSystem::MakeKernelObjectName(longName, true).size(), 260u);
}

}  // namespace

namespace {

// The variables that decide the system's language, set for one test.
class LanguageEnv {
 public:
  explicit LanguageEnv(const char* lang) {
    for (std::size_t i = 0; i < 3; ++i) {
      const char* v = std::getenv(kNames[i]);
      saved_[i] = v ? std::optional<std::string>(v) : std::nullopt;
      unsetenv(kNames[i]);
    }
    if (lang) setenv("LANG", lang, 1);
  }
  ~LanguageEnv() {
    for (std::size_t i = 0; i < 3; ++i) {
      if (saved_[i]) {
        setenv(kNames[i], saved_[i]->c_str(), 1);
      } else {
        unsetenv(kNames[i]);
      }
    }
  }

 private:
  static constexpr const char* kNames[3] = {"LC_ALL", "LC_MESSAGES", "LANG"};
  std::optional<std::string> saved_[3];
};

TEST(CYSystem, GetOSLanguage) {
  struct Row {
    const char* name;
    const char* lang;
    const char* want;
  };
  const Row rows[] = {
      {"German", "de_DE.UTF-8", "de"},
      {"French", "fr_CA", "fr"},
      {"unset: English", nullptr, "en"},
      // Three letters do not fit the two-letter buffer: the failure gives nothing.
      {"three-letter language", "fil_PH", ""},
  };
  for (const Row& row : rows) {
    LanguageEnv env(row.lang);
    EXPECT_EQ(vel::ToUtf8(CYSystem::GetOSLanguage()), row.want) << row.name;
  }
}

}  // namespace
