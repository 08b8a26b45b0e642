// MultiByteToWideChar / WideCharToMultiByte: UTF-8 by hand (the platform's
// exact replacement rules), every other code page through iconv.
//
// Thread safety: each call opens its own converter; nothing is shared.
// ASCII text in a code page that keeps ASCII needs no converter.
#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <type_traits>

#include "platform/text.h"
#include "platform/win32/winbase.h"

namespace {

constexpr UINT kUtf16Le = 1200;
constexpr UINT kUtf16Be = 1201;

struct CodePageName {
  UINT codePage;
  const char* iconvName;
};

constexpr CodePageName kCodePages[] = {
    {437, "CP437"},        {850, "CP850"},         {852, "CP852"},         {866, "CP866"},
    {874, "CP874"},        {932, "CP932"},         {936, "CP936"},         {949, "CP949"},
    {950, "CP950"},        {kUtf16Le, "UTF-16LE"}, {kUtf16Be, "UTF-16BE"}, {1250, "CP1250"},
    {1251, "CP1251"},      {1252, "CP1252"},       {1253, "CP1253"},       {1254, "CP1254"},
    {1255, "CP1255"},      {1256, "CP1256"},       {1257, "CP1257"},       {1258, "CP1258"},
    {10000, "MACINTOSH"},  {20127, "ASCII"},       {20866, "KOI8-R"},      {21866, "KOI8-U"},
    {28591, "ISO-8859-1"}, {28592, "ISO-8859-2"},  {28593, "ISO-8859-3"},  {28594, "ISO-8859-4"},
    {28595, "ISO-8859-5"}, {28596, "ISO-8859-6"},  {28597, "ISO-8859-7"},  {28598, "ISO-8859-8"},
    {28599, "ISO-8859-9"}, {28603, "ISO-8859-13"}, {28605, "ISO-8859-15"}, {50220, "ISO-2022-JP"},
    {51932, "EUC-JP"},     {54936, "GB18030"},     {65000, "UTF-7"},
};

const char* IconvName(UINT codePage) {
  for (const auto& c : kCodePages) {
    if (c.codePage == codePage) return c.iconvName;
  }
  return nullptr;
}

UINT AnsiCodePage() {
  // Read once: the environment is not for changing while threads run.
  static const UINT acp = [] {
    const char* env = std::getenv("VEL_ANSI_CODEPAGE");
    if (env && *env) {
      char* end = nullptr;
      unsigned long n = std::strtoul(env, &end, 10);
      if (*end == 0 && (n == CP_UTF8 || IconvName(static_cast<UINT>(n)))) return static_cast<UINT>(n);
    }
    return 1252u;
  }();
  return acp;
}

// The code page a caller's number stands for; 0 when unknown.
UINT Resolve(UINT codePage) {
  switch (codePage) {
    case CP_ACP:
    case 3:  // the thread's ANSI code page
      return AnsiCodePage();
    case CP_OEMCP:
      return 437;
    case 2:  // the Macintosh code page
      return 10000;
    case CP_UTF8:
      return CP_UTF8;
    default:
      return IconvName(codePage) ? codePage : 0;
  }
}

// Code pages whose bytes below 0x80 are the ASCII characters, one each, in
// any context: text of such bytes only is widened or narrowed without
// opening a converter (which costs more than converting a short text).
bool AsciiCompatible(UINT codePage) {
  return codePage == 874 || (codePage >= 1250 && codePage <= 1258) || (codePage >= 28591 && codePage <= 28605) ||
         codePage == 20127 || codePage == 20866 || codePage == 21866;
}

template <class Char>
bool AllAscii(std::basic_string_view<Char> text) {
  return std::all_of(text.begin(), text.end(), [](Char c) { return static_cast<std::make_unsigned_t<Char>>(c) < 0x80; });
}

// Bytes 0x81, 0x8D, 0x8F, 0x90 and 0x9D have no character in Windows-1252;
// the platform passes them through as the C1 controls of the same value.
bool Is1252Hole(unsigned c) { return c == 0x81 || c == 0x8D || c == 0x8F || c == 0x90 || c == 0x9D; }

class Iconv {
 public:
  Iconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Iconv() {
    if (ok()) iconv_close(cd_);
  }
  Iconv(const Iconv&) = delete;
  Iconv& operator=(const Iconv&) = delete;
  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

