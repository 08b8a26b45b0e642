#include <time.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstdint>

#include "platform/win32/winbase.h"

namespace {

SYSTEMTIME St(WORD y, WORD mo, WORD d, WORD h = 0, WORD mi = 0, WORD s = 0, WORD ms = 0) {
  SYSTEMTIME st{};
  st.wYear = y;
  st.wMonth = mo;
  st.wDay = d;
  st.wHour = h;
  st.wMinute = mi;
  st.wSecond = s;
  st.wMilliseconds = ms;
  return st;
}

std::uint64_t Ticks(const FILETIME& ft) { return (std::uint64_t{ft.dwHighDateTime} << 32) | ft.dwLowDateTime; }

std::string Text(const SYSTEMTIME& st) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04u-%02u-%02u %02u:%02u:%02u.%03u dow%u", st.wYear, st.wMonth, st.wDay, st.wHour,
                st.wMinute, st.wSecond, st.wMilliseconds, st.wDayOfWeek);
  return buf;
}

// Each test that needs a zone sets it before any thread runs.
void UseZone(const char* tz) {
  setenv("TZ", tz, 1);
  tzset();
}

TEST(Time, FileTimeConversions) {
  struct Row {
    SYSTEMTIME st;
    std::uint64_t ticks;
    const char* text;
  };
  const Row rows[] = {
      {St(1601, 1, 1), 0, "1601-01-01 00:00:00.000 dow1"},
      {St(1970, 1, 1), 116444736000000000ull, "1970-01-01 00:00:00.000 dow4"},
      {St(2024, 2, 29, 12, 34, 56, 789), 133536836967890000ull, "2024-02-29 12:34:56.789 dow4"},
      {St(30827, 12, 31, 23, 59, 59, 999), 0x7FFF35F4F06C58F0ull, "30827-12-31 23:59:59.999 dow5"},
  };
  for (const Row& r : rows) {
    FILETIME ft{};
    ASSERT_TRUE(SystemTimeToFileTime(&r.st, &ft)) << r.text;
    EXPECT_EQ(Ticks(ft), r.ticks) << r.text;
    SYSTEMTIME back{};
    ASSERT_TRUE(FileTimeToSystemTime(&ft, &back)) << r.text;
    EXPECT_EQ(Text(back), r.text);
  }
  for (const SYSTEMTIME& bad : {St(2023, 2, 29), St(2024, 13, 1), St(1600, 12, 31), St(2024, 1, 1, 24)}) {
    FILETIME ft{};
    SetLastError(0);
    EXPECT_FALSE(SystemTimeToFileTime(&bad, &ft)) << Text(bad);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  }
  FILETIME tooLate{0, 0x80000000u};
  SYSTEMTIME st{};
  EXPECT_FALSE(FileTimeToSystemTime(&tooLate, &st));
}

TEST(Time, ZoneRulesOfTheDateConverted) {
  struct Row {
    const char* zone;
    SYSTEMTIME utc;
    const char* local;
  };
  const Row rows[] = {
      {"CET-1CEST,M3.5.0,M10.5.0/3", St(2023, 7, 15, 10), "2023-07-15 12:00:00.000 dow6"},
      {"CET-1CEST,M3.5.0,M10.5.0/3", St(2023, 1, 15, 10, 0, 0, 250), "2023-01-15 11:00:00.250 dow0"},
      {"CET-1CEST,M3.5.0,M10.5.0/3", St(2023, 3, 26, 0, 59, 59), "2023-03-26 01:59:59.000 dow0"},
      {"CET-1CEST,M3.5.0,M10.5.0/3", St(2023, 3, 26, 1), "2023-03-26 03:00:00.000 dow0"},
      {"CET-1CEST,M3.5.0,M10.5.0/3", St(2023, 12, 31, 23, 30), "2024-01-01 00:30:00.000 dow1"},
      {"EST5EDT,M3.2.0,M11.1.0", St(2023, 7, 4, 16), "2023-07-04 12:00:00.000 dow2"},
      {"EST5EDT,M3.2.0,M11.1.0", St(2023, 1, 1, 3), "2022-12-31 22:00:00.000 dow6"},
  };
  for (const Row& r : rows) {
    UseZone(r.zone);
    SYSTEMTIME local{}, back{};
    ASSERT_TRUE(SystemTimeToTzSpecificLocalTime(nullptr, &r.utc, &local)) << r.local;
    EXPECT_EQ(Text(local), r.local) << r.zone;
    ASSERT_TRUE(TzSpecificLocalTimeToSystemTime(nullptr, &local, &back)) << r.local;
    SYSTEMTIME expected = r.utc;
    FILETIME ft;
    SystemTimeToFileTime(&expected, &ft);
    FileTimeToSystemTime(&ft, &expected);  // fills in the day of the week
    EXPECT_EQ(Text(back), Text(expected)) << r.zone << " back from " << r.local;
  }
}

TEST(Time, NowInUtcAndLocal) {
  UseZone("XYZ-5");  // five hours east, no summer time
  SYSTEMTIME utc{}, local{};
  FILETIME now{}, shifted{};
  GetSystemTimeAsFileTime(&now);
  GetSystemTime(&utc);
  GetLocalTime(&local);
  FILETIME utcFt{}, localFt{};
  ASSERT_TRUE(SystemTimeToFileTime(&utc, &utcFt));
  ASSERT_TRUE(SystemTimeToFileTime(&local, &localFt));
  const std::int64_t hour = 36000000000LL;
  EXPECT_NEAR(static_cast<double>(Ticks(utcFt)), static_cast<double>(Ticks(now)), 2e7);
  EXPECT_NEAR(static_cast<double>(Ticks(localFt) - Ticks(utcFt)), static_cast<double>(5 * hour), 2e7);
  ASSERT_TRUE(FileTimeToLocalFileTime(&now, &shifted));
  EXPECT_EQ(Ticks(shifted) - Ticks(now), static_cast<std::uint64_t>(5 * hour));
  // The current year is no accident of the epoch.
  EXPECT_GE(utc.wYear, 2024);
}

}  // namespace
