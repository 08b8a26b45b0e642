// Runs with TZ set to Central European rules and an en-US locale (see
// CMakeLists.txt), set before the process starts any thread.
#include "ylib/YTime.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/com/oleauto.h"
#include "platform/win32/winbase.h"
#include "testing/ReportMatchers.h"

using namespace vel::testing;

namespace {

SYSTEMTIME St(WORD y, WORD mo, WORD d, WORD h, WORD mi, WORD s, WORD ms = 0) {
  return SYSTEMTIME{y, mo, 0, d, h, mi, s, ms};
}

// The system conversion alone: whole seconds.
DATE ApiDate(WORD y, WORD mo, WORD d, WORD h, WORD mi, WORD s) {
  SYSTEMTIME st = St(y, mo, d, h, mi, s);
  DATE date = 0;
  EXPECT_TRUE(SystemTimeToVariantTime(&st, &date));
  return date;
}

std::string Text(const SYSTEMTIME& st) {
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", st.wYear, st.wMonth, st.wDay, st.wHour,
                st.wMinute, st.wSecond, st.wMilliseconds);
  return text;
}

TEST(CYTime, MillisecondsSurviveTheRoundTrip) {
  // The half millisecond added on the way in is what makes every value come back.
  EXPECT_DOUBLE_EQ(CYTime::SystemTimeToVariantTime(St(2008, 10, 5, 12, 0, 0)), 39726.5 + 0.5 / 86400000.0);
  const std::vector<SYSTEMTIME> bases = {St(2008, 10, 5, 12, 0, 0), St(2008, 12, 31, 23, 59, 59),
                                         St(9999, 12, 31, 23, 59, 59), St(1899, 12, 29, 6, 0, 0),
                                         St(1600, 3, 1, 0, 0, 0)};
  for (SYSTEMTIME base : bases) {
    for (WORD ms = 0; ms < 1000; ++ms) {
      base.wMilliseconds = ms;
      SYSTEMTIME back{};
      CYTime::VariantTimeToSystemTime(CYTime::SystemTimeToVariantTime(base), back);
      base.wDayOfWeek = back.wDayOfWeek;
      ASSERT_EQ(Text(back), Text(base));
    }
  }
}

TEST(CYTime, VariantTimeNeverRoundsUpToTheNextSecond) {
  struct Case {
    const char* name;
    DATE date;
    std::string want;
  };
  const DATE noon = ApiDate(2008, 10, 5, 12, 0, 0);
  const DATE lastSecond = ApiDate(2008, 12, 31, 23, 59, 59);
  const std::vector<Case> cases = {
      {"0.9996 s", noon + 0.9996 / 86400, "2008-10-05 12:00:00.999"},
      {"last second of the year", lastSecond + 0.9999 / 86400, "2008-12-31 23:59:59.999"},
      {"whole second", noon, "2008-10-05 12:00:00.000"},
      {"before 1900", -1.25 - 0.4 / 86400, "1899-12-29 06:00:00.400"},
  };
  for (const Case& c : cases) {
    SYSTEMTIME st{};
    CYTime::VariantTimeToSystemTime(c.date, st);
    EXPECT_EQ(Text(st), c.want) << c.name;
  }
}

TEST(CYTime, WholeSecondsFromTheSystemConversionStayThatSecond) {
  // Half of these dates are held a hair below the second they name.
  for (int s = 0; s < 86400; ++s) {
    const SYSTEMTIME want = St(2008, 10, 5, static_cast<WORD>(s / 3600), static_cast<WORD>(s / 60 % 60),
                               static_cast<WORD>(s % 60));
    SYSTEMTIME got{};
    CYTime::VariantTimeToSystemTime(ApiDate(2008, 10, 5, want.wHour, want.wMinute, want.wSecond), got);
    ASSERT_EQ(Text(got), Text(want));
  }
}

