// YFormat: the one printf-style formatter for every format text the module
// prints (log lines, report details, timer lines).
//
//   std::u16string s = YFormat(u"%s [%-10s] TID:%d : %s\n", when, level, tid, text);
//   YFormat(u"%04d:%02d:%02d", h, m, s);   YFormat(u"%I64d", int64);   YFormat(u"0x%X", code);
//
// Arguments are captured by type (no va_list), so a wrong argument can never
// crash; the rules follow the platform's wide printf:
// - flags "-", "+", " ", "0", "#"; width and precision, both also as "*"
//   (taken from an integer argument; a negative width means "-", a negative
//   precision means none);
// - length prefixes h, hh, l (32 bits, as the platform's long), ll, I64, I32,
//   I (pointer width), L, z, j, t, w;
// - d i u x X o: the integer argument, whatever its own width and sign, is cut
//   to the width the conversion demands (32 bits without prefix) and read as
//   signed or unsigned as the conversion says. "%d" of 0xFFFFFFFFu prints -1,
//   "%I64d" of UINT64_MAX prints -1, "%X" of -1 prints FFFFFFFF. Narrower
//   arguments are widened by their own sign first, so "%I64u" of -1 prints
//   18446744073709551615;
// - f F e E g G a A: printed exactly as the C library's printf prints the
//   double; an integer argument is converted to double;
// - c: a char16_t (or an integer taken as a UTF-16 code unit); "C" the same;
// - s: text. Wide text (const char16_t*, BSTR, std::u16string, u16string_view)
//   is what "%s" is meant for, "%S" for narrow 8-bit text (const char*,
//   std::string, string_view), which is decoded as UTF-8 (invalid bytes become
//   U+FFFD). The argument's type decides the decoding, so the two letters
//   never misread text. A null pointer prints "(null)". The precision limits
//   the UTF-16 code units taken from the text;
// - p: a pointer (or integer), 16 upper-case hex digits;
// - "%%" prints "%".
// Mistakes are visible instead of undefined: an argument that does not fit its
// conversion (text for "%d", a number for "%s", a double for "%x") prints
// "(bad arg)", a conversion without argument "(missing arg)", an unknown
// conversion letter is copied as written; surplus arguments are ignored.
// Widths and precisions above 4096 are cut to 4096 so a stray "*" cannot
// exhaust memory.
//
// Other types print as text when an overload `std::u16string YFormatText(const T&)`
// is found by argument-dependent lookup (the place to teach it the comdef text
// wrapper).
//
// Thread safety: pure functions; any thread.
#pragma once

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>

// One captured argument. Plain data; text is viewed, not owned, except for
// what YFormatText produced (kept in `owned`).
struct YFormatArg {
  enum class Kind : std::uint8_t { Signed, Unsigned, Double, WideText, NarrowText, Pointer, Char16 };
  Kind kind = Kind::Signed;
  union {
    std::int64_t i;
    std::uint64_t u;
    double d;
    const void* p;
  };
  // Text: pointer + length; a null pointer is "(null)".
  const char16_t* wide = nullptr;
  const char* narrow = nullptr;
  std::size_t length = 0;
  bool isOwned = false;
  std::u16string owned;

  YFormatArg() : i(0) {}

  template <class T>
  static YFormatArg From(const T& value);
};

template <class T>
concept YFormatHasText = requires(const T& t) {
  { YFormatText(t) } -> std::convertible_to<std::u16string>;
};

template <class T>
YFormatArg YFormatArg::From(const T& value) {
  using D = std::remove_cvref_t<T>;
  YFormatArg a;
  if constexpr (std::is_same_v<D, bool>) {
    a.kind = Kind::Unsigned;
    a.u = value ? 1 : 0;
  } else if constexpr (std::is_same_v<D, char16_t>) {
    a.kind = Kind::Char16;
    a.u = static_cast<std::uint16_t>(value);
  } else if constexpr (std::is_same_v<D, char> || std::is_same_v<D, signed char>) {
    a.kind = Kind::Signed;
    a.i = static_cast<signed char>(value);
  } else if constexpr (std::is_enum_v<D>) {
    using U = std::underlying_type_t<D>;
    if constexpr (std::is_signed_v<U>) {
      a.kind = Kind::Signed;
      a.i = static_cast<std::int64_t>(static_cast<U>(value));
    } else {
      a.kind = Kind::Unsigned;
      a.u = static_cast<std::uint64_t>(static_cast<U>(value));
    }
  } else if constexpr (std::is_integral_v<D> && std::is_signed_v<D>) {
    a.kind = Kind::Signed;
    a.i = static_cast<std::int64_t>(value);
  } else if constexpr (std::is_integral_v<D>) {
    a.kind = Kind::Unsigned;
    a.u = static_cast<std::uint64_t>(value);
  } else if constexpr (std::is_floating_point_v<D>) {
    a.kind = Kind::Double;
    a.d = static_cast<double>(value);
  } else if constexpr (std::is_same_v<D, std::u16string> || std::is_same_v<D, std::u16string_view>) {
    a.kind = Kind::WideText;
    a.wide = value.data();
    a.length = value.size();
  } else if constexpr (std::is_same_v<D, std::string> || std::is_same_v<D, std::string_view>) {
    a.kind = Kind::NarrowText;
    a.narrow = value.data();
    a.length = value.size();
  } else if constexpr (std::is_array_v<D> && std::is_same_v<std::remove_cv_t<std::remove_extent_t<D>>, char16_t>) {
    a.kind = Kind::WideText;
    a.wide = value;
    a.length = std::u16string_view(value).size();
  } else if constexpr (std::is_array_v<D> && std::is_same_v<std::remove_cv_t<std::remove_extent_t<D>>, char>) {
    a.kind = Kind::NarrowText;
    a.narrow = value;
    a.length = std::string_view(value).size();
  } else if constexpr (std::is_pointer_v<D> && std::is_same_v<std::remove_cv_t<std::remove_pointer_t<D>>, char16_t>) {
    a.kind = Kind::WideText;
    a.wide = value;
    a.length = value ? std::u16string_view(value).size() : 0;
  } else if constexpr (std::is_pointer_v<D> && std::is_same_v<std::remove_cv_t<std::remove_pointer_t<D>>, char>) {
    a.kind = Kind::NarrowText;
    a.narrow = value;
    a.length = value ? std::string_view(value).size() : 0;
  } else if constexpr (std::is_pointer_v<D> || std::is_null_pointer_v<D>) {
    a.kind = Kind::Pointer;
    a.p = static_cast<const void*>(value);
  } else if constexpr (YFormatHasText<D>) {
    a.kind = Kind::WideText;
    a.owned = YFormatText(value);
    a.isOwned = true;  // read from `owned`: a pointer into it would dangle on a move
    a.length = a.owned.size();
  } else {
    static_assert(sizeof(D) == 0, "YFormat: no printf conversion for this argument type");
  }
  return a;
}

// Formats with already captured arguments; the variadic form below calls it.
std::u16string YFormatArgs(std::u16string_view format, const YFormatArg* args, std::size_t count);

template <class... Args>
std::u16string YFormat(std::u16string_view format, const Args&... args) {
  if constexpr (sizeof...(Args) == 0) {
    return YFormatArgs(format, nullptr, 0);
  } else {
    const YFormatArg captured[] = {YFormatArg::From(args)...};
    return YFormatArgs(format, captured, sizeof...(Args));
  }
}
