// Numbers inside VARIANT conversion: one exact intermediate form for every
// numeric VARTYPE and for number text, with the rounding and range rules the
// conversions share (round half to even, DISP_E_OVERFLOW out of range).
//
// Internal to platform/com. Pure functions; thread-safe.
#pragma once

#include <string>
#include <string_view>

#include "platform/com/hresult.h"
#include "platform/com/localeinfo.h"

namespace vel::oanum {

using Int128 = __int128;
using UInt128 = unsigned __int128;

struct Num {
  enum Kind { Int, Real, Dec } kind = Int;
  Int128 i = 0;         // Int
  double r = 0;         // Real
  bool single = false;  // Real that came from VT_R4: 7 significant digits in text
  bool neg = false;     // Dec: value = (neg ? -1 : 1) * mag * 10^exp
  UInt128 mag = 0;
  int exp = 0;
};

Num FromInt(Int128 v) noexcept;
Num FromReal(double v, bool single) noexcept;
Num FromCy(CY v) noexcept;
HRESULT FromDecimal(const DECIMAL& v, Num* out) noexcept;
// Number text in the locale's form: spaces around, sign before or after, or
// parentheses; grouping in the integer part; one decimal separator; exponent;
// "&H" hexadecimal and "&O" octal. DISP_E_TYPEMISMATCH when it is not a number.
HRESULT Parse(std::u16string_view text, const LocaleInfo& locale, Num* out);

bool IsZero(const Num& n) noexcept;
// Rounds half to even and checks lo <= value <= hi.
HRESULT ToInt(const Num& n, Int128 lo, Int128 hi, Int128* out) noexcept;
HRESULT ToDouble(const Num& n, double* out) noexcept;
HRESULT ToFloat(const Num& n, float* out) noexcept;
HRESULT ToCy(const Num& n, CY* out) noexcept;
HRESULT ToDecimal(const Num& n, DECIMAL* out) noexcept;
// Shortest text as the platform writes it: up to 15 significant digits for
// doubles and 7 for floats, "1E+20" style beyond that range.
std::u16string Format(const Num& n, const LocaleInfo& locale);

}  // namespace vel::oanum
