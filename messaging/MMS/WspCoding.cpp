#include "messaging/MMS/WspCoding.h"

#include <algorithm>

#include "platform/base/Ascii.h"
#include "ylib/YErrorFrame.h"
#include "ylib/YString.h"

namespace {

constexpr char16_t kSource[] = u"WspCoding";

constexpr std::uint8_t kTextQuote = 0x7F;
constexpr std::uint8_t kLengthQuote = 31;

}  // namespace

namespace vel::wsp {

bool GetUintvar(ByteReader& in, std::uint32_t& value) noexcept {
  return ReadAll(in, [&](ByteReader& r) {
    std::uint64_t v = 0;
    bool overflow = false;
    std::uint8_t b = 0;
    do {
      b = r.U8();
      if (!r.ok()) return false;
      v = (v << 7) | (b & 0x7F);
      if (v > 0xFFFFFFFFu) {
        overflow = true;
        v &= 0xFFFFFFFFu;  // keeps the shift from ever overflowing; the result is saturated below
      }
    } while (b & 0x80);
    value = overflow ? 0xFFFFFFFFu : static_cast<std::uint32_t>(v);
    return true;
  });
}

bool GetIntegerValue(ByteReader& in, std::uint32_t& value) noexcept {
  return ReadAll(in, [&](ByteReader& r) {
    const std::uint8_t first = r.U8();
    if (!r.ok()) return false;
    if (first >= 0x80) {
      value = first & 0x7F;
      return true;
    }
    const std::span<const std::uint8_t> bytes = r.Bytes(first);
    if (!r.ok()) return false;
    std::uint32_t v = 0;
    if (bytes.size() <= 4) {
      for (const std::uint8_t b : bytes) v = (v << 8) | b;
    }
    value = v;
    return true;
  });
}

bool GetValueLength(ByteReader& in, std::uint32_t& value) noexcept {
  std::uint8_t first = 0;
  if (!in.Peek(first)) return false;
  if (first > kLengthQuote) {
    value = 0;
    return true;
  }
  return ReadAll(in, [&](ByteReader& r) {
    r.Skip(1);
    if (first == kLengthQuote) return GetUintvar(r, value);
    value = first;
    return true;
  });
}

bool GetTextString(ByteReader& in, std::string& text) {
  if (in.empty()) return false;
  const std::span<const std::uint8_t> rest = in.rest();
  const auto zero = std::find(rest.begin(), rest.end(), std::uint8_t{0});
  std::string_view chars = in.Chars(static_cast<std::uint64_t>(zero - rest.begin()));
  if (!chars.empty() && static_cast<std::uint8_t>(chars.front()) == kTextQuote) chars.remove_prefix(1);
  text.assign(chars);
  if (zero != rest.end()) in.Skip(1);
  return true;
}

bool GetEncodedString(ByteReader& in, EncodedString& value) {
  value = EncodedString();
  std::uint8_t first = 0;
  if (!in.Peek(first)) return false;
  if (first >= 1 && first <= 31) {
    std::uint32_t length = 0;
    ByteReader body;
    const bool fits = ReadAll(in, [&](ByteReader& r) {
      if (!GetValueLength(r, length)) return false;
      body = r.Take(length);
      return true;
    });
    if (!fits) return false;
    if (length == 0) return true;
    value.hasText = true;
    value.hasCharset = true;
    if (GetIntegerValue(body, value.charset)) {
      GetTextString(body, value.bytes);
    }
    return true;
  }
  if (first >= 0x20 && first <= 0x7F) {
    value.hasText = true;
    GetTextString(in, value.bytes);
    return true;
  }
  // No text: everything up to and including the first byte below 0x80.
  std::uint8_t b = 0;
  while (in.Peek(b)) {
    in.Skip(1);
    if (b < 0x80) break;
  }
  return true;
}

void PutUintvar(ByteWriter& out, std::uint32_t value) {
  std::uint8_t groups[5];
  int n = 0;
  do {
    groups[n++] = static_cast<std::uint8_t>(value & 0x7F);
    value >>= 7;
  } while (value != 0);
  while (n > 0) {
    --n;
    out.PutU8(static_cast<std::uint8_t>(groups[n] | (n > 0 ? 0x80 : 0x00)));
  }
}

void PutLongInteger(ByteWriter& out, std::uint32_t value) {
  const int n = value <= 0xFF ? 1 : value <= 0xFFFF ? 2 : value <= 0xFFFFFF ? 3 : 4;
  out.PutU8(static_cast<std::uint8_t>(n));
  for (int i = n - 1; i >= 0; --i) out.PutU8(static_cast<std::uint8_t>(value >> (8 * i)));
}

void PutValueLength(ByteWriter& out, std::uint32_t value) {
  if (value <= 30) {
    out.PutU8(static_cast<std::uint8_t>(value));
  } else {
    out.PutU8(kLengthQuote);
    PutUintvar(out, value);
  }
}

void PutTextString(ByteWriter& out, std::string_view text) {
  if (!text.empty() && static_cast<std::uint8_t>(text[0]) >= 0x80) out.PutU8(kTextQuote);
  out.PutChars(text);
  out.PutU8(0);
}

std::u16string BytesToWide(std::string_view bytes, UINT codePage) {
  return YErrorFrame({u"vel::wsp::BytesToWide", kSource, __LINE__}, [&] {
    if (bytes.empty()) return std::u16string();
    // The table's Big5 entry names the Macintosh variant, which this platform
    // does not carry; the Windows Big5 code page reads the same characters.
    const UINT page = codePage == 10002 ? 950 : codePage;
    try {
      return CYStringHelper::MultiByteToString(bytes.data(), bytes.size(), page);
    } catch (const CYException&) {
      // A code page the system cannot convert: the text is lost, not the message.
      return std::u16string();
    }
  });
}

std::optional<std::uint8_t> ContentTypeFromText(std::string_view text) noexcept {
  for (const auto& row : kWspContentTypes) {
    if (AsciiEqualsNoCase(row.mimeType, text)) return row.code;
  }
  return std::nullopt;
}

const char* ContentTypeToText(std::uint8_t code) noexcept {
  for (const auto& row : kWspContentTypes) {
    if (row.code == code) return row.mimeType;
  }
  return nullptr;
}

std::optional<std::uint8_t> ContentTypeFromExtension(std::u16string_view ext) noexcept {
  for (const auto& row : kWspContentTypes) {
    std::string_view list = row.extensions;
    while (!list.empty()) {
      const std::size_t blank = list.find(' ');
      const std::string_view entry = list.substr(0, blank);
      if (!entry.empty() && AsciiEqualsNoCase(entry, ext)) return row.code;
      if (blank == std::string_view::npos) break;
      list.remove_prefix(blank + 1);
    }
  }
  return std::nullopt;
}

std::string_view ContentTypeFirstExtension(std::uint8_t code) noexcept {
  for (const auto& row : kWspContentTypes) {
    if (row.code == code) {
      std::string_view list = row.extensions;
      return list.substr(0, list.find(' '));
    }
  }
  return {};
}

}  // namespace vel::wsp