TEST(CYTime, TheSystemConversionRoundsToTheSecond) {
  const DATE almostNewYear = ApiDate(2008, 12, 31, 23, 59, 59) + 0.7 / 86400;
  EXPECT_EQ(CYTime::Year(almostNewYear), 2009);
  EXPECT_EQ(CYTime::Month(almostNewYear), 1);
  const DATE justBefore = ApiDate(2008, 12, 31, 23, 59, 59) + 0.4 / 86400;
  EXPECT_EQ(CYTime::Year(justBefore), 2008);
  EXPECT_EQ(CYTime::Month(justBefore), 12);
  SYSTEMTIME st{};
  CYTime::ApiVariantTimeToSystemTime(ApiDate(2008, 10, 5, 12, 0, 0) + 0.6 / 86400, st);
  EXPECT_EQ(Text(st), "2008-10-05 12:00:01.000");
}

TEST(CYTime, FailuresAreTimeConversionReports) {
  ExpectCode([] { CYTime::SystemTimeToVariantTime(St(2008, 13, 1, 0, 0, 0)); }, 2002, "month 13");
  ExpectCode([] { CYTime::TimeToLocalTime(1e10); }, 2002, "beyond 9999");
  ExpectCode([] { CYTime::Year(1e10); }, 2002, "Year beyond 9999");
  ExpectCode([] { CYTime::FormatW3CDate(-1e10); }, 2002, "before year 100");
  auto report = ReportOf([] {
    SYSTEMTIME st{};
    CYTime::ApiVariantTimeToSystemTime(1e10, st);
  });
  ASSERT_TRUE(report);
  EXPECT_EQ(report->GetCode(), 2002);
  EXPECT_EQ(U8(Origin(*report, u"description")), "Time conversion failed.");
  EXPECT_EQ(U8(Origin(*report, u"Date")), "10000000000.0000000000000000");
  EXPECT_EQ(U8(Origin(*report, u"sourcefunction")), "CYTime::ApiVariantTimeToSystemTime");
}

TEST(CYTime, Texts) {
  EXPECT_EQ(CYTime::FormatW3CDate(ApiDate(2008, 10, 5, 12, 0, 0)), u"2008-10-05T12:00:00Z");
  EXPECT_EQ(CYTime::FormatW3CDate(ApiDate(812, 1, 2, 3, 4, 5)), u"0812-01-02T03:04:05Z");
  EXPECT_EQ(U8(CYTime::FormatDate(ApiDate(2008, 10, 5, 12, 0, 0), 0)), "10/5/2008 12:00:00 PM");
  EXPECT_EQ(U8(CYTime::FormatDate(ApiDate(2008, 10, 5, 12, 0, 0), VAR_DATEVALUEONLY)), "10/5/2008");
  EXPECT_EQ(U8(CYTime::FormatDate(1e10, 0)), "Invalid DateTime");
}

TEST(CYTime, TimeToLocalTimeUsesTheRulesOfThatDate) {
  struct Case {
    const char* name;
    SYSTEMTIME utc;
    std::string want;
  };
  const std::vector<Case> cases = {
      {"summer time", St(2008, 7, 15, 12, 0, 0, 250), "2008-07-15 14:00:00.250"},
      {"winter time", St(2008, 1, 15, 12, 0, 0, 250), "2008-01-15 13:00:00.250"},
      {"over midnight", St(2008, 12, 31, 23, 30, 0, 999), "2009-01-01 00:30:00.999"},
  };
  for (const Case& c : cases) {
    SYSTEMTIME local{};
    CYTime::VariantTimeToSystemTime(CYTime::TimeToLocalTime(CYTime::SystemTimeToVariantTime(c.utc)), local);
    EXPECT_EQ(Text(local), c.want) << c.name;
  }
}

TEST(CYTime, LocalTimeAsOleDate) {
  SYSTEMTIME before{};
  GetLocalTime(&before);
  const DATE now = CYTime::GetLocalTimeAsOleDate();
  SYSTEMTIME after{};
  GetLocalTime(&after);
  before.wMilliseconds = 0;
  EXPECT_GE(now, CYTime::SystemTimeToVariantTime(before) - 1e-9);
  EXPECT_LE(now, CYTime::SystemTimeToVariantTime(after) + 1e-9);
}

}  // namespace
