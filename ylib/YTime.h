// CYTime: OLE dates (days since 30 December 1899, the fraction being the time
// of day) to and from SYSTEMTIME records and texts, keeping the milliseconds
// that the system conversions drop.
//
//   DATE d = CYTime::SystemTimeToVariantTime(st);   // st.wMilliseconds kept
//   CYTime::FormatW3CDate(d);                       // "2008-10-05T12:00:00Z"
//
// Failed system conversions raise 2002 "Time conversion failed.".
//
// Thread safety: stateless; any thread.
#pragma once

#include <string>

#include "platform/com/types.h"

class CYTime {
 public:
  // The system conversion plus (milliseconds + 0.5) ms, so the way back gives
  // the same milliseconds.
  static DATE SystemTimeToVariantTime(const SYSTEMTIME& st);
  // Never rounds up to the next second: the fraction of a second becomes the
  // milliseconds (truncated).
  static void VariantTimeToSystemTime(DATE date, SYSTEMTIME& st);
  // The system conversion alone: rounded to the nearest second, milliseconds 0.
  // A report leaving it carries the detail "Date".
  static void ApiVariantTimeToSystemTime(DATE date, SYSTEMTIME& st);
  // The platform's date text for the user's locale with the conversion flags
  // (VAR_DATEVALUEONLY ...); "Invalid DateTime" when it cannot convert.
  static std::u16string FormatDate(DATE date, ULONG flags);
  // "YYYY-MM-DDThh:mm:ssZ" of the date as it is (no zone conversion).
  static std::u16string FormatW3CDate(DATE date);
  static DATE GetLocalTimeAsOleDate();
  // The date read as UTC, converted to local time by the zone rules in force
  // on that date; milliseconds survive.
  static DATE TimeToLocalTime(DATE date);
  // Of ApiVariantTimeToSystemTime, so within half a second of a new year counts as that year.
  static int Year(DATE date);
  static int Month(DATE date);
};
