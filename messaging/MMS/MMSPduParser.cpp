#include "messaging/MMS/MMSPduParser.h"

#include <algorithm>
#include <limits>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "messaging/MMS/MMSCodec2.h"
#include "messaging/MMS/WspCoding.h"
#include "platform/base/Ascii.h"
#include "ylib/YLogging.h"

namespace vel::mms {
namespace {

using namespace vel::wsp;

constexpr std::uint8_t kMultipartRelated = 0xB3;
constexpr std::u16string_view kPlmnSuffix = u"/TYPE=PLMN";

// Lengths are reported as int; anything longer than that is not looked at.
std::span<const std::uint8_t> ClampLength(std::span<const std::uint8_t> bytes) noexcept {
  return bytes.first(std::min(bytes.size(), static_cast<std::size_t>(std::numeric_limits<int>::max())));
}

// The next n bytes as a reader of their own; false, with in untouched, when
// fewer remain.
bool TakePart(ByteReader& in, std::uint64_t n, ByteReader& part) noexcept {
  if (n > in.remaining()) return false;
  part = in.Take(n);
  return true;
}

std::u16string CutPlmn(std::u16string text) {
  const std::size_t at = text.find(kPlmnSuffix);
  if (at != std::u16string::npos) text.resize(at);
  return text;
}

// One leading '"' and one leading '<' go; the text ends before its last '"'
// and before its last '>'.
std::string CleanName(std::string text) {
  if (!text.empty() && text.front() == '"') text.erase(0, 1);
  if (!text.empty() && text.front() == '<') text.erase(0, 1);
  std::size_t at = text.rfind('"');
  if (at != std::string::npos) text.resize(at);
  at = text.rfind('>');
  if (at != std::string::npos) text.resize(at);
  return text;
}

// Encoded-string-value as wide text in its charset's code page (plain text:
// code page 0); nullopt for the form that carries no text.
std::optional<std::u16string> DecodeEncodedString(const EncodedString& value) {
  if (!value.hasText) return std::nullopt;
  const UINT codePage = value.hasCharset ? CharsetToCodePage(value.charset) : 0;
  return BytesToWide(value.bytes, codePage);
}

bool ReadAddress(ByteReader& in, std::vector<MmsAddress>& list) {
  EncodedString value;
  if (!GetEncodedString(in, value)) return false;
  if (auto text = DecodeEncodedString(value)) {
    std::u16string cut = CutPlmn(std::move(*text));
    if (cut.empty()) {
      list.emplace_back(std::nullopt);
    } else {
      list.emplace_back(std::move(cut));
    }
  }
  return true;
}

bool ReadByteText(ByteReader& in, std::string& field) {
  EncodedString value;
  if (!GetEncodedString(in, value)) return false;
  field = value.hasText ? value.bytes : std::string();
  return true;
}

bool ReadOneByte(ByteReader& in, std::uint8_t& field) noexcept {
  if (!in.Peek(field)) return false;
  in.Skip(1);
  return true;
}

// From: Value-length, then the address-present token and an encoded string,
// or the insert-address token.
bool ReadFrom(ByteReader& in, std::u16string& from) {
  std::uint8_t first = 0;
  if (!in.Peek(first)) return false;
  std::uint32_t length = 0;
  if (!GetValueLength(in, length)) return false;
  if (length == 0) {
    if (first >= 32) in.Skip(1);
    return true;
  }
  ByteReader value;
  if (!TakePart(in, length, value)) return false;
  if (value.U8() != 0x80) {
    from.clear();
    return true;
  }
  EncodedString address;
  if (GetEncodedString(value, address) && address.hasText) {
    from = CutPlmn(BytesToWide(address.bytes, 65001));
  } else {
    from.clear();
  }
  return true;
}

bool ReadMessageClass(ByteReader& in, CMMSHeader& header) {
  std::uint8_t first = 0;
  if (!in.Peek(first)) return false;
  if (first >= 0x80) {
    in.Skip(1);
    if (first <= 0x83) {
      header.messageClassCode = first;
      header.messageClassText.clear();
    }
    return true;
  }
  GetTextString(in, header.messageClassText);
  header.messageClassCode = 0;
  return true;
}

// Delivery-Time and Expiry: a length byte; 0 and 1 stand alone, otherwise a
// token and an Integer-value follow.
bool ReadTimeField(ByteReader& in, std::uint8_t& token, std::uint32_t& value) {
  return ReadAll(in, [&](ByteReader& r) {
    const std::uint8_t length = r.U8();
    if (length > 1) {
      const std::uint8_t t = r.U8();
      std::uint32_t v = 0;
      if (!r.ok() || !GetIntegerValue(r, v)) return false;
      token = t;
      value = v;
    }
    return r.ok();
  });
}

// Content-Type of the header. False when its value does not fit.
bool ReadContentType(ByteReader& in, CMMSHeader& header) {
  std::uint8_t first = 0;
  if (!in.Peek(first)) return false;
  if (first >= 0x80) {
    header.contentType = first;
    in.Skip(1);
    return true;
  }
  if (first >= 0x20) {
    // A type text that runs to the end leaves no body and no end of header.
    const bool terminated = std::ranges::find(in.rest(), std::uint8_t{0}) != in.rest().end();
    std::string text;
    GetTextString(in, text);
    return terminated;
  }
  std::uint32_t length = 0;
  ByteReader value;
  if (!GetValueLength(in, length) || !TakePart(in, length, value)) return false;
  std::uint8_t media = 0;
  if (!value.Peek(media)) return true;
  if (media >= 0x80) {
    value.Skip(1);
    header.contentType = media;
  } else {
    // A textual media type in the general form: keep its well-known code when
    // it has one, rather than the first letter of its name.
    std::string text;
    GetTextString(value, text);
    if (auto code = ContentTypeFromText(text)) header.contentType = static_cast<std::uint8_t>(*code | 0x80);
  }
  if (header.contentType == kMultipartRelated) {
    std::uint8_t parameter = 0;
    if (value.Peek(parameter) && (parameter & 0x7F) == 0x0A) {
      value.Skip(1);
      if (!GetTextString(value, header.start)) header.start.clear();
    }
    if (value.Peek(parameter) && (parameter & 0x7F) == 0x09) {
      value.Skip(1);
      if (!GetTextString(value, header.type)) header.type.clear();
    }
  }
  return true;
}

// One header field after its code; false when its value runs past the data.
bool ReadHeaderField(std::uint8_t code, ByteReader& in, CMMSHeader& header) {
  switch (code) {
    case 0x81: return ReadAddress(in, header.bcc);
    case 0x82: return ReadAddress(in, header.cc);
    case 0x83: return ReadByteText(in, header.contentLocation);
    case 0x84: return ReadContentType(in, header);
    case 0x85: return GetIntegerValue(in, header.date);
    case 0x86: return ReadOneByte(in, header.deliveryReport);
    case 0x87: return ReadTimeField(in, header.deliveryTimeToken, header.deliveryTime);
    case 0x88: return ReadTimeField(in, header.expiryToken, header.expiry);
    case 0x89: return ReadFrom(in, header.from);
    case 0x8A: return ReadMessageClass(in, header);
    case 0x8B: return ReadByteText(in, header.messageId);
    case 0x8C: return ReadOneByte(in, header.messageType);
    case 0x8D: return ReadOneByte(in, header.mmsVersion);
    case 0x8E: return GetIntegerValue(in, header.messageSize);
    case 0x8F: return ReadOneByte(in, header.priority);
    case 0x90: return ReadOneByte(in, header.readReport);
    case 0x91: return ReadOneByte(in, header.reportAllowed);
    case 0x92: return ReadOneByte(in, header.responseStatus);
    case 0x93: return ReadByteText(in, header.responseText);
    case 0x94: return ReadOneByte(in, header.senderVisibility);
    case 0x95: return ReadOneByte(in, header.status);
    case 0x96: {
      EncodedString value;
      if (!GetEncodedString(in, value)) return false;
      header.subject = DecodeEncodedString(value).value_or(std::u16string());
      return true;
    }
    case 0x97: return ReadAddress(in, header.to);
    case 0x98: return ReadByteText(in, header.transactionId);
    // Fields stepped over: one byte.
    case 0x99: case 0x9B: case 0x9C: case 0xA2: case 0xA3: case 0xA5: case 0xA7: case 0xA9: case 0xAB:
    case 0xB1: {
      std::uint8_t ignored = 0;
      return ReadOneByte(in, ignored);
    }
    // Encoded-string-value.
    case 0x9A: case 0x9E: case 0xA6: {
      EncodedString ignored;
      return GetEncodedString(in, ignored);
    }
    // Value-length and that many bytes.
    case 0x9D: case 0xA0: case 0xA1: case 0xA4: case 0xAA: case 0xAC: case 0xB2:
      return ReadAll(in, [](ByteReader& r) {
        std::uint32_t length = 0;
        if (!GetValueLength(r, length)) return false;
        r.Skip(length);
        return true;
      });
    // Integer-value.
    case 0x9F: case 0xAD: case 0xAF: case 0xB3: {
      std::uint32_t ignored = 0;
      return GetIntegerValue(in, ignored);
    }
    // 0xA8, 0xAE, 0xB0: no value; what follows is read as field codes.
    default:
      return true;
  }
}

// What a part's parameters and headers named.
struct PartNames {
  std::optional<std::string> name;             // Name parameter
  std::optional<std::string> contentLocation;  // Content-Location header
};

// Reads the parameters and headers the codec keeps, in any order, until the
// reader ends (true) or something else comes (false: left unread).
bool ReadPartFields(ByteReader& in, CMultipartFile& part, PartNames& names, bool parameters) {
  while (!in.empty()) {
    std::uint8_t code = 0;
    in.Peek(code);
    ByteReader probe = in;
    probe.Skip(1);
    std::string text;
    switch (code) {
      case 0x81: {  // Charset
        std::uint32_t mib = 0;
        if (!GetIntegerValue(probe, mib)) return false;
        part.charsetCodePage = CharsetToCodePage(mib);
        break;
      }
      case 0x85:  // Name
        if (!GetTextString(probe, text)) return false;
        names.name = std::move(text);
        break;
      case 0x8E:  // Content-Location
        if (!GetTextString(probe, text)) return false;
        names.contentLocation = std::move(text);
        break;
      case 0xC0:  // Content-ID
        if (!GetTextString(probe, text)) return false;
        part.contentId = CleanName(std::move(text));
        break;
      default: {
        // An untyped parameter (token text, then a value): phones write the
        // name this way too ("name", "x.jpg").
        if (!parameters || code < 0x20 || code >= 0x80) return false;
        probe = in;
        std::string token;
        GetTextString(probe, token);
        std::uint8_t first = 0;
        if (!probe.Peek(first)) return false;
        if (first < 0x20 || first >= 0x80) {
          std::uint32_t ignored = 0;
          if (!GetIntegerValue(probe, ignored)) return false;
        } else {
          GetTextString(probe, text);
          if (AsciiEqualsNoCase(token, "name")) names.name = std::move(text);
        }
        break;
      }
    }
    in = probe;
  }
  return true;
}

void TraceLengthMismatch(std::size_t remaining, std::uint32_t headersLength, std::uint32_t dataLength,
                         std::size_t lengthBytes) {
  CYLogging::Log(kYLogDebug, u"CMMSCodec2::ReadMultipartFile: Buffer length mismatch:\n");
  CYLogging::Log(kYLogDebug, u"Buffer size: %i\n", remaining);
  CYLogging::Log(kYLogDebug, u"Header length: %i\n", headersLength);
  CYLogging::Log(kYLogDebug, u"Data Length: %i\n", dataLength);
  CYLogging::Log(kYLogDebug, u"Data and Header length value encoding length: %i\n", lengthBytes);
}

}  // namespace

int ParseHeader(std::span<const std::uint8_t> bytes, CMMSHeader& header) {
  bytes = ClampLength(bytes);
  if (bytes.empty()) return 0;
  if (bytes[0] != 0x8C) return kMmsErrBadHeader;
  ByteReader in(bytes);
  std::uint8_t code = 0;
  while (ReadOneByte(in, code)) {
    if (code < 0x81 || code > 0xB3) continue;
    if (!ReadHeaderField(code, in, header)) return kMmsErrBadHeader;
    if (code == 0x84) return static_cast<int>(in.position());
  }
  return kMmsErrBadHeader;
}

int ParseMultipartFiles(std::span<const std::uint8_t> bytes, CMultipartContainer& container) {
  bytes = ClampLength(bytes);
  if (bytes.empty()) return 0;
  container.Clear();
  ByteReader in(bytes);
  std::uint32_t count = 0;
  if (!GetUintvar(in, count)) return 0;
  CYLogging::Log(kYLogDebug, u"CMMSCodec2::ParseMultipartFiles: Number of multipart files:%i\n", count);
  if (count == 0) return static_cast<int>(in.position());
  std::uint32_t read = 0;
  while (!in.empty()) {
    auto part = std::make_unique<CMultipartFile>();
    const int result = ReadMultipartFile(in.rest(), *part);
    if (result <= 0) {
      CYLogging::Log(kYLogDebug, u"CMMSCodec2::ParseMultipartFiles: Failed to read multipart file!\n");
      return result;
    }
    container.Add(std::move(part));
    in.Skip(static_cast<std::uint64_t>(result));
    if (++read == count) break;
  }
  return static_cast<int>(in.position());
}

int ReadMultipartFile(std::span<const std::uint8_t> bytes, CMultipartFile& part) {
  bytes = ClampLength(bytes);
  if (bytes.empty()) return kMmsErrLengthMismatch;
  ByteReader in(bytes);
  std::uint32_t headersLength = 0;
  std::uint32_t dataLength = 0;
  const bool lengthsRead = GetUintvar(in, headersLength) && GetUintvar(in, dataLength);
  const std::size_t lengthBytes = static_cast<std::size_t>(in.position());
  const std::uint64_t total = std::uint64_t{lengthBytes} + headersLength + dataLength;
  // An entry without data is an empty part, not a broken message: refusing it
  // would cost every other part of the message with it.
  if (!lengthsRead || total > bytes.size() || headersLength == 0) {
    TraceLengthMismatch(bytes.size(), headersLength, dataLength, lengthBytes);
    return kMmsErrLengthMismatch;
  }
  ByteReader headers = in.Take(headersLength);

  PartNames names;
  bool shortForm = false;
  bool allRead = true;
  std::uint8_t first = 0;
  headers.Peek(first);
  if (first >= 0x80) {
    shortForm = true;
    part.contentType = first & 0x7F;
    headers.Skip(1);
  } else {
    // General form: Value-length, media, parameters. A bare type text
    // (no length) is read as a media text that ends the content type.
    std::uint32_t valueLength = 0;
    ByteReader value;
    if (first >= 0x20) {
      ByteReader probe = headers;
      std::string text;
      GetTextString(probe, text);
      value = headers.Take(probe.position() - headers.position());
    } else {
      ByteReader probe = headers;
      if (!GetValueLength(probe, valueLength) || valueLength > probe.remaining()) {
        CYLogging::Log(kYLogDebug,
                       u"CMMSCodec2::ReadMultipartFile: Length mismatch while parsing multipart content type:\n");
        CYLogging::Log(kYLogDebug, u"content type data length is greater than declared multipart header length\n");
        CYLogging::Log(kYLogDebug, u"Content type length:%i\n", valueLength);
        CYLogging::Log(kYLogDebug, u"Header length: %i\n", headersLength);
        return kMmsErrLengthMismatch;
      }
      headers = probe;
      value = headers.Take(valueLength);
    }
    std::uint8_t media = 0;
    if (value.Peek(media)) {
      if (media >= 0x80) {
        part.contentType = media & 0x7F;
        value.Skip(1);
      } else {
        std::string text;
        GetTextString(value, text);
        if (auto code = ContentTypeFromText(text)) {
          part.contentType = *code;
        } else {
          part.contentType = 0;
          part.typeText = std::move(text);
        }
      }
    }
    allRead = ReadPartFields(value, part, names, true);
  }
  allRead = ReadPartFields(headers, part, names, false) && allRead;

  if (names.contentLocation && !CleanName(*names.contentLocation).empty()) {
    part.location = CleanName(*names.contentLocation);
  } else if (names.name) {
    part.location = CleanName(*names.name);
  } else if (shortForm) {
    // Writers that send a short type often name the part only by its Content-ID.
    part.location = part.contentId;
  }

  if (!allRead) {
    CYLogging::Log(kYLogDebug, u"CMMSCodec2::ReadMultipartFile: Length mismatch after parsing multipart header:\n");
    CYLogging::Log(kYLogDebug, u"Data read so far (incl. length encoding): %i\n",
                   lengthBytes + static_cast<std::size_t>(headers.position()));
    CYLogging::Log(kYLogDebug, u"Header length + length encoding: %i\n", lengthBytes + headersLength);
    CYLogging::Log(kYLogDebug, u"Adjusting to the declared start of multipart file data!\n");
  }

  const std::span<const std::uint8_t> data = in.Bytes(dataLength);
  try {
    part.data.assign(data.begin(), data.end());
  } catch (const std::bad_alloc&) {
    CYLogging::Log(kYLogDebug, u"CMMSCodec2::ReadMultipartFile: Failed to write multipart file to disk!\n");
    return kMmsErrCopyFailed;
  }
  return static_cast<int>(total);
}

}  // namespace vel::mms
