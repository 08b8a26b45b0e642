#include "ylib/YFormat.h"

#include <cstdio>
#include <string>

#include "platform/text.h"

namespace {

constexpr int kMaxField = 4096;

struct Conversion {
  bool left = false, plus = false, space = false, zero = false, alt = false;
  int width = -1;      // -1: none
  int precision = -1;  // -1: none
  int bits = 32;       // integer width the conversion reads
  char16_t conv = 0;
};

void AppendAscii(std::u16string& out, const char* text, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) out.push_back(static_cast<unsigned char>(text[i]));
}

// Runs the C library's printf for one numeric conversion, so that every digit,
// rounding and flag combination is exactly what C prints.
template <class V>
void AppendC(std::u16string& out, const Conversion& s, const char* lengthAndConv, V value) {
  char fmt[32];
  char* f = fmt;
  *f++ = '%';
  if (s.left) *f++ = '-';
  if (s.plus) *f++ = '+';
  if (s.space) *f++ = ' ';
  if (s.zero) *f++ = '0';
  if (s.alt) *f++ = '#';
  *f++ = '*';
  *f++ = '.';
  *f++ = '*';
  for (const char* c = lengthAndConv; *c;) *f++ = *c++;
  *f = 0;
  // "*" with -1 as precision means "none", as C defines; width 0 means none.
  const int width = s.width < 0 ? 0 : s.width;
  char small[512];
  int n = std::snprintf(small, sizeof small, fmt, width, s.precision, value);
  if (n < 0) return;
  if (static_cast<std::size_t>(n) < sizeof small) {
    AppendAscii(out, small, static_cast<std::size_t>(n));
    return;
  }
  std::string big(static_cast<std::size_t>(n) + 1, '\0');
  std::snprintf(big.data(), big.size(), fmt, width, s.precision, value);
  AppendAscii(out, big.data(), static_cast<std::size_t>(n));
}

void AppendPadded(std::u16string& out, const Conversion& s, std::u16string_view body) {
  const std::size_t width = s.width < 0 ? 0 : static_cast<std::size_t>(s.width);
  const std::size_t pad = body.size() < width ? width - body.size() : 0;
  if (!s.left) out.append(pad, s.zero ? u'0' : u' ');
  out.append(body);
  if (s.left) out.append(pad, u' ');
}

bool IsInteger(const YFormatArg& a) {
  return a.kind == YFormatArg::Kind::Signed || a.kind == YFormatArg::Kind::Unsigned ||
         a.kind == YFormatArg::Kind::Char16;
}

// The argument's bits cut to the conversion's width; sign-extended when the
// conversion is signed.
std::int64_t AsSigned(const YFormatArg& a, int bits) {
  const std::uint64_t raw = a.u;  // a signed argument is stored sign-extended
  switch (bits) {
    case 8: return static_cast<std::int8_t>(raw);
    case 16: return static_cast<std::int16_t>(raw);
    case 32: return static_cast<std::int32_t>(raw);
    default: return static_cast<std::int64_t>(raw);
  }
}

std::uint64_t AsUnsigned(const YFormatArg& a, int bits) {
  const std::uint64_t raw = a.u;
  switch (bits) {
    case 8: return static_cast<std::uint8_t>(raw);
    case 16: return static_cast<std::uint16_t>(raw);
    case 32: return static_cast<std::uint32_t>(raw);
    default: return raw;
  }
}

void AppendText(std::u16string& out, const Conversion& s, const YFormatArg& a) {
  std::u16string converted;
  std::u16string_view text;
  if (a.kind == YFormatArg::Kind::WideText) {
    if (a.isOwned) {
      text = a.owned;
    } else if (a.wide) {
      text = std::u16string_view(a.wide, a.length);
    } else {
      text = u"(null)";
    }
  } else {
    if (a.narrow) {
      converted = vel::FromUtf8(std::string_view(a.narrow, a.length));
      text = converted;
    } else {
      text = u"(null)";
    }
  }
  if (s.precision >= 0 && text.size() > static_cast<std::size_t>(s.precision)) {
    text = text.substr(0, static_cast<std::size_t>(s.precision));
  }
  Conversion padded = s;
  padded.zero = false;
  AppendPadded(out, padded, text);
}

// Reads a decimal number or "*" (from the next argument). Returns false when
// "*" finds no integer argument.
bool ReadNumber(std::u16string_view f, std::size_t& i, const YFormatArg* args, std::size_t count, std::size_t& next,
                int& value, bool& fromStar) {
  fromStar = false;
  if (i < f.size() && f[i] == u'*') {
    ++i;
    fromStar = true;
    if (next >= count || !IsInteger(args[next])) {
      ++next;
      return false;
    }
    const std::int64_t v = args[next].kind == YFormatArg::Kind::Signed ? args[next].i
                                                                        : static_cast<std::int64_t>(args[next].u);
    ++next;
    value = v > kMaxField ? kMaxField : (v < -kMaxField ? -kMaxField : static_cast<int>(v));
    return true;
  }
  long long v = 0;
  bool any = false;
  while (i < f.size() && f[i] >= u'0' && f[i] <= u'9') {
    any = true;
    if (v <= kMaxField) v = v * 10 + (f[i] - u'0');
    ++i;
  }
  if (any) value = v > kMaxField ? kMaxField : static_cast<int>(v);
  return true;
}

}  // namespace

