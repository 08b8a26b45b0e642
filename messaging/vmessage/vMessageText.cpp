#include "messaging/vmessage/vMessageText.h"

#include "platform/base/Ascii.h"
#include "platform/win32/winbase.h"

namespace vel::vmessage {
namespace {

int HexDigit(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  return -1;
}

// Counted, not decoded: a long file is not turned into UTF-16 only to learn
// that it can be.
bool IsUtf8(std::string_view bytes) {
  if (bytes.empty()) return true;
  if (bytes.size() > 0x7FFFFFFF) return false;
  return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), static_cast<int>(bytes.size()), nullptr,
                             0) > 0;
}

}  // namespace

UINT CodePageOfCharset(std::u16string_view name) noexcept {
  struct Entry {
    const char16_t* name;
    UINT codePage;
  };
  static constexpr Entry kCharsets[] = {
      {u"UTF-8", CP_UTF8},          {u"US-ASCII", 20127},        {u"ASCII", 20127},
      {u"ISO-8859-1", 28591},       {u"ISO-8859-2", 28592},      {u"ISO-8859-3", 28593},
      {u"ISO-8859-4", 28594},       {u"ISO-8859-5", 28595},      {u"ISO-8859-6", 28596},
      {u"ISO-8859-7", 28597},       {u"ISO-8859-8", 28598},      {u"ISO-8859-9", 28599},
      {u"ISO-8859-13", 28603},      {u"ISO-8859-15", 28605},     {u"WINDOWS-1250", 1250},
      {u"WINDOWS-1251", 1251},      {u"WINDOWS-1252", 1252},     {u"WINDOWS-1253", 1253},
      {u"WINDOWS-1254", 1254},      {u"WINDOWS-1255", 1255},     {u"WINDOWS-1256", 1256},
      {u"WINDOWS-1257", 1257},      {u"WINDOWS-1258", 1258},     {u"KOI8-R", 20866},
      {u"KOI8-U", 21866},           {u"SHIFT_JIS", 932},         {u"GB2312", 936},
      {u"GBK", 936},                {u"GB18030", 54936},         {u"BIG5", 950},
      {u"EUC-KR", 949},             {u"EUC-JP", 51932},          {u"UTF-7", CP_UTF7},
  };
  for (const Entry& e : kCharsets) {
    if (AsciiEqualsNoCase(name, e.name)) return e.codePage;
  }
  return 0;
}

std::u16string Decode(std::string_view bytes, UINT codePage, DWORD flags) {
  if (bytes.empty() || bytes.size() > 0x7FFFFFFF) return {};
  const int n = static_cast<int>(bytes.size());
  const int chars = MultiByteToWideChar(codePage, flags, bytes.data(), n, nullptr, 0);
  if (chars <= 0) return {};
  std::u16string out(static_cast<std::size_t>(chars), u'\0');
  MultiByteToWideChar(codePage, flags, bytes.data(), n, out.data(), chars);
  return out;
}

UINT EightBitCodePage(std::string_view bytes) { return IsUtf8(bytes) ? CP_UTF8 : CP_ACP; }

std::string DecodeQuotedPrintable(std::u16string_view text) {
  std::string bytes;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c == u'=' && i + 2 < text.size()) {
      const int hi = HexDigit(text[i + 1]);
      const int lo = HexDigit(text[i + 2]);
      if (hi >= 0 && lo >= 0) {
        bytes.push_back(static_cast<char>(hi * 16 + lo));
        i += 2;
        continue;
      }
    }
    if (c < 0x80) {
      bytes.push_back(static_cast<char>(c));
    } else {
      // A character outside ASCII in QP text is taken as it stands, in UTF-8.
      char16_t one[1] = {c};
      int size = WideCharToMultiByte(CP_UTF8, 0, one, 1, nullptr, 0, nullptr, nullptr);
      if (size > 0) {
        std::string utf8(static_cast<std::size_t>(size), '\0');
        WideCharToMultiByte(CP_UTF8, 0, one, 1, utf8.data(), size, nullptr, nullptr);
        bytes += utf8;
      }
    }
  }
  return bytes;
}

}  // namespace vel::vmessage