  // Converts as much as it can; appends to out. Returns 0 at the end of the
  // input, EILSEQ or EINVAL where the input cannot be converted (in is left
  // at that place).
  int Convert(const char*& in, size_t& inLeft, std::string& out) {
    char buf[1024];
    for (;;) {
      char* o = buf;
      size_t oLeft = sizeof buf;
      char* i = const_cast<char*>(in);
      size_t r = iconv(cd_, inLeft ? &i : nullptr, &inLeft, &o, &oLeft);
      const int e = errno;
      in = i;
      out.append(buf, static_cast<size_t>(o - buf));
      if (r != static_cast<size_t>(-1)) {
        if (inLeft == 0) return 0;
        continue;
      }
      if (e == E2BIG) continue;
      return e;
    }
  }
  // Ends the conversion: what the converter still holds (a stateful
  // output's return to the initial shift state, a character held back to
  // be composed with what might follow).
  void Finish(std::string& out) {
    char buf[64];
    char* o = buf;
    size_t oLeft = sizeof buf;
    iconv(cd_, nullptr, nullptr, &o, &oLeft);
    out.append(buf, static_cast<size_t>(o - buf));
  }

 private:
  iconv_t cd_;
};

// --------------------------------------------------------------- iconv

bool DecodeIconv(UINT codePage, std::string_view in, bool strict, std::u16string& out, DWORD* error) {
  Iconv cd("UTF-16LE", IconvName(codePage));
  if (!cd.ok()) {
    *error = ERROR_INVALID_PARAMETER;
    return false;
  }
  std::string bytes;
  const char* p = in.data();
  size_t left = in.size();
  while (left > 0) {
    int e = cd.Convert(p, left, bytes);
    if (e == 0) break;
    if (codePage == 1252 && Is1252Hole(static_cast<unsigned char>(*p))) {
      bytes += *p;
      bytes += '\0';
      ++p;
      --left;
      continue;
    }
    if (strict) {
      *error = ERROR_NO_UNICODE_TRANSLATION;
      return false;
    }
    bytes += "\xFD\xFF";     // U+FFFD, little-endian
    if (e == EINVAL) break;  // a sequence cut off by the end of the input
    ++p;
    --left;
  }
  // Converters that compose (Windows-1255, Windows-1258) hold the last
  // character back until they know no combining mark follows.
  cd.Finish(bytes);
  out.resize(bytes.size() / 2);
  std::memcpy(out.data(), bytes.data(), out.size() * 2);
  return true;
}

bool EncodeIconv(UINT codePage, std::u16string_view in, std::string_view defaultChar, bool* usedDefault,
                 std::string& out, DWORD* error) {
  Iconv cd(IconvName(codePage), "UTF-16LE");
  if (!cd.ok()) {
    *error = ERROR_INVALID_PARAMETER;
    return false;
  }
  const char* p = reinterpret_cast<const char*>(in.data());
  size_t left = in.size() * 2;
  while (left > 0) {
    int e = cd.Convert(p, left, out);
    if (e == 0) break;
    const auto* unit = reinterpret_cast<const char16_t*>(p);
    size_t units = 1;
    if (e != EINVAL && *unit >= 0xD800 && *unit <= 0xDBFF && left >= 4 && unit[1] >= 0xDC00 && unit[1] <= 0xDFFF) {
      units = 2;
    }
    if (codePage == 1252 && units == 1 && Is1252Hole(*unit)) {
      out += static_cast<char>(*unit);
    } else {
      out += defaultChar;
      *usedDefault = true;
    }
    if (e == EINVAL) break;
    p += units * 2;
    left -= units * 2;
  }
  cd.Finish(out);
  return true;
}

int Fail(DWORD error) {
  SetLastError(error);
  return 0;
}

template <class Char>
int Deliver(const std::basic_string<Char>& result, Char* out, int outSize) {
  if (result.size() > 0x7FFFFFFF) return Fail(ERROR_NOT_ENOUGH_MEMORY);
  const int n = static_cast<int>(result.size());
  if (outSize == 0) return n;
  if (n > outSize) return Fail(ERROR_INSUFFICIENT_BUFFER);
  std::memcpy(out, result.data(), result.size() * sizeof(Char));
  return n;
}

// UTF-8 into the caller's buffer (outSize 0: only counted), decoded in pieces
// that each end before a byte that is no continuation byte. A character's
// sequence is never cut that way, and an invalid one ends at such a byte
// anyway, so the pieces decode to exactly what the whole would; and no
// second whole copy of the result is made beside the caller's.
int DeliverUtf8(std::string_view in, bool strict, char16_t* out, int outSize) {
  constexpr std::size_t kPiece = 64 * 1024;
  const auto continuation = [&](std::size_t at) { return (static_cast<unsigned char>(in[at]) & 0xC0) == 0x80; };
  std::u16string piece;
  std::size_t total = 0;
  for (std::size_t at = 0; at < in.size();) {
    std::size_t end = std::min(in.size(), at + kPiece);
    while (end < in.size() && end > at && continuation(end)) --end;
    // Only continuation bytes from at on: each stands alone wherever it is cut.
    if (end == at) end = std::min(in.size(), at + kPiece);
    piece.clear();
    if (!vel::DecodeUtf8(in.substr(at, end - at), strict, piece)) return Fail(ERROR_NO_UNICODE_TRANSLATION);
    if (total + piece.size() > 0x7FFFFFFF) return Fail(ERROR_NOT_ENOUGH_MEMORY);
    if (outSize > 0) {
      if (total + piece.size() > static_cast<std::size_t>(outSize)) return Fail(ERROR_INSUFFICIENT_BUFFER);
      std::memcpy(out + total, piece.data(), piece.size() * sizeof(char16_t));
    }
    total += piece.size();
    at = end;
  }
  return static_cast<int>(total);
}

}  // namespace

