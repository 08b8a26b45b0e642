// System and local time, FILETIME conversion and time zones. Zone rules come
// from the C library (TZ honoured), for the date converted: a July date gets
// summer time even when converted in January.
//
// Thread safety: only the reentrant C library calls are used, and nothing
// here changes the environment.
#include <time.h>

#include <cstdint>

#include "platform/win32/winbase.h"

namespace {

constexpr std::int64_t kTicksPerSecond = 10000000;
constexpr std::int64_t kTicksPerDay = kTicksPerSecond * 86400;
// Days from 1 January 1601 to 1 January 1970.
constexpr std::int64_t kEpochDays = 134774;
// FILETIME values the platform converts: below 2^63 ticks, up to year 30827.
constexpr std::uint64_t kMaxTicks = 0x7FFFFFFFFFFFFFFFull;

// Days since 1 January 1970 of a civil date (proleptic Gregorian).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void CivilFromDays(std::int64_t z, std::int64_t* y, unsigned* m, unsigned* d) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  *d = doy - (153 * mp + 2) / 5 + 1;
  *m = mp < 10 ? mp + 3 : mp - 9;
  *y = static_cast<std::int64_t>(yoe) + era * 400 + (*m <= 2);
}

bool IsLeap(unsigned y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

bool Valid(const SYSTEMTIME& st) {
  static constexpr unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (st.wYear < 1601 || st.wYear > 30827 || st.wMonth < 1 || st.wMonth > 12) return false;
  const unsigned days = kDays[st.wMonth - 1] + (st.wMonth == 2 && IsLeap(st.wYear) ? 1 : 0);
  return st.wDay >= 1 && st.wDay <= days && st.wHour < 24 && st.wMinute < 60 && st.wSecond < 60 &&
         st.wMilliseconds < 1000;
}

// 100-ns ticks since 1601 of a valid SYSTEMTIME.
std::int64_t TicksOf(const SYSTEMTIME& st) {
  const std::int64_t days = DaysFromCivil(st.wYear, st.wMonth, st.wDay) + kEpochDays;
  return days * kTicksPerDay + ((st.wHour * 60 + st.wMinute) * 60 + st.wSecond) * kTicksPerSecond +
         st.wMilliseconds * std::int64_t{10000};
}

SYSTEMTIME FromTicks(std::int64_t ticks) {
  const std::int64_t days = ticks / kTicksPerDay;
  std::int64_t rest = ticks % kTicksPerDay;
  std::int64_t y;
  unsigned m, d;
  CivilFromDays(days - kEpochDays, &y, &m, &d);
  SYSTEMTIME st{};
  st.wYear = static_cast<WORD>(y);
  st.wMonth = static_cast<WORD>(m);
  st.wDay = static_cast<WORD>(d);
  st.wDayOfWeek = static_cast<WORD>((days + 1) % 7);  // 1 January 1601 was a Monday
  st.wHour = static_cast<WORD>(rest / (3600 * kTicksPerSecond));
  rest %= 3600 * kTicksPerSecond;
  st.wMinute = static_cast<WORD>(rest / (60 * kTicksPerSecond));
  rest %= 60 * kTicksPerSecond;
  st.wSecond = static_cast<WORD>(rest / kTicksPerSecond);
  st.wMilliseconds = static_cast<WORD>((rest % kTicksPerSecond) / 10000);
  return st;
}

std::int64_t FromFileTime(const FILETIME& ft) {
  return static_cast<std::int64_t>((std::uint64_t{ft.dwHighDateTime} << 32) | ft.dwLowDateTime);
}
FILETIME ToFileTime(std::int64_t ticks) {
  const auto v = static_cast<std::uint64_t>(ticks);
  return FILETIME{static_cast<DWORD>(v & 0xFFFFFFFFu), static_cast<DWORD>(v >> 32)};
}

std::int64_t NowTicks() {
  timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  return (static_cast<std::int64_t>(ts.tv_sec) + kEpochDays * 86400) * kTicksPerSecond + ts.tv_nsec / 100;
}

// Seconds east of UTC in force at the given Unix time.
long OffsetAt(time_t t) {
  tm local{};
  if (!localtime_r(&t, &local)) return 0;
  return local.tm_gmtoff;
}

time_t UnixSeconds(std::int64_t ticks) {
  return static_cast<time_t>(ticks / kTicksPerSecond - kEpochDays * 86400);
}

BOOL Fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

}  // namespace

