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
  return YErrorFrame({u"CYTime::SystemTimeToVariantTime", kSource, __LINE__}, [&](const YFrame& frame) {
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
  YErrorFrame({u"CYTime::VariantTimeToSystemTime", kSource, __LINE__}, [&](const YFrame& frame) {
    // The time of day is |fraction| on either side of the epoch; taking the
    // fraction of a second off toward the whole day leaves a value the system
    // conversion cannot round up.
    const double fraction = std::fabs(date - std::trunc(date));
    const double seconds = fraction * kSecondsPerDay;
    const double subsecond = seconds - std::floor(seconds);
    const double whole = date < 0 ? date + subsecond / kSecondsPerDay : date - subsecond / kSecondsPerDay;
    SYSTEMTIME result{};
    if (!::VariantTimeToSystemTime(whole, &result)) YThrow(kYErrTimeConversion, frame);
    result.wMilliseconds = static_cast<WORD>(std::floor(subsecond * 1000.0));
    st = result;
  });
}

void CYTime::ApiVariantTimeToSystemTime(DATE date, SYSTEMTIME& st) {
  YErrorFrame({u"CYTime::ApiVariantTimeToSystemTime", kSource, __LINE__}, [&](const YFrame& frame) {
    WithDateDetail(date, [&] {
      SYSTEMTIME result{};
      if (!::VariantTimeToSystemTime(date, &result)) YThrow(kYErrTimeConversion, frame);
      st = result;
    });
  });
}

std::u16string CYTime::FormatDate(DATE date, ULONG flags) {
  return YErrorFrame({u"CYTime::FormatDate", kSource, __LINE__}, [&] {
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
  return YErrorFrame({u"CYTime::FormatW3CDate", kSource, __LINE__}, [&] {
    SYSTEMTIME st{};
    VariantTimeToSystemTime(date, st);
    return YFormat(u"%04d-%02d-%02dT%02d:%02d:%02d%s", st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute,
                   st.wSecond, u"Z");
  });
}

DATE CYTime::GetLocalTimeAsOleDate() {
  return YErrorFrame({u"CYTime::GetLocalTimeAsOleDate", kSource, __LINE__}, [&] {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    return SystemTimeToVariantTime(now);
  });
}

DATE CYTime::TimeToLocalTime(DATE date) {
  return YErrorFrame({u"CYTime::TimeToLocalTime", kSource, __LINE__}, [&](const YFrame& frame) {
    SYSTEMTIME utc{};
    VariantTimeToSystemTime(date, utc);
    SYSTEMTIME local{};
    if (!SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local)) YThrow(kYErrTimeConversion, frame);
    return SystemTimeToVariantTime(local);
  });
}

int CYTime::Year(DATE date) {
  return YErrorFrame({u"CYTime::Year", kSource, __LINE__}, [&] {
    SYSTEMTIME st{};
    ApiVariantTimeToSystemTime(date, st);
    return static_cast<int>(st.wYear);
  });
}

int CYTime::Month(DATE date) {
  return YErrorFrame({u"CYTime::Month", kSource, __LINE__}, [&] {
    SYSTEMTIME st{};
    ApiVariantTimeToSystemTime(date, st);
    return static_cast<int>(st.wMonth);
  });
}