extern "C" {

UINT GetACP() { return AnsiCodePage(); }

int MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte, LPWSTR lpWideCharStr,
                        int cchWideChar) {
  if (!lpMultiByteStr || cbMultiByte == 0 || cbMultiByte < -1 || cchWideChar < 0 ||
      (cchWideChar > 0 && !lpWideCharStr) ||
      (cchWideChar > 0 && static_cast<const void*>(lpMultiByteStr) == static_cast<const void*>(lpWideCharStr))) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  const UINT cp = Resolve(CodePage);
  if (cp == 0) return Fail(ERROR_INVALID_PARAMETER);
  constexpr DWORD kKnownFlags = 0x1 | 0x2 | 0x4 | MB_ERR_INVALID_CHARS;
  if ((dwFlags & ~kKnownFlags) ||
      ((cp == CP_UTF8 || cp == 54936 || cp == CP_UTF7) && (dwFlags & ~MB_ERR_INVALID_CHARS))) {
    return Fail(ERROR_INVALID_FLAGS);
  }
  const size_t length = cbMultiByte == -1 ? std::strlen(lpMultiByteStr) + 1 : static_cast<size_t>(cbMultiByte);
  const std::string_view in(lpMultiByteStr, length);
  const bool strict = (dwFlags & MB_ERR_INVALID_CHARS) != 0;
  if (cp == CP_UTF8) return DeliverUtf8(in, strict, lpWideCharStr, cchWideChar);
  std::u16string result;
  DWORD error = 0;
  // MB_COMPOSITE and MB_USEGLYPHCHARS may change even ASCII text.
  if (AsciiCompatible(cp) && (dwFlags & ~(0x1u | MB_ERR_INVALID_CHARS)) == 0 && AllAscii(in)) {
    result.assign(in.begin(), in.end());
  } else if (!DecodeIconv(cp, in, strict, result, &error)) {
    return Fail(error);
  }
  return Deliver(result, lpWideCharStr, cchWideChar);
}

int WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr, int cchWideChar, LPSTR lpMultiByteStr,
                        int cbMultiByte, LPCSTR lpDefaultChar, BOOL* lpUsedDefaultChar) {
  if (!lpWideCharStr || cchWideChar == 0 || cchWideChar < -1 || cbMultiByte < 0 ||
      (cbMultiByte > 0 && !lpMultiByteStr) ||
      (cbMultiByte > 0 && static_cast<const void*>(lpMultiByteStr) == static_cast<const void*>(lpWideCharStr))) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  const UINT cp = Resolve(CodePage);
  if (cp == 0) return Fail(ERROR_INVALID_PARAMETER);
  const bool unicode = cp == CP_UTF8 || cp == CP_UTF7 || cp == 54936;
  if (unicode && (lpDefaultChar || lpUsedDefaultChar)) return Fail(ERROR_INVALID_PARAMETER);
  constexpr DWORD kKnownFlags =
      WC_COMPOSITECHECK | WC_DISCARDNS | WC_SEPCHARS | WC_DEFAULTCHAR | WC_ERR_INVALID_CHARS | WC_NO_BEST_FIT_CHARS;
  if ((dwFlags & ~kKnownFlags) || (unicode && (dwFlags & ~WC_ERR_INVALID_CHARS))) return Fail(ERROR_INVALID_FLAGS);
  const size_t length =
      cchWideChar == -1 ? std::char_traits<char16_t>::length(lpWideCharStr) + 1 : static_cast<size_t>(cchWideChar);
  const std::u16string_view in(lpWideCharStr, length);
  std::string result;
  if (cp == CP_UTF8) {
    if (!vel::EncodeUtf8(in, (dwFlags & WC_ERR_INVALID_CHARS) != 0, result)) return Fail(ERROR_NO_UNICODE_TRANSLATION);
  } else if (AsciiCompatible(cp) && AllAscii(in)) {
    result.assign(in.begin(), in.end());
    if (lpUsedDefaultChar) *lpUsedDefaultChar = FALSE;
  } else {
    bool used = false;
    DWORD error = 0;
    const std::string_view defaultChar = lpDefaultChar && *lpDefaultChar ? std::string_view(lpDefaultChar) : "?";
    if (!EncodeIconv(cp, in, defaultChar, &used, result, &error)) return Fail(error);
    if (lpUsedDefaultChar) *lpUsedDefaultChar = used ? TRUE : FALSE;
  }
  return Deliver(result, lpMultiByteStr, cbMultiByte);
}

}  // extern "C"