bool CharsetToCodePage(std::uint32_t mibEnum, UINT& codePage) noexcept {
  switch (mibEnum) {
    case 3:
    case 128:
      codePage = 0;
      return true;
    case 17:
      codePage = 932;
      return true;
    case 106:
      codePage = 65001;
      return true;
    case 1000:
      codePage = 1200;
      return true;
    case 2026:
      codePage = 10002;
      return true;
    default:
      if (mibEnum >= 4 && mibEnum <= 12) {
        codePage = 28590 + (mibEnum - 3);
        return true;
      }
      codePage = 0;
      return false;
  }
}

UINT CharsetToCodePage(std::uint32_t mibEnum) noexcept {
  UINT codePage = 0;
  CharsetToCodePage(mibEnum, codePage);
  return codePage;
}

const std::array<WspContentType, 73> kWspContentTypes = {{
    {"*/*", 0x00, ""},
    {"text/*", 0x01, ""},
    {"text/html", 0x02, "html htm"},
    {"text/plain", 0x03, "asc txt"},
    {"text/x-hdml", 0x04, ""},
    {"text/x-ttml", 0x05, ""},
    {"text/x-vCalendar", 0x06, ""},
    {"text/x-vCard", 0x07, ""},
    {"text/x-wap.wml", 0x08, ""},
    {"text/x-wap.wmlscript", 0x09, ""},
    {"text/x-wap.wta-event", 0x0A, ""},
    {"multipart/*", 0x0B, ""},
    {"multipart/mixed", 0x0C, ""},
    {"multipart/form-data", 0x0D, ""},
    {"multipart/byteranges", 0x0E, ""},
    {"multipart/alternative", 0x0F, ""},
    {"application/*", 0x10, ""},
    {"application/java-vm", 0x11, ""},
    {"application/x-www-form-urlencoded", 0x12, ""},
    {"application/x-hdmlc", 0x13, ""},
    {"application/x-wap.wmlc", 0x14, ""},
    {"application/x-wap.wmlscriptc", 0x15, ""},
    {"application/x-wap.wta-eventc", 0x16, ""},
    {"application/x-wap.uaprof", 0x17, ""},
    {"application/x-wap.wtls-ca-certificate", 0x18, ""},
    {"application/x-wap.wtls-user-certificate", 0x19, ""},
    {"application/x-x509-ca-cert", 0x1A, ""},
    {"application/x-x509-user-cert", 0x1B, ""},
    {"image/*", 0x1C, ""},
    {"image/gif", 0x1D, "gif"},
    {"image/jpeg", 0x1E, "jpeg jpg jpe"},
    {"image/tiff", 0x1F, "tiff tif"},
    {"image/png", 0x20, "png"},
    {"image/x-wap.wbmp", 0x21, "wbmp"},
    {"x-wap.multipart/*", 0x22, ""},
    {"x-wap.multipart/mixed", 0x23, ""},
    {"x-wap.multipart/form-data", 0x24, ""},
    {"x-wap.multipart/byteranges", 0x25, ""},
    {"x-wap.multipart/alternative", 0x26, ""},
    {"application/vnd.wap.multipart.alternative", 0x26, ""},
    {"application/xml", 0x27, ""},
    {"text/xml", 0x28, ""},
    {"application/vnd.wap.wbxml", 0x29, ""},
    {"application/x-x968-cross-cert", 0x2A, ""},
    {"application/x-x968-ca-cert", 0x2B, ""},
    {"application/x-x968-user-cert", 0x2C, ""},
    {"text/vnd.wap.si", 0x2D, ""},
    {"application/vnd.wap.sic", 0x2E, ""},
    {"text/vnd.wap.sl", 0x2F, ""},
    {"application/vnd.wap.slc", 0x30, ""},
    {"text/vnd.wap.co", 0x31, ""},
    {"application/vnd.wap.coc", 0x32, ""},
    {"application/vnd.wap.multipart.related", 0x33, ""},
    {"application/vnd.wap.sia", 0x34, ""},
    {"text/vnd.wap.connectivity-xml", 0x35, ""},
    {"application/vnd.wap.connectivity-wbxml", 0x36, ""},
    {"application/pkcs7-mime", 0x37, ""},
    {"application/vnd.wap.hashed-certificate", 0x38, ""},
    {"application/vnd.wap.signed-certificate", 0x39, ""},
    {"application/vnd.wap.cert-response", 0x3A, ""},
    {"application/xhtml+xml", 0x3B, ""},
    {"application/wml+xml", 0x3C, ""},
    {"text/css", 0x3D, ""},
    {"application/vnd.wap.mms-message", 0x3E, ""},
    {"application/vnd.wap.rollover-certificate", 0x3F, ""},
    {"application/vnd.wap.locc+wbxml", 0x40, ""},
    {"application/vnd.wap.loc+xml", 0x41, ""},
    {"application/vnd.syncml.dm+wbxml", 0x42, ""},
    {"application/vnd.syncml.dm+xml", 0x43, ""},
    {"application/vnd.syncml.notification", 0x44, ""},
    {"application/vnd.wap.xhtml+xml", 0x45, ""},
    {"audio/x-wav", 0x7E, "wav"},
    {"application/smil", 0x7D, "smil smi"},
}};
