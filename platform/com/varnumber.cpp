#include "platform/com/varnumber.h"

#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace vel::oanum {
namespace {

constexpr int kMaxDigits = 38;  // 10^38 - 1 fits in 128 bits
constexpr UInt128 kMax96 = (static_cast<UInt128>(1) << 96) - 1;

UInt128 Pow10(int n) noexcept {
  UInt128 p = 1;
  while (n-- > 0) p *= 10;
  return p;
}

std::string Digits(UInt128 v) {
  if (v == 0) return "0";
  char buf[48];
  int pos = sizeof buf;
  while (v != 0) {
    buf[--pos] = static_cast<char>('0' + static_cast<int>(v % 10));
    v /= 10;
  }
  return std::string(buf + pos, sizeof buf - pos);
}

// mag * 10^exp expressed in units of 10^target, rounded half to even.
bool Rescale(UInt128 mag, int exp, int target, UInt128* out) noexcept {
  if (mag == 0) {
    *out = 0;
    return true;
  }
  if (exp >= target) {
    for (int k = exp - target; k > 0; --k) {
      if (mag > (~static_cast<UInt128>(0)) / 10) return false;
      mag *= 10;
    }
    *out = mag;
    return true;
  }
  const int drop = target - exp;
  if (drop > kMaxDigits) {  // the whole magnitude is below half a unit
    *out = 0;
    return true;
  }
  const UInt128 p = Pow10(drop);
  UInt128 q = mag / p;
  const UInt128 rem = mag % p;
  const UInt128 half = p / 2;
  if (rem > half || (rem == half && (q & 1) != 0)) ++q;
  *out = q;
  return true;
}

Num DecOf(bool neg, UInt128 mag, int exp) noexcept {
  Num n;
  n.kind = Num::Dec;
  n.neg = neg && mag != 0;
  n.mag = mag;
  n.exp = exp;
  return n;
}

// Dec of the digits a double prints with `precision` significant digits,
// trailing zeros dropped; this is how a binary fraction becomes a decimal one.
Num DecOfReal(double r, int precision) noexcept {
  char buf[64];
  auto res = std::to_chars(buf, buf + sizeof buf, r, std::chars_format::scientific, precision - 1);
  *res.ptr = 0;
  bool neg = buf[0] == '-';
  UInt128 mag = 0;
  int fracDigits = 0;
  bool afterPoint = false;
  const char* p = buf + (neg ? 1 : 0);
  for (; *p != 'e'; ++p) {
    if (*p == '.') {
      afterPoint = true;
      continue;
    }
    mag = mag * 10 + static_cast<UInt128>(*p - '0');
    if (afterPoint) ++fracDigits;
  }
  int exp = std::atoi(p + 1) - fracDigits;
  while (mag != 0 && mag % 10 == 0) {
    mag /= 10;
    ++exp;
  }
  return DecOf(neg, mag, mag == 0 ? 0 : exp);
}

bool IsBlank(char16_t c) noexcept {
  return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == u'\u00a0' || c == u'\u202f';
}

bool IsGroupSep(char16_t c, const LocaleInfo& locale) noexcept {
  if (c == locale.thousandSep) return true;
  // Locales grouping with a no-break space also see plain and narrow spaces.
  return locale.thousandSep == u'\u00a0' && (c == u' ' || c == u'\u202f');
}

// Text of mag * 10^exp as std::from_chars reads it.
std::string SciText(UInt128 mag, int exp) { return Digits(mag) + "e" + std::to_string(exp); }

template <class F>
HRESULT DecToFloating(const Num& n, F* out) noexcept {
  if (n.mag == 0) {
    *out = 0;
    return S_OK;
  }
  const std::string text = SciText(n.mag, n.exp);
  F value{};
  auto res = std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::scientific);
  if (res.ec == std::errc::result_out_of_range) {
    const int adjusted = n.exp + static_cast<int>(Digits(n.mag).size()) - 1;
    if (adjusted >= 0) return DISP_E_OVERFLOW;
    value = 0;  // below the smallest denormal
  } else if (res.ec != std::errc()) {
    return DISP_E_TYPEMISMATCH;
  }
  *out = n.neg ? -value : value;
  return S_OK;
}

std::u16string Widen(const std::string& s) { return std::u16string(s.begin(), s.end()); }