std::u16string YFormatArgs(std::u16string_view f, const YFormatArg* args, std::size_t count) {
  std::u16string out;
  out.reserve(f.size() + 16 * count);
  std::size_t next = 0;
  std::size_t i = 0;
  while (i < f.size()) {
    const char16_t c = f[i];
    if (c != u'%') {
      out.push_back(c);
      ++i;
      continue;
    }
    const std::size_t start = i++;
    if (i < f.size() && f[i] == u'%') {
      out.push_back(u'%');
      ++i;
      continue;
    }
    Conversion s;
    for (; i < f.size(); ++i) {
      const char16_t fl = f[i];
      if (fl == u'-') s.left = true;
      else if (fl == u'+') s.plus = true;
      else if (fl == u' ') s.space = true;
      else if (fl == u'0') s.zero = true;
      else if (fl == u'#') s.alt = true;
      else break;
    }
    bool badStar = false;
    bool fromStar = false;
    int width = -1;
    if (!ReadNumber(f, i, args, count, next, width, fromStar)) badStar = true;
    if (fromStar && width < 0) {
      s.left = true;
      width = -width;
    }
    s.width = width;
    if (i < f.size() && f[i] == u'.') {
      ++i;
      int precision = 0;  // "." alone is precision 0
      if (!ReadNumber(f, i, args, count, next, precision, fromStar)) badStar = true;
      s.precision = precision < 0 ? -1 : precision;
    }
    // Length prefix.
    if (i < f.size()) {
      const std::u16string_view rest = f.substr(i);
      if (rest.starts_with(u"I64")) {
        s.bits = 64, i += 3;
      } else if (rest.starts_with(u"I32")) {
        s.bits = 32, i += 3;
      } else if (rest.starts_with(u"ll")) {
        s.bits = 64, i += 2;
      } else if (rest.starts_with(u"hh")) {
        s.bits = 8, i += 2;
      } else if (rest[0] == u'h') {
        s.bits = 16, ++i;
      } else if (rest[0] == u'l' || rest[0] == u'w') {
        s.bits = 32, ++i;  // the platform's long is 32 bits
      } else if (rest[0] == u'I' || rest[0] == u'z' || rest[0] == u'j' || rest[0] == u't') {
        s.bits = 64, ++i;
      } else if (rest[0] == u'L') {
        ++i;
      }
    }
    if (i >= f.size()) {
      out.append(f.substr(start));
      break;
    }
    s.conv = f[i++];
    const bool knownConv = std::u16string_view(u"diuxXocCsSfFeEgGaAp").find(s.conv) != std::u16string_view::npos;
    if (!knownConv) {
      out.append(f.substr(start, i - start));
      continue;
    }
    if (badStar) {
      out.append(u"(bad arg)");
      ++next;
      continue;
    }
    if (next >= count) {
      out.append(u"(missing arg)");
      continue;
    }
    const YFormatArg& a = args[next++];
    switch (s.conv) {
      case u'd':
      case u'i':
        if (!IsInteger(a)) {
          out.append(u"(bad arg)");
        } else {
          AppendC(out, s, "lld", static_cast<long long>(AsSigned(a, s.bits)));
        }
        break;
      case u'u':
      case u'x':
      case u'X':
      case u'o':
        if (!IsInteger(a)) {
          out.append(u"(bad arg)");
        } else {
          const char conv[] = {'l', 'l', static_cast<char>(s.conv), 0};
          AppendC(out, s, conv, static_cast<unsigned long long>(AsUnsigned(a, s.bits)));
        }
        break;
      case u'f':
      case u'F':
      case u'e':
      case u'E':
      case u'g':
      case u'G':
      case u'a':
      case u'A': {
        double v;
        if (a.kind == YFormatArg::Kind::Double) {
          v = a.d;
        } else if (a.kind == YFormatArg::Kind::Signed) {
          v = static_cast<double>(a.i);
        } else if (IsInteger(a)) {
          v = static_cast<double>(a.u);
        } else {
          out.append(u"(bad arg)");
          break;
        }
        const char conv[] = {static_cast<char>(s.conv), 0};
        AppendC(out, s, conv, v);
        break;
      }
      case u'c':
      case u'C':
        if (!IsInteger(a)) {
          out.append(u"(bad arg)");
        } else {
          const char16_t ch = static_cast<char16_t>(a.u & 0xFFFF);
          Conversion padded = s;
          padded.zero = false;
          AppendPadded(out, padded, std::u16string_view(&ch, 1));
        }
        break;
      case u's':
      case u'S':
        if (a.kind != YFormatArg::Kind::WideText && a.kind != YFormatArg::Kind::NarrowText) {
          out.append(u"(bad arg)");
        } else {
          AppendText(out, s, a);
        }
        break;
      case u'p': {
        std::uint64_t v;
        if (a.kind == YFormatArg::Kind::Pointer) {
          v = reinterpret_cast<std::uintptr_t>(a.p);
        } else if (IsInteger(a)) {
          v = a.u;
        } else {
          out.append(u"(bad arg)");
          break;
        }
        char digits[24];
        const int n = std::snprintf(digits, sizeof digits, "%016llX", static_cast<unsigned long long>(v));
        std::u16string body;
        AppendAscii(body, digits, static_cast<std::size_t>(n));
        Conversion padded = s;
        padded.zero = false;
        AppendPadded(out, padded, body);
        break;
      }
    }
  }
  return out;
}
