#include "ylib/YTime.h"

#include <cmath>

#include "platform/com/oleauto.h"
#include "platform/win32/winbase.h"
#include "ylib/YErrorFrame.h"
#include "ylib/YFormat.h"

namespace {

constexpr char16_t kSource[] = u"YTime";
constexpr double kSecondsPerDay = 86400.0;
constexpr double kMillisecondsPerDay = 86400000.0;

// Reports leaving the date functions name the date they were given.
template <class Body>
decltype(auto) WithDateDetail(DATE date, Body&& body) {
  try {
    return body();
  } catch (CYException& x) {
    x.AddDetail(u"Date", YFormat(u"%0.16f", date));
    throw;
  }
}

}  // namespace

DATE CYTime::SystemTimeToVariantTime(const SYSTEMTIME& st) {
  return YErrorFrame(VEL_FRAME(u"CYTime::SystemTimeToVariantTime"), [&](const YFrame& frame) {
    SYSTEMTIME copy = st;
    DATE date = 0;
    if (!::SystemTimeToVariantTime(&copy, &date)) YThrow(kYErrTimeConversion, frame);
    // Before 30 December 1899 the time of day counts away from zero, so the
    // milliseconds go the same way.
    const double offset = (st.wMilliseconds + 0.5) / kMillisecondsPerDay;
    return date < 0 ? date - offset : date + offset;
  });
}

void CYTime::VariantTimeToSystemTime(DATE date, SYSTEMTIME& st) {
  YErrorFrame(VEL_FRAME(u"CYTime::VariantTimeToSystemTime"), [&](const YFrame& frame) {
    // The time of day is |fraction| on either side of the epoch. It is counted
    // in tenths of a millisecond first: a whole second that the double holds
    // a hair below its value (half of all of them) stays that second, while
    // 0.9996 s still reads as 999 ms of the same second.
    const double fraction = std::fabs(date - std::trunc(date));
    const long long tenths = std::llround(fraction * kMillisecondsPerDay * 10.0);
    const double subsecond = static_cast<double>(tenths % 10000) / 10000.0;
    // Taking the fraction of a second off toward the whole day leaves a value
    // the system conversion cannot round up.
    const double whole = date < 0 ? date + subsecond / kSecondsPerDay : date - subsecond / kSecondsPerDay;
    SYSTEMTIME result{};
    if (!::VariantTimeToSystemTime(whole, &result)) YThrow(kYErrTimeConversion, frame);
    result.wMilliseconds = static_cast<WORD>(tenths % 10000 / 10);
    st = result;
  });
}

void CYTime::ApiVariantTimeToSystemTime(DATE date, SYSTEMTIME& st) {
  YErrorFrame(VEL_FRAME(u"CYTime::ApiVariantTimeToSystemTime"), [&](const YFrame& frame) {
    WithDateDetail(date, [&] {
      SYSTEMTIME result{};
      if (!::VariantTimeToSystemTime(date, &result)) YThrow(kYErrTimeConversion, frame);
      st = result;
    });
  });
}

std::u16string CYTime::FormatDate(DATE date, ULONG flags) {
  return YErrorFrame(VEL_FRAME(u"CYTime::FormatDate"), [&] {
    return WithDateDetail(date, [&] {
      BSTR text = nullptr;
      if (FAILED(VarBstrFromDate(date, LOCALE_USER_DEFAULT, flags, &text))) return std::u16string(u"Invalid DateTime");
      std::u16string result(text ? text : u"", SysStringLen(text));
      SysFreeString(text);
      return result;
    });
  });
}

std::u16string CYTime::FormatW3CDate(DATE date) {
  return YErrorFrame(VEL_FRAME(u"CYTime::FormatW3CDate"), [&] {
    SYSTEMTIME st{};
    VariantTimeToSystemTime(date, st);
    return YFormat(u"%04d-%02d-%02dT%02d:%02d:%02d%s", st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute,
                   st.wSecond, u"Z");
  });
}

DATE CYTime::GetLocalTimeAsOleDate() {
  return YErrorFrame(VEL_FRAME(u"CYTime::GetLocalTimeAsOleDate"), [&] {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    return SystemTimeToVariantTime(now);
  });
}

DATE CYTime::TimeToLocalTime(DATE date) {
  return YErrorFrame(VEL_FRAME(u"CYTime::TimeToLocalTime"), [&](const YFrame& frame) {
    SYSTEMTIME utc{};
    VariantTimeToSystemTime(date, utc);
    SYSTEMTIME local{};
    if (!SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local)) YThrow(kYErrTimeConversion, frame);
    return SystemTimeToVariantTime(local);
  });
}

int CYTime::Year(DATE date) {
  return YErrorFrame(VEL_FRAME(u"CYTime::Year"), [&] {
    SYSTEMTIME st{};
    ApiVariantTimeToSystemTime(date, st);
    return static_cast<int>(st.wYear);
  });
}

int CYTime::Month(DATE date) {
  return YErrorFrame(VEL_FRAME(u"CYTime::Month"), [&] {
    SYSTEMTIME st{};
    ApiVariantTimeToSystemTime(date, st);
    return static_cast<int>(st.wMonth);
  });
}