std::string IntText(Int128 v) {
  if (v < 0) return "-" + Digits(static_cast<UInt128>(-(v + 1)) + 1);
  return Digits(static_cast<UInt128>(v));
}

std::u16string FormatReal(double r, bool single, const LocaleInfo& locale) {
  if (std::isnan(r)) return u"NaN";
  if (std::isinf(r)) return r < 0 ? u"-Infinity" : u"Infinity";
  if (r == 0) return u"0";
  const int precision = single ? 7 : 15;
  char buf[64];
  std::to_chars_result res =
      single ? std::to_chars(buf, buf + sizeof buf, static_cast<float>(r), std::chars_format::scientific, precision - 1)
             : std::to_chars(buf, buf + sizeof buf, r, std::chars_format::scientific, precision - 1);
  *res.ptr = 0;
  const bool neg = buf[0] == '-';
  std::string digits;
  const char* p = buf + (neg ? 1 : 0);
  for (; *p != 'e'; ++p) {
    if (*p != '.') digits += *p;
  }
  const int x = std::atoi(p + 1);
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();

  std::u16string out = neg ? u"-" : u"";
  if (x < -4 || x >= precision) {
    out += static_cast<char16_t>(digits[0]);
    if (digits.size() > 1) {
      out += locale.decimalSep;
      out += Widen(digits.substr(1));
    }
    char e[16];
    std::snprintf(e, sizeof e, "E%c%02d", x < 0 ? '-' : '+', x < 0 ? -x : x);
    out += Widen(e);
  } else if (x < 0) {
    out += u'0';
    out += locale.decimalSep;
    out += std::u16string(static_cast<std::size_t>(-x - 1), u'0');
    out += Widen(digits);
  } else {
    const std::size_t intLen = static_cast<std::size_t>(x) + 1;
    if (digits.size() <= intLen) {
      out += Widen(digits) + std::u16string(intLen - digits.size(), u'0');
    } else {
      out += Widen(digits.substr(0, intLen));
      out += locale.decimalSep;
      out += Widen(digits.substr(intLen));
    }
  }
  return out;
}

std::u16string FormatDec(const Num& n, const LocaleInfo& locale) {
  std::string digits = Digits(n.mag);
  std::u16string out = n.neg ? u"-" : u"";
  if (n.exp >= 0) {
    if (n.mag != 0) digits += std::string(static_cast<std::size_t>(n.exp), '0');
    return out + Widen(digits);
  }
  const std::size_t frac = static_cast<std::size_t>(-n.exp);
  if (digits.size() <= frac) digits.insert(0, frac - digits.size() + 1, '0');
  std::string intPart = digits.substr(0, digits.size() - frac);
  std::string fracPart = digits.substr(digits.size() - frac);
  while (!fracPart.empty() && fracPart.back() == '0') fracPart.pop_back();
  out += Widen(intPart);
  if (!fracPart.empty()) {
    out += locale.decimalSep;
    out += Widen(fracPart);
  }
  return out;
}

}  // namespace

Num FromInt(Int128 v) noexcept {
  Num n;
  n.kind = Num::Int;
  n.i = v;
  return n;
}

Num FromReal(double v, bool single) noexcept {
  Num n;
  n.kind = Num::Real;
  n.r = v;
  n.single = single;
  return n;
}

Num FromCy(CY v) noexcept {
  const bool neg = v.int64 < 0;
  const UInt128 mag = neg ? static_cast<UInt128>(-(static_cast<Int128>(v.int64))) : static_cast<UInt128>(v.int64);
  return DecOf(neg, mag, -4);
}

HRESULT FromDecimal(const DECIMAL& v, Num* out) noexcept {
  if (v.scale > 28) return E_INVALIDARG;
  const UInt128 mag = (static_cast<UInt128>(v.Hi32) << 64) | v.Lo64;
  *out = DecOf((v.sign & DECIMAL_NEG) != 0, mag, -static_cast<int>(v.scale));
  return S_OK;
}

