#include "platform/text.h"

#include <locale.h>
#include <wctype.h>

namespace vel {

void AppendUtf16(std::u16string& out, char32_t cp) {
  if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    out += u'\uFFFD';
  } else if (cp >= 0x10000) {
    cp -= 0x10000;
    out += static_cast<char16_t>(0xD800 + (cp >> 10));
    out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
  } else {
    out += static_cast<char16_t>(cp);
  }
}

bool DecodeUtf8(std::string_view in, bool strict, std::u16string& out) {
  size_t i = 0;
  while (i < in.size()) {
    const unsigned char c = static_cast<unsigned char>(in[i]);
    if (c < 0x80) {
      out += static_cast<char16_t>(c);
      ++i;
      continue;
    }
    unsigned need = 0;
    char32_t cp = 0;
    unsigned char lo = 0x80, hi = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
      need = 1;
      cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      need = 2;
      cp = c & 0x0F;
      if (c == 0xE0) lo = 0xA0;
      if (c == 0xED) hi = 0x9F;  // no surrogates
    } else if (c >= 0xF0 && c <= 0xF4) {
      need = 3;
      cp = c & 0x07;
      if (c == 0xF0) lo = 0x90;
      if (c == 0xF4) hi = 0x8F;
    } else {
      if (strict) return false;
      out += u'\uFFFD';
      ++i;
      continue;
    }
    size_t j = i + 1;
    bool good = true;
    for (unsigned k = 0; k < need; ++k, ++j) {
      if (j >= in.size()) {
        good = false;
        break;
      }
      const unsigned char t = static_cast<unsigned char>(in[j]);
      if (t < lo || t > hi) {
        good = false;
        break;
      }
      lo = 0x80;
      hi = 0xBF;
      cp = (cp << 6) | (t & 0x3F);
    }
    if (!good) {
      if (strict) return false;
      out += u'\uFFFD';
      i = j;  // the valid prefix is consumed with its lead byte
      continue;
    }
    AppendUtf16(out, cp);
    i = j;
  }
  return true;
}

bool EncodeUtf8(std::u16string_view in, bool strict, std::string& out) {
  for (size_t i = 0; i < in.size(); ++i) {
    if (in[i] < 0x80) {
      // A run of ASCII, stored at once: most texts are nothing else.
      size_t end = i + 1;
      while (end < in.size() && in[end] < 0x80) ++end;
      const size_t at = out.size();
      out.resize(at + (end - i));
      for (size_t k = i; k < end; ++k) out[at + (k - i)] = static_cast<char>(in[k]);
      i = end - 1;
      continue;
    }
    char32_t cp = in[i];
    if (cp >= 0xD800 && cp <= 0xDFFF) {
      if (cp <= 0xDBFF && i + 1 < in.size() && in[i + 1] >= 0xDC00 && in[i + 1] <= 0xDFFF) {
        cp = 0x10000 + ((cp - 0xD800) << 10) + (in[i + 1] - 0xDC00);
        ++i;
      } else {
        if (strict) return false;
        cp = 0xFFFD;
      }
    }
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  return true;
}

std::string ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  EncodeUtf8(text, false, out);
  return out;
}

std::u16string FromUtf8(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  DecodeUtf8(text, false, out);
  return out;
}

std::size_t U16Len(const char16_t* text) noexcept {
  if (text == nullptr) return 0;
  std::size_t n = 0;
  while (text[n] != 0) ++n;
  return n;
}

char16_t FoldCaseBeyondAscii(char16_t c) noexcept {
  if (c < 0x80) return FoldCase(c);
  if (c >= 0xD800 && c <= 0xDFFF) return c;
  static locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
  if (utf8 == static_cast<locale_t>(nullptr)) return c;
  wint_t up = towupper_l(static_cast<wint_t>(c), utf8);
  return up <= 0xFFFF ? static_cast<char16_t>(up) : c;
}

int CompareNoCase(std::u16string_view a, std::u16string_view b) noexcept {
  std::size_t n = a.size() < b.size() ? a.size() : b.size();
  for (std::size_t i = 0; i < n; ++i) {
    char16_t x = FoldCase(a[i]);
    char16_t y = FoldCase(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

}  // namespace vel
