#include "messaging/MMS/MMSCodec2.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

#include "messaging/MMS/MMSFileIO.h"
#include "messaging/MMS/WspCoding.h"
#include "ylib/YErrorFrame.h"
#include "ylib/YFormat.h"
#include "ylib/YLogging.h"

namespace {

constexpr char16_t kSource[] = u"MMSCodec2";

constexpr std::uint8_t kMultipartRelated = 0xB3;
constexpr std::u16string_view kPlmnSuffix = u"/TYPE=PLMN";

// Lengths are reported as int; anything longer than that is not looked at.
std::size_t ClampLength(std::size_t length) {
  return std::min(length, static_cast<std::size_t>(std::numeric_limits<int>::max()));
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
std::optional<std::u16string> DecodeEncodedString(const CWspEncodedString& value) {
  if (!value.hasText) return std::nullopt;
  const UINT codePage = value.hasCharset ? CharsetToCodePage(value.charset) : 0;
  return WspBytesToWide(value.bytes, codePage);
}

bool ReadAddress(CWspSlice& in, std::vector<MmsAddress>& list) {
  CWspEncodedString value;
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

bool ReadByteText(CWspSlice& in, std::string& field) {
  CWspEncodedString value;
  if (!GetEncodedString(in, value)) return false;
  field = value.hasText ? value.bytes : std::string();
  return true;
}

bool ReadOneByte(CWspSlice& in, std::uint8_t& field) { return in.GetByte(field); }

bool ReadInteger(CWspSlice& in, std::uint32_t& field) { return GetIntegerValue(in, field); }

// From: Value-length, then the address-present token and an encoded string,
// or the insert-address token.
bool ReadFrom(CWspSlice& in, std::u16string& from) {
  std::uint8_t first = 0;
  if (!in.Peek(first)) return false;
  std::uint32_t length = 0;
  if (!GetValueLength(in, length)) return false;
  if (length == 0) {
    if (first >= 32) in.Skip(1);
    return true;
  }
  CWspSlice value;
  if (!in.Take(length, value)) return false;
  std::uint8_t token = 0;
  value.GetByte(token);
  if (token != 0x80) {
    from.clear();
    return true;
  }
  CWspEncodedString address;
  if (GetEncodedString(value, address) && address.hasText) {
    from = CutPlmn(WspBytesToWide(address.bytes, 65001));
  } else {
    from.clear();
  }
  return true;
}

bool ReadMessageClass(CWspSlice& in, CMMSHeader& header) {
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
bool ReadTimeField(CWspSlice& in, std::uint8_t& token, std::uint32_t& value) {
  CWspSlice probe = in;
  std::uint8_t length = 0;
  if (!probe.GetByte(length)) return false;
  if (length > 1) {
    std::uint8_t t = 0;
    std::uint32_t v = 0;
    if (!probe.GetByte(t) || !GetIntegerValue(probe, v)) return false;
    token = t;
    value = v;
  }
  in = probe;
  return true;
}

// Content-Type of the header. False when its value does not fit.
bool ReadContentType(CWspSlice& in, CMMSHeader& header) {
  std::uint8_t first = 0;
  if (!in.Peek(first)) return false;
  if (first >= 0x80) {
    header.contentType = first;
    in.Skip(1);
    return true;
  }
  if (first >= 0x20) {
    // A type text that runs to the end leaves no body and no end of header.
    const bool terminated = std::memchr(in.data(), 0, in.size()) != nullptr;
    std::string text;
    GetTextString(in, text);
    return terminated;
  }
  std::uint32_t length = 0;
  CWspSlice value;
  if (!GetValueLength(in, length) || !in.Take(length, value)) return false;
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
    if (auto code = WspContentTypeFromText(text)) header.contentType = static_cast<std::uint8_t>(*code | 0x80);
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
bool ReadHeaderField(std::uint8_t code, CWspSlice& in, CMMSHeader& header) {
  switch (code) {
    case 0x81: return ReadAddress(in, header.bcc);
    case 0x82: return ReadAddress(in, header.cc);
    case 0x83: return ReadByteText(in, header.contentLocation);
    case 0x84: return ReadContentType(in, header);
    case 0x85: return ReadInteger(in, header.date);
    case 0x86: return ReadOneByte(in, header.deliveryReport);
    case 0x87: return ReadTimeField(in, header.deliveryTimeToken, header.deliveryTime);
    case 0x88: return ReadTimeField(in, header.expiryToken, header.expiry);
    case 0x89: return ReadFrom(in, header.from);
    case 0x8A: return ReadMessageClass(in, header);
    case 0x8B: return ReadByteText(in, header.messageId);
    case 0x8C: return ReadOneByte(in, header.messageType);
    case 0x8D: return ReadOneByte(in, header.mmsVersion);
    case 0x8E: return ReadInteger(in, header.messageSize);
    case 0x8F: return ReadOneByte(in, header.priority);
    case 0x90: return ReadOneByte(in, header.readReport);
    case 0x91: return ReadOneByte(in, header.reportAllowed);
    case 0x92: return ReadOneByte(in, header.responseStatus);
    case 0x93: return ReadByteText(in, header.responseText);
    case 0x94: return ReadOneByte(in, header.senderVisibility);
    case 0x95: return ReadOneByte(in, header.status);
    case 0x96: {
      CWspEncodedString value;
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
      return in.GetByte(ignored);
    }
    // Encoded-string-value.
    case 0x9A: case 0x9E: case 0xA6: {
      CWspEncodedString ignored;
      return GetEncodedString(in, ignored);
    }
    // Value-length and that many bytes.
    case 0x9D: case 0xA0: case 0xA1: case 0xA4: case 0xAA: case 0xAC: case 0xB2: {
      CWspSlice probe = in;
      std::uint32_t length = 0;
      if (!GetValueLength(probe, length) || !probe.Skip(length)) return false;
      in = probe;
      return true;
    }
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
// slice ends (true) or something else comes (false: left unread).
bool ReadPartFields(CWspSlice& in, CMultipartFile& part, PartNames& names, bool parameters) {
  while (!in.empty()) {
    std::uint8_t code = 0;
    in.Peek(code);
    CWspSlice probe = in;
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
          if (token.size() == 4 && (token[0] | 0x20) == 'n' && (token[1] | 0x20) == 'a' &&
              (token[2] | 0x20) == 'm' && (token[3] | 0x20) == 'e') {
            names.name = std::move(text);
          }
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

CMMSHeader::~CMMSHeader() = default;

const MmsAddress* CMMSHeader::GetNextTo(int& index) const {
  return YErrorFrame({u"CMMSHeader::GetNextTo", kSource, __LINE__}, [&]() -> const MmsAddress* {
    if (index < 0 || static_cast<std::size_t>(index) >= to.size()) {
      index = -1;
      return nullptr;
    }
    return &to[static_cast<std::size_t>(index++)];
  });
}

CMultipartFile::~CMultipartFile() = default;

bool CMultipartFile::WriteToFile(const char16_t* path) const {
  return YErrorFrame({u"CMultipartFile::WriteToFile", kSource, __LINE__}, [&] {
    if (path == nullptr || data.empty()) return false;
    return MmsWriteFileReplacing(path, data.data(), data.size());
  });
}

void CMultipartFile::NormalizeSmil() {
  YErrorFrame({u"CMultipartFile::NormalizeSmil", kSource, __LINE__}, [&] {
    // The data is text: a zero byte ends it.
    const auto zero = std::find(data.begin(), data.end(), std::uint8_t{0});
    const std::string_view text(reinterpret_cast<const char*>(data.data()),
                                static_cast<std::size_t>(zero - data.begin()));
    if (text.find("<smil") == std::string_view::npos) return;
    std::size_t closers = 0;
    std::size_t laidOut = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
      if (text[i] != '>') continue;
      ++closers;
      if (text.substr(i + 1, 2) == "\r\n") ++laidOut;
    }
    if (laidOut >= closers) return;
    std::vector<std::uint8_t> out;
    out.reserve(text.size() + 2 * (closers - laidOut));
    for (std::size_t i = 0; i < text.size(); ++i) {
      out.push_back(static_cast<std::uint8_t>(text[i]));
      if (text[i] == '>' && (i + 1 == text.size() || text[i + 1] != '\r')) {
        out.push_back('\r');
        out.push_back('\n');
      }
    }
    data = std::move(out);
  });
}

std::u16string MakeSafePartFileName(std::u16string_view name, std::size_t index, const CMultipartFile& part) {
  return YErrorFrame({u"MakeSafePartFileName", kSource, __LINE__}, [&] {
    // Only the last component can be kept: folders, drives and ".." in a name
    // that comes from a message must never steer where the file goes.
    const std::size_t cut = name.find_last_of(u"/\\:");
    std::u16string_view base = cut == std::u16string_view::npos ? name : name.substr(cut + 1);
    bool usable = !base.empty() && base.size() <= 200;
    bool onlyDots = true;
    for (char16_t c : base) {
      if (c < 0x20 || c == 0x7F) usable = false;
      if (c != u'.' && c != u' ') onlyDots = false;
    }
    if (usable && !onlyDots) return std::u16string(base);

    std::string_view ext = WspContentTypeFirstExtension(part.contentType);
    if (part.contentType == 0) {
      // Types the table lacks but phones send, so the file still opens by its name.
      static constexpr std::pair<std::string_view, std::string_view> kKnown[] = {
          {"video/3gpp", "3gp"}, {"audio/amr", "amr"}, {"audio/amr-wb", "awb"}, {"application/smil", "smil"}};
      ext = {};
      for (const auto& [type, known] : kKnown) {
        if (type.size() == part.typeText.size() &&
            std::equal(type.begin(), type.end(), part.typeText.begin(),
                       [](char a, char b) { return (a | 0x20) == (b | 0x20); })) {
          ext = known;
        }
      }
    }
    std::u16string generated = YFormat(u"part%u", static_cast<unsigned>(index));
    if (!ext.empty()) {
      generated += u'.';
      generated.append(ext.begin(), ext.end());
    }
    return generated;
  });
}

CMultipartContainer::~CMultipartContainer() = default;

void CMultipartContainer::Add(std::unique_ptr<CMultipartFile> part) {
  YErrorFrame({u"CMultipartContainer::Add", kSource, __LINE__}, [&] {
    if (part) m_parts.push_back(std::move(part));
  });
}

void CMultipartContainer::Clear() {
  YErrorFrame({u"CMultipartContainer::Clear", kSource, __LINE__}, [&] { m_parts.clear(); });
}

CMultipartFile* CMultipartContainer::GetNext(int& index) const {
  return YErrorFrame({u"CMultipartContainer::GetNext", kSource, __LINE__}, [&]() -> CMultipartFile* {
    if (index < 0 || static_cast<std::size_t>(index) >= m_parts.size()) {
      index = -1;
      return nullptr;
    }
    return m_parts[static_cast<std::size_t>(index++)].get();
  });
}

CMMSCodec2::CMMSCodec2() = default;
CMMSCodec2::~CMMSCodec2() = default;

CMMSHeader* CMMSCodec2::GetHeader() {
  return YErrorFrame({u"CMMSCodec2::GetHeader", kSource, __LINE__}, [&] {
    if (!m_header) m_header = std::make_unique<CMMSHeader>();
    return m_header.get();
  });
}

CMultipartContainer* CMMSCodec2::GetContainer() {
  return YErrorFrame({u"CMMSCodec2::GetContainer", kSource, __LINE__}, [&] {
    if (!m_container) m_container = std::make_unique<CMultipartContainer>();
    return m_container.get();
  });
}

int CMMSCodec2::ParseMmsMessage(const char16_t* path) {
  return YErrorFrame({u"CMMSCodec2::ParseMmsMessage", kSource, __LINE__}, [&] {
    if (path == nullptr || *path == 0) return kMmsErrEmptyPath;
    std::vector<std::uint8_t> bytes;
    switch (MmsReadWholeFile(path, bytes)) {
      case MmsReadResult::kOpenFailed: return kMmsErrOpenFailed;
      case MmsReadResult::kEmpty: return kMmsErrEmptyFile;
      case MmsReadResult::kReadFailed: return kMmsErrReadFailed;
      case MmsReadResult::kOk: break;
    }
    const int bodyOffset = ParseHeader(bytes.data(), bytes.size(), GetHeader());
    if (bodyOffset < 0) return bodyOffset;
    CYLogging::Log(kYLogDebug, u"CMMSCodec2::ParseMmsMessage: Header parsing ok. Next; multipart files.\n");
    const int body = ParseMultipartFiles(bytes.data() + bodyOffset, bytes.size() - static_cast<std::size_t>(bodyOffset),
                                         GetContainer());
    return body > 0 ? 0 : body;
  });
}

int CMMSCodec2::ParseHeader(const std::uint8_t* data, std::size_t length, CMMSHeader* header) {
  return YErrorFrame({u"CMMSCodec2::ParseHeader", kSource, __LINE__}, [&] {
    if (data == nullptr || length == 0 || header == nullptr) return 0;
    length = ClampLength(length);
    if (data[0] != 0x8C) return kMmsErrBadHeader;
    CWspSlice in(data, length);
    std::uint8_t code = 0;
    while (in.GetByte(code)) {
      if (code < 0x81 || code > 0xB3) continue;
      if (!ReadHeaderField(code, in, *header)) return kMmsErrBadHeader;
      if (code == 0x84) return static_cast<int>(in.ConsumedSince(data));
    }
    return kMmsErrBadHeader;
  });
}

int CMMSCodec2::ParseMultipartFiles(const std::uint8_t* data, std::size_t length, CMultipartContainer* container) {
  return YErrorFrame({u"CMMSCodec2::ParseMultipartFiles", kSource, __LINE__}, [&] {
    if (data == nullptr || length == 0 || container == nullptr) return 0;
    length = ClampLength(length);
    container->Clear();
    CWspSlice in(data, length);
    std::uint32_t count = 0;
    if (!GetUintvar(in, count)) return 0;
    CYLogging::Log(kYLogDebug, u"CMMSCodec2::ParseMultipartFiles: Number of multipart files:%i\n", count);
    if (count == 0) return static_cast<int>(in.ConsumedSince(data));
    std::uint32_t read = 0;
    while (!in.empty()) {
      auto part = std::make_unique<CMultipartFile>();
      const int result = ReadMultipartFile(in.data(), in.size(), part.get());
      if (result <= 0) {
        CYLogging::Log(kYLogDebug, u"CMMSCodec2::ParseMultipartFiles: Failed to read multipart file!\n");
        return result;
      }
      container->Add(std::move(part));
      in.Skip(static_cast<std::size_t>(result));
      if (++read == count) break;
    }
    return static_cast<int>(in.ConsumedSince(data));
  });
}

int CMMSCodec2::ReadMultipartFile(const std::uint8_t* data, std::size_t length, CMultipartFile* part) {
  return YErrorFrame({u"CMMSCodec2::ReadMultipartFile", kSource, __LINE__}, [&] {
    if (data == nullptr || length == 0 || part == nullptr) return kMmsErrLengthMismatch;
    length = ClampLength(length);
    CWspSlice in(data, length);
    std::uint32_t headersLength = 0;
    std::uint32_t dataLength = 0;
    const bool lengthsRead = GetUintvar(in, headersLength) && GetUintvar(in, dataLength);
    const std::size_t lengthBytes = in.ConsumedSince(data);
    const std::uint64_t total = std::uint64_t{lengthBytes} + headersLength + dataLength;
    // An entry without data is an empty part, not a broken message: refusing it
    // would cost every other part of the message with it.
    if (!lengthsRead || total > length || headersLength == 0) {
      TraceLengthMismatch(length, headersLength, dataLength, lengthBytes);
      return kMmsErrLengthMismatch;
    }
    CWspSlice headers;
    in.Take(headersLength, headers);
    const std::uint8_t* headersStart = headers.data();

    PartNames names;
    bool shortForm = false;
    bool allRead = true;
    std::uint8_t first = 0;
    headers.Peek(first);
    if (first >= 0x80) {
      shortForm = true;
      part->contentType = first & 0x7F;
      headers.Skip(1);
    } else {
      // General form: Value-length, media, parameters. A bare type text
      // (no length) is read as a media text that ends the content type.
      std::uint32_t valueLength = 0;
      CWspSlice value;
      if (first >= 0x20) {
        CWspSlice probe = headers;
        std::string text;
        GetTextString(probe, text);
        headers.Take(probe.ConsumedSince(headers.data()), value);
      } else {
        CWspSlice probe = headers;
        if (!GetValueLength(probe, valueLength) || valueLength > probe.size()) {
          CYLogging::Log(kYLogDebug,
                         u"CMMSCodec2::ReadMultipartFile: Length mismatch while parsing multipart content type:\n");
          CYLogging::Log(kYLogDebug, u"content type data length is greater than declared multipart header length\n");
          CYLogging::Log(kYLogDebug, u"Content type length:%i\n", valueLength);
          CYLogging::Log(kYLogDebug, u"Header length: %i\n", headersLength);
          return kMmsErrLengthMismatch;
        }
        headers = probe;
        headers.Take(valueLength, value);
      }
      std::uint8_t media = 0;
      if (value.Peek(media)) {
        if (media >= 0x80) {
          part->contentType = media & 0x7F;
          value.Skip(1);
        } else {
          std::string text;
          GetTextString(value, text);
          if (auto code = WspContentTypeFromText(text)) {
            part->contentType = *code;
          } else {
            part->contentType = 0;
            part->typeText = std::move(text);
          }
        }
      }
      allRead = ReadPartFields(value, *part, names, true);
    }
    allRead = ReadPartFields(headers, *part, names, false) && allRead;

    if (names.contentLocation && !CleanName(*names.contentLocation).empty()) {
      part->location = CleanName(*names.contentLocation);
    } else if (names.name) {
      part->location = CleanName(*names.name);
    } else if (shortForm) {
      // Writers that send a short type often name the part only by its Content-ID.
      part->location = part->contentId;
    }

    if (!allRead) {
      CYLogging::Log(kYLogDebug,
                     u"CMMSCodec2::ReadMultipartFile: Length mismatch after parsing multipart header:\n");
      CYLogging::Log(kYLogDebug, u"Data read so far (incl. length encoding): %i\n",
                     lengthBytes + static_cast<std::size_t>(headers.data() - headersStart));
      CYLogging::Log(kYLogDebug, u"Header length + length encoding: %i\n", lengthBytes + headersLength);
      CYLogging::Log(kYLogDebug, u"Adjusting to the declared start of multipart file data!\n");
    }

    try {
      part->data.assign(data + lengthBytes + headersLength, data + lengthBytes + headersLength + dataLength);
    } catch (const std::bad_alloc&) {
      CYLogging::Log(kYLogDebug, u"CMMSCodec2::ReadMultipartFile: Failed to write multipart file to disk!\n");
      return kMmsErrCopyFailed;
    }
    return static_cast<int>(total);
  });
}