HRESULT Parse(std::u16string_view text, const LocaleInfo& locale, Num* out) {
  std::size_t b = 0, e = text.size();
  while (b < e && IsBlank(text[b])) ++b;
  while (e > b && IsBlank(text[e - 1])) --e;
  text = text.substr(b, e - b);
  if (text.empty()) return DISP_E_TYPEMISMATCH;

  bool neg = false;
  bool signSeen = false;
  if (text.front() == u'(' && text.back() == u')') {
    neg = signSeen = true;
    text = text.substr(1, text.size() - 2);
  }
  if (!text.empty() && (text.front() == u'-' || text.front() == u'+')) {
    if (signSeen) return DISP_E_TYPEMISMATCH;
    neg = text.front() == u'-';
    signSeen = true;
    text.remove_prefix(1);
  } else if (!text.empty() && (text.back() == u'-' || text.back() == u'+')) {
    if (signSeen) return DISP_E_TYPEMISMATCH;
    neg = text.back() == u'-';
    signSeen = true;
    text.remove_suffix(1);
  }
  if (text.empty()) return DISP_E_TYPEMISMATCH;

  if (text.size() >= 2 && text[0] == u'&') {
    const char16_t kind = text[1] == u'h' ? u'H' : text[1] == u'o' ? u'O' : text[1];
    if (kind != u'H' && kind != u'O') return DISP_E_TYPEMISMATCH;
    const unsigned base = kind == u'H' ? 16 : 8;
    if (text.size() == 2) return DISP_E_TYPEMISMATCH;
    UInt128 v = 0;
    for (char16_t c : text.substr(2)) {
      unsigned d;
      if (c >= u'0' && c <= u'9') {
        d = c - u'0';
      } else if (base == 16 && c >= u'a' && c <= u'f') {
        d = c - u'a' + 10;
      } else if (base == 16 && c >= u'A' && c <= u'F') {
        d = c - u'A' + 10;
      } else {
        return DISP_E_TYPEMISMATCH;
      }
      if (d >= base) return DISP_E_TYPEMISMATCH;
      v = v * base + d;
      if (v > 0xFFFFFFFFFFFFFFFFull) return DISP_E_OVERFLOW;
    }
    *out = FromInt(neg ? -static_cast<Int128>(v) : static_cast<Int128>(v));
    return S_OK;
  }

  UInt128 mag = 0;
  int kept = 0;       // significant digits held in mag
  long long exp = 0;  // decimal exponent of mag's last digit
  bool anyDigit = false;
  bool point = false;
  std::size_t i = 0;
  for (; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c >= u'0' && c <= u'9') {
      anyDigit = true;
      if (mag == 0 && c == u'0') {
        if (point) --exp;
        continue;
      }
      if (kept < kMaxDigits) {
        mag = mag * 10 + (c - u'0');
        ++kept;
        if (point) --exp;
      } else if (!point) {
        ++exp;  // digits past what we keep still count in the integer part
      }
    } else if (c == locale.decimalSep && !point) {
      point = true;
    } else if (!point && anyDigit && IsGroupSep(c, locale)) {
      continue;
    } else {
      break;
    }
  }
  if (!anyDigit) return DISP_E_TYPEMISMATCH;
  if (i < text.size() && (text[i] == u'e' || text[i] == u'E')) {
    ++i;
    bool expNeg = false;
    if (i < text.size() && (text[i] == u'-' || text[i] == u'+')) expNeg = text[i++] == u'-';
    if (i >= text.size()) return DISP_E_TYPEMISMATCH;
    long long ev = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
      if (ev < 100000) ev = ev * 10 + (text[i] - u'0');
    }
    exp += expNeg ? -ev : ev;
  }
  if (i != text.size()) return DISP_E_TYPEMISMATCH;
  if (mag == 0) exp = 0;
  if (exp > 100000) exp = 100000;
  if (exp < -100000) exp = -100000;
  *out = DecOf(neg, mag, static_cast<int>(exp));
  return S_OK;
}

bool IsZero(const Num& n) noexcept {
  switch (n.kind) {
    case Num::Int:
      return n.i == 0;
    case Num::Real:
      return n.r == 0;
    case Num::Dec:
      return n.mag == 0;
  }
  return true;
}

HRESULT ToInt(const Num& n, Int128 lo, Int128 hi, Int128* out) noexcept {
  Int128 v = 0;
  switch (n.kind) {
    case Num::Int:
      v = n.i;
      break;
    case Num::Real: {
      const double rounded = std::nearbyint(n.r);  // the default mode rounds half to even
      if (!(std::fabs(rounded) < 1e38)) return DISP_E_OVERFLOW;
      v = static_cast<Int128>(rounded);
      break;
    }
    case Num::Dec: {
      UInt128 mag;
      if (!Rescale(n.mag, n.exp, 0, &mag) || mag > (static_cast<UInt128>(1) << 100)) return DISP_E_OVERFLOW;
      v = n.neg ? -static_cast<Int128>(mag) : static_cast<Int128>(mag);
      break;
    }
  }
  if (v < lo || v > hi) return DISP_E_OVERFLOW;
  *out = v;
  return S_OK;
}

