// The handful of locales the platform stand-in knows: separators, date and
// time layout, boolean and month names. Numbers and dates are read and
// written from this one table so they never disagree about a locale.
//
// Lookups are thread-safe; the table is immutable. The user's locale is read
// from the environment on every call, so a process that changes LC_ALL,
// LC_TIME, LC_NUMERIC or LANG sees the change on the next conversion.
#pragma once

#include "platform/com/types.h"

namespace vel {

enum class DateOrder { MDY, DMY, YMD };

struct LocaleInfo {
  LCID lcid;
  const char* name;  // "en-US"
  char16_t decimalSep;
  char16_t thousandSep;
  DateOrder dateOrder;
  char16_t dateSep;
  bool padDayMonth;  // "05/10/2008" rather than "10/5/2008"
  bool hour12;       // "h:mm:ss AM" rather than "HH:mm:ss"
  const char16_t* am;
  const char16_t* pm;
  const char16_t* trueName;
  const char16_t* falseName;
  const char16_t* months[12];  // full names; their first three letters are accepted too
};

// Which environment variable decides the user's locale after LC_ALL.
enum class LocaleCategory { Numeric, Time };

// The locale an LCID stands for: LOCALE_USER_DEFAULT follows the environment,
// LOCALE_SYSTEM_DEFAULT is en-US, an unknown LCID falls back on its primary
// language and then on en-US.
const LocaleInfo& LocaleInfoFor(LCID lcid, LocaleCategory category) noexcept;

// The LCID a POSIX locale name ("de_DE.UTF-8", "en_GB", "C") maps to.
LCID LcidFromPosixName(const char* name) noexcept;

// The user's LCID: LC_ALL, then LC_TIME or LC_NUMERIC, then LANG; en-US when unset.
LCID UserDefaultLcid(LocaleCategory category) noexcept;

}  // namespace vel
