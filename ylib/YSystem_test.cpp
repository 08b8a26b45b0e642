#include "ylib/YSystem.h"

#include <gtest/gtest.h>

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