HRESULT ToDouble(const Num& n, double* out) noexcept {
  switch (n.kind) {
    case Num::Int:
      *out = static_cast<double>(n.i);
      return S_OK;
    case Num::Real:
      *out = n.r;
      return S_OK;
    case Num::Dec:
      return DecToFloating(n, out);
  }
  return E_UNEXPECTED;
}

HRESULT ToFloat(const Num& n, float* out) noexcept {
  switch (n.kind) {
    case Num::Int:
      *out = static_cast<float>(n.i);
      return S_OK;
    case Num::Real:
      if (std::isfinite(n.r) && std::fabs(n.r) > FLT_MAX) return DISP_E_OVERFLOW;
      *out = static_cast<float>(n.r);
      return S_OK;
    case Num::Dec:
      return DecToFloating(n, out);
  }
  return E_UNEXPECTED;
}

HRESULT ToCy(const Num& n, CY* out) noexcept {
  constexpr Int128 kMin = INT64_MIN;
  constexpr Int128 kMax = INT64_MAX;
  Int128 v = 0;
  switch (n.kind) {
    case Num::Int:
      if (n.i < kMin / 10000 || n.i > kMax / 10000) return DISP_E_OVERFLOW;
      v = n.i * 10000;
      break;
    case Num::Real: {
      const double scaled = std::nearbyint(n.r * 10000.0);
      if (!(scaled >= -9223372036854775808.0 && scaled < 9223372036854775808.0)) return DISP_E_OVERFLOW;
      v = static_cast<Int128>(scaled);
      break;
    }
    case Num::Dec: {
      UInt128 mag;
      if (!Rescale(n.mag, n.exp, -4, &mag) || mag > (static_cast<UInt128>(1) << 64)) return DISP_E_OVERFLOW;
      v = n.neg ? -static_cast<Int128>(mag) : static_cast<Int128>(mag);
      break;
    }
  }
  if (v < kMin || v > kMax) return DISP_E_OVERFLOW;
  out->int64 = static_cast<LONGLONG>(v);
  return S_OK;
}

HRESULT ToDecimal(const Num& n, DECIMAL* out) noexcept {
  Num d;
  switch (n.kind) {
    case Num::Int:
      d = DecOf(n.i < 0, n.i < 0 ? static_cast<UInt128>(-n.i) : static_cast<UInt128>(n.i), 0);
      break;
    case Num::Real:
      if (!std::isfinite(n.r)) return DISP_E_OVERFLOW;
      d = DecOfReal(n.r, n.single ? 7 : 15);
      break;
    case Num::Dec:
      d = n;
      break;
  }
  UInt128 mag = d.mag;
  int exp = d.exp;
  if (mag == 0) {
    exp = 0;
  } else if (exp > 0) {
    if (!Rescale(mag, exp, 0, &mag) || mag > kMax96) return DISP_E_OVERFLOW;
    exp = 0;
  } else if (exp < -28) {
    Rescale(mag, exp, -28, &mag);
    exp = -28;
  }
  // Too many digits for 96 bits: give up fraction digits, rounding.
  while (mag > kMax96 && exp < 0) {
    Rescale(mag, exp, exp + 1, &mag);
    ++exp;
  }
  if (mag > kMax96) return DISP_E_OVERFLOW;
  std::memset(out, 0, sizeof *out);
  out->scale = static_cast<BYTE>(-exp);
  out->sign = d.neg && mag != 0 ? DECIMAL_NEG : 0;
  out->Hi32 = static_cast<ULONG>(mag >> 64);
  out->Lo64 = static_cast<ULONGLONG>(mag);
  return S_OK;
}

std::u16string Format(const Num& n, const LocaleInfo& locale) {
  switch (n.kind) {
    case Num::Int:
      return Widen(IntText(n.i));
    case Num::Real:
      return FormatReal(n.r, n.single, locale);
    case Num::Dec:
      return FormatDec(n, locale);
  }
  return u"";
}

}  // namespace vel::oanum