extern "C" {

void GetSystemTime(SYSTEMTIME* lpSystemTime) { *lpSystemTime = FromTicks(NowTicks()); }

void GetLocalTime(SYSTEMTIME* lpSystemTime) {
  const std::int64_t now = NowTicks();
  *lpSystemTime = FromTicks(now + OffsetAt(UnixSeconds(now)) * kTicksPerSecond);
}

void GetSystemTimeAsFileTime(FILETIME* lpSystemTimeAsFileTime) { *lpSystemTimeAsFileTime = ToFileTime(NowTicks()); }

BOOL SystemTimeToFileTime(const SYSTEMTIME* lpSystemTime, FILETIME* lpFileTime) {
  if (!lpSystemTime || !lpFileTime || !Valid(*lpSystemTime)) return Fail(ERROR_INVALID_PARAMETER);
  *lpFileTime = ToFileTime(TicksOf(*lpSystemTime));
  return TRUE;
}

BOOL FileTimeToSystemTime(const FILETIME* lpFileTime, SYSTEMTIME* lpSystemTime) {
  if (!lpFileTime || !lpSystemTime) return Fail(ERROR_INVALID_PARAMETER);
  const std::int64_t ticks = FromFileTime(*lpFileTime);
  if (ticks < 0 || static_cast<std::uint64_t>(ticks) > kMaxTicks) return Fail(ERROR_INVALID_PARAMETER);
  *lpSystemTime = FromTicks(ticks);
  return TRUE;
}

BOOL FileTimeToLocalFileTime(const FILETIME* lpFileTime, FILETIME* lpLocalFileTime) {
  // The platform applies the offset in force now, not the one of the date.
  if (!lpFileTime || !lpLocalFileTime) return Fail(ERROR_INVALID_PARAMETER);
  const std::int64_t ticks = FromFileTime(*lpFileTime);
  const std::int64_t local = ticks + OffsetAt(time(nullptr)) * kTicksPerSecond;
  if (ticks < 0 || local < 0) return Fail(ERROR_INVALID_PARAMETER);
  *lpLocalFileTime = ToFileTime(local);
  return TRUE;
}

BOOL SystemTimeToTzSpecificLocalTime(const TIME_ZONE_INFORMATION* lpTimeZone, const SYSTEMTIME* lpUniversalTime,
                                     SYSTEMTIME* lpLocalTime) {
  // Only the zone of the C library is known here.
  if (lpTimeZone) return Fail(ERROR_CALL_NOT_IMPLEMENTED);
  if (!lpUniversalTime || !lpLocalTime || !Valid(*lpUniversalTime)) return Fail(ERROR_INVALID_PARAMETER);
  const std::int64_t ticks = TicksOf(*lpUniversalTime);
  const std::int64_t local = ticks + OffsetAt(UnixSeconds(ticks)) * kTicksPerSecond;
  if (local < 0) return Fail(ERROR_INVALID_PARAMETER);
  *lpLocalTime = FromTicks(local);
  return TRUE;
}

BOOL TzSpecificLocalTimeToSystemTime(const TIME_ZONE_INFORMATION* lpTimeZone, const SYSTEMTIME* lpLocalTime,
                                     SYSTEMTIME* lpUniversalTime) {
  if (lpTimeZone) return Fail(ERROR_CALL_NOT_IMPLEMENTED);
  if (!lpLocalTime || !lpUniversalTime || !Valid(*lpLocalTime)) return Fail(ERROR_INVALID_PARAMETER);
  // mktime finds the offset in force at that local time (for a time that
  // occurs twice or not at all, the C library's choice).
  tm local{};
  local.tm_year = lpLocalTime->wYear - 1900;
  local.tm_mon = lpLocalTime->wMonth - 1;
  local.tm_mday = lpLocalTime->wDay;
  local.tm_hour = lpLocalTime->wHour;
  local.tm_min = lpLocalTime->wMinute;
  local.tm_sec = lpLocalTime->wSecond;
  local.tm_isdst = -1;
  const time_t t = mktime(&local);
  if (t == static_cast<time_t>(-1) && local.tm_year != 69) return Fail(ERROR_INVALID_PARAMETER);
  const std::int64_t ticks = TicksOf(*lpLocalTime) - static_cast<std::int64_t>(local.tm_gmtoff) * kTicksPerSecond;
  if (ticks < 0) return Fail(ERROR_INVALID_PARAMETER);
  *lpUniversalTime = FromTicks(ticks);
  return TRUE;
}

}  // extern "C"
