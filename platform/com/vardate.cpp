// OLE dates: days since 30 December 1899, the fraction being the time of day.
// Before that day the integer part counts backwards but the fraction still
// counts forwards from midnight: -1.25 is 29 December 1899, 06:00.
#include <cmath>
#include <ctime>
#include <string>
#include <vector>

#include "platform/com/localeinfo.h"
#include "platform/com/oleauto.h"
#include "platform/text.h"

namespace {

constexpr double kMinDate = -657434.0;           // 1 January 100
constexpr double kMaxDateExclusive = 2958466.0;  // 1 January 10000
constexpr long long kSecondsPerDay = 86400;

// Days since 1 January 1970 of a proleptic Gregorian date.
constexpr long long DaysFromCivil(long long y, unsigned m, unsigned d) noexcept {
  y -= m <= 2;
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<long long>(doe) - 719468;
}

void CivilFromDays(long long z, int* y, unsigned* m, unsigned* d) noexcept {
  z += 719468;
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  *d = doy - (153 * mp + 2) / 5 + 1;
  *m = mp < 10 ? mp + 3 : mp - 9;
  *y = static_cast<int>(yoe + era * 400 + (*m <= 2));
}

constexpr long long kEpochDays = DaysFromCivil(1899, 12, 30);

bool IsLeap(int y) noexcept { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

unsigned DaysInMonth(int y, unsigned m) noexcept {
  static constexpr unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

bool ValidDay(long long y, long long m, long long d) noexcept {
  return y >= 100 && y <= 9999 && m >= 1 && m <= 12 && d >= 1 &&
         d <= DaysInMonth(static_cast<int>(y), static_cast<unsigned>(m));
}

// Day number (0 = 30 Dec 1899) and seconds since midnight -> OLE date.
double ComposeDate(long long day, long long seconds) noexcept {
  const double fraction = static_cast<double>(seconds) / kSecondsPerDay;
  return day >= 0 ? static_cast<double>(day) + fraction : static_cast<double>(day) - fraction;
}

// OLE date -> day number and seconds since midnight, rounded to the nearest second.
bool SplitDate(double date, long long* day, long long* seconds) noexcept {
  if (!(date >= kMinDate && date < kMaxDateExclusive)) return false;
  const double whole = std::trunc(date);
  const double fraction = std::fabs(date - whole);
  // Rounding via tenths of milliseconds first keeps 0.5 s, which the double
  // holds slightly below its true value, rounding up.
  const long long tenthMs = std::llround(fraction * kSecondsPerDay * 10000.0);
  long long secs = (tenthMs + 5000) / 10000;
  long long d = static_cast<long long>(whole);
  if (secs >= kSecondsPerDay) {
    secs -= kSecondsPerDay;
    d += 1;  // the next calendar day, whichever sign the date has
  }
  if (d + kEpochDays > DaysFromCivil(9999, 12, 31)) return false;
  *day = d;
  *seconds = secs;
  return true;
}

// ---- text -> date ----------------------------------------------------------

struct Token {
  enum Kind { Num, Word, Sep } kind;
  long long value = 0;
  int digits = 0;
  std::u16string word;
  char16_t sep = 0;
};

bool IsSpace(char16_t c) noexcept { return c == u' ' || c == u'\t' || c == u'\u00a0' || c == u'\u202f'; }
bool IsDigit(char16_t c) noexcept { return c >= u'0' && c <= u'9'; }
bool IsLetter(char16_t c) noexcept {
  return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= 0xC0 && c <= 0x24F && c != 0xD7 && c != 0xF7);
}

bool Tokenize(std::u16string_view text, std::vector<Token>* out) {
  std::size_t i = 0;
  while (i < text.size()) {
    const char16_t c = text[i];
    if (IsDigit(c)) {
      Token t{Token::Num};
      while (i < text.size() && IsDigit(text[i])) {
        if (t.digits >= 9) return false;
        t.value = t.value * 10 + (text[i] - u'0');
        ++t.digits;
        ++i;
      }
      out->push_back(t);
    } else if ((c == u'T' || c == u't') && !out->empty() && out->back().kind == Token::Num && i + 1 < text.size() &&
               IsDigit(text[i + 1])) {
      out->push_back(Token{Token::Sep, 0, 0, {}, u' '});  // ISO 8601 date-time separator
      ++i;
    } else if (IsLetter(c)) {
      Token t{Token::Word};
      while (i < text.size() && IsLetter(text[i])) t.word += vel::FoldCase(text[i++]);
      out->push_back(t);
    } else if (IsSpace(c) || c == u'/' || c == u'.' || c == u'-' || c == u':' || c == u',') {
      out->push_back(Token{Token::Sep, 0, 0, {}, IsSpace(c) ? u' ' : c});
      ++i;
    } else {
      return false;
    }
  }
  return true;
}

std::u16string Folded(const char16_t* s) {
  std::u16string out;
  for (; *s != 0; ++s) out += vel::FoldCase(*s);
  return out;
}

int MonthFromWord(const std::u16string& word, const vel::LocaleInfo& locale) {
  const vel::LocaleInfo& english = vel::LocaleInfoFor(0x0409, vel::LocaleCategory::Time);
  for (const vel::LocaleInfo* info : {&locale, &english}) {
    for (int m = 0; m < 12; ++m) {
      const std::u16string name = Folded(info->months[m]);
      if (word == name || (word.size() == 3 && name.compare(0, 3, word) == 0)) return m + 1;
    }
  }
  return 0;
}

// 0 = not a day-half word, 1 = AM, 2 = PM.
int HalfFromWord(const std::u16string& word, const vel::LocaleInfo& locale) {
  if (word == u"AM" || word == u"A" || (*locale.am != 0 && word == Folded(locale.am))) return 1;
  if (word == u"PM" || word == u"P" || (*locale.pm != 0 && word == Folded(locale.pm))) return 2;
  return 0;
}

long long ExpandYear(const Token& t) noexcept {
  if (t.digits <= 2) return t.value < 30 ? 2000 + t.value : 1900 + t.value;
  return t.value;
}

int CurrentYear() noexcept {
  std::time_t now = std::time(nullptr);
  std::tm parts{};
  localtime_r(&now, &parts);
  return parts.tm_year + 1900;
}

bool ResolveDate(const std::vector<Token>& nums, int monthName, const vel::LocaleInfo& locale, long long* y,
                 long long* m, long long* d) {
  const bool mdy = locale.dateOrder == vel::DateOrder::MDY;
  auto yearLike = [](const Token& t) { return t.digits >= 3 || t.value > 31; };
  auto pick = [&](long long yy, long long first, long long second) {
    // first/second are month/day in the locale's order; an impossible month
    // is read the other way round, as people mix the two orders.
    long long mm = mdy ? first : second;
    long long dd = mdy ? second : first;
    if (!ValidDay(yy, mm, dd) && ValidDay(yy, dd, mm)) std::swap(mm, dd);
    *y = yy;
    *m = mm;
    *d = dd;
  };
  if (monthName != 0) {
    *m = monthName;
    if (nums.size() == 2) {
      if (yearLike(nums[0])) {
        *y = ExpandYear(nums[0]);
        *d = nums[1].value;
      } else {
        *d = nums[0].value;
        *y = ExpandYear(nums[1]);
      }
    } else if (nums.size() == 1) {
      if (yearLike(nums[0])) {
        *y = ExpandYear(nums[0]);
        *d = 1;
      } else {
        *y = CurrentYear();
        *d = nums[0].value;
      }
    } else {
      return false;
    }
  } else if (nums.size() == 3) {
    if (nums[0].digits >= 3) {
      *y = nums[0].value;
      *m = nums[1].value;
      *d = nums[2].value;
    } else {
      pick(ExpandYear(nums[2]), nums[0].value, nums[1].value);
    }
  } else if (nums.size() == 2) {
    if (yearLike(nums[1])) {
      *y = ExpandYear(nums[1]);
      *m = nums[0].value;
      *d = 1;
    } else if (nums[0].digits >= 3) {
      *y = nums[0].value;
      *m = nums[1].value;
      *d = 1;
    } else {
      pick(CurrentYear(), nums[0].value, nums[1].value);
    }
  } else {
    return false;
  }
  return ValidDay(*y, *m, *d);
}

HRESULT ParseDate(std::u16string_view text, const vel::LocaleInfo& locale, ULONG flags, DATE* out) {
  std::vector<Token> tokens;
  if (!Tokenize(text, &tokens)) return DISP_E_TYPEMISMATCH;
  std::vector<Token> dateNums;
  std::vector<long long> timeParts;
  int monthName = 0;
  int half = 0;
  for (std::size_t i = 0; i < tokens.size(); ++i) {
    const Token& t = tokens[i];
    if (t.kind == Token::Sep) continue;
    if (t.kind == Token::Word) {
      if (int h = HalfFromWord(t.word, locale); h != 0 && half == 0) {
        half = h;
      } else if (int m = MonthFromWord(t.word, locale); m != 0 && monthName == 0) {
        monthName = m;
      } else {
        return DISP_E_TYPEMISMATCH;
      }
      continue;
    }
    const bool startsTime = i + 1 < tokens.size() && tokens[i + 1].kind == Token::Sep && tokens[i + 1].sep == u':';
    if (!startsTime) {
      dateNums.push_back(t);
      continue;
    }
    if (!timeParts.empty()) return DISP_E_TYPEMISMATCH;
    timeParts.push_back(t.value);
    while (timeParts.size() < 3 && i + 2 < tokens.size() && tokens[i + 1].kind == Token::Sep &&
           tokens[i + 1].sep == u':' && tokens[i + 2].kind == Token::Num) {
      timeParts.push_back(tokens[i + 2].value);
      i += 2;
    }
    if (timeParts.size() < 2) return DISP_E_TYPEMISMATCH;
    // Fractions of a second are accepted and dropped.
    if (timeParts.size() == 3 && i + 2 < tokens.size() && tokens[i + 1].kind == Token::Sep &&
        (tokens[i + 1].sep == u'.' || tokens[i + 1].sep == u',') && tokens[i + 2].kind == Token::Num) {
      i += 2;
    }
  }
  if (dateNums.size() > 3 || (dateNums.empty() && monthName == 0 && timeParts.empty())) return DISP_E_TYPEMISMATCH;
  if (half != 0 && timeParts.empty()) return DISP_E_TYPEMISMATCH;

  long long day = 0;
  if (!dateNums.empty() || monthName != 0) {
    long long y, m, d;
    if (!ResolveDate(dateNums, monthName, locale, &y, &m, &d)) return DISP_E_TYPEMISMATCH;
    day = DaysFromCivil(y, static_cast<unsigned>(m), static_cast<unsigned>(d)) - kEpochDays;
  }
  long long seconds = 0;
  if (!timeParts.empty()) {
    long long h = timeParts[0];
    const long long mi = timeParts[1];
    const long long s = timeParts.size() > 2 ? timeParts[2] : 0;
    if (half != 0) {
      if (h < 1 || h > 12) return DISP_E_TYPEMISMATCH;
      if (h == 12) h = 0;
      if (half == 2) h += 12;
    }
    if (h > 23 || mi > 59 || s > 59) return DISP_E_TYPEMISMATCH;
    seconds = h * 3600 + mi * 60 + s;
  }
  if (flags & VAR_TIMEVALUEONLY) day = 0;
  if (flags & VAR_DATEVALUEONLY) seconds = 0;
  *out = ComposeDate(day, seconds);
  return S_OK;
}

// ---- date -> text ----------------------------------------------------------

void AppendNumber(std::u16string* out, long long value, int width) {
  std::string digits = std::to_string(value);
  while (static_cast<int>(digits.size()) < width) digits.insert(digits.begin(), '0');
  for (char c : digits) *out += static_cast<char16_t>(c);
}

}  // namespace

extern "C" {

INT SystemTimeToVariantTime(SYSTEMTIME* st, DOUBLE* pvtime) {
  if (st == nullptr || pvtime == nullptr) return FALSE;
  if (!ValidDay(st->wYear, st->wMonth, st->wDay) || st->wHour > 23 || st->wMinute > 59 || st->wSecond > 59) {
    return FALSE;
  }
  const long long day = DaysFromCivil(st->wYear, st->wMonth, st->wDay) - kEpochDays;
  *pvtime = ComposeDate(day, st->wHour * 3600LL + st->wMinute * 60LL + st->wSecond);
  return TRUE;
}

INT VariantTimeToSystemTime(DOUBLE vtime, SYSTEMTIME* st) {
  if (st == nullptr) return FALSE;
  long long day, seconds;
  if (!SplitDate(vtime, &day, &seconds)) return FALSE;
  int y;
  unsigned m, d;
  CivilFromDays(day + kEpochDays, &y, &m, &d);
  st->wYear = static_cast<WORD>(y);
  st->wMonth = static_cast<WORD>(m);
  st->wDay = static_cast<WORD>(d);
  // 30 December 1899 was a Saturday.
  st->wDayOfWeek = static_cast<WORD>(((day + 6) % 7 + 7) % 7);
  st->wHour = static_cast<WORD>(seconds / 3600);
  st->wMinute = static_cast<WORD>(seconds / 60 % 60);
  st->wSecond = static_cast<WORD>(seconds % 60);
  st->wMilliseconds = 0;
  return TRUE;
}

HRESULT VarDateFromStr(const OLECHAR* strIn, LCID lcid, ULONG dwFlags, DATE* pdateOut) {
  if (strIn == nullptr || pdateOut == nullptr) return E_INVALIDARG;
  const vel::LocaleInfo& locale = vel::LocaleInfoFor(lcid, vel::LocaleCategory::Time);
  return ParseDate(std::u16string_view(strIn, vel::U16Len(strIn)), locale, dwFlags, pdateOut);
}

HRESULT VarBstrFromDate(DATE dateIn, LCID lcid, ULONG dwFlags, BSTR* pbstrOut) {
  if (pbstrOut == nullptr) return E_INVALIDARG;
  *pbstrOut = nullptr;
  long long day, seconds;
  if (!SplitDate(dateIn, &day, &seconds)) return E_INVALIDARG;
  const vel::LocaleInfo& locale = vel::LocaleInfoFor(lcid, vel::LocaleCategory::Time);

  bool showDate = !(dwFlags & VAR_TIMEVALUEONLY) && (day != 0 || (dwFlags & VAR_DATEVALUEONLY));
  bool showTime = !(dwFlags & VAR_DATEVALUEONLY) && (seconds != 0 || !showDate);
  std::u16string text;
  if (showDate) {
    int y;
    unsigned m, d;
    CivilFromDays(day + kEpochDays, &y, &m, &d);
    const int pad = locale.padDayMonth ? 2 : 1;
    const bool mdy = locale.dateOrder == vel::DateOrder::MDY;
    AppendNumber(&text, mdy ? m : d, pad);
    text += locale.dateSep;
    AppendNumber(&text, mdy ? d : m, pad);
    text += locale.dateSep;
    AppendNumber(&text, y, 4);
  }
  if (showTime) {
    if (showDate) text += u' ';
    long long h = seconds / 3600;
    const long long mi = seconds / 60 % 60;
    const long long s = seconds % 60;
    if (locale.hour12) {
      const bool pm = h >= 12;
      h %= 12;
      AppendNumber(&text, h == 0 ? 12 : h, 1);
      text += u':';
      AppendNumber(&text, mi, 2);
      text += u':';
      AppendNumber(&text, s, 2);
      text += u' ';
      text += pm ? locale.pm : locale.am;
    } else {
      AppendNumber(&text, h, 2);
      text += u':';
      AppendNumber(&text, mi, 2);
      text += u':';
      AppendNumber(&text, s, 2);
    }
  }
  *pbstrOut = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  return *pbstrOut != nullptr ? S_OK : E_OUTOFMEMORY;
}

}  // extern "C"
