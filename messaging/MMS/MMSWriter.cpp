#include "messaging/MMS/MMSWriter.h"

#include <algorithm>

#include "messaging/MMS/MMSFileIO.h"
#include "messaging/MMS/WspCoding.h"
#include "platform/win32/winbase.h"
#include "ylib/YErrorFrame.h"

namespace {

constexpr char16_t kSource[] = u"MMSWriter";

constexpr std::uint8_t kSendRequest = 0x80;
constexpr std::uint8_t kTextPlain = 0x03;
constexpr std::uint8_t kSmil = 0x7D;
constexpr std::size_t kPartHeaderLimit = 512;
constexpr std::size_t kMaxExtension = 31;

// application/vnd.wap.multipart.related; Start "<1a2b3c4d>"; Type "application/smil".
constexpr std::uint8_t kContentTypeField[] = {
    0x84, 0x1F, 0x1F, 0xB3, 0x8A, '<', '1', 'a', '2', 'b', '3', 'c', '4', 'd', '>', 0x00, 0x89,
    'a',  'p',  'p',  'l',  'i',  'c', 'a', 't', 'i', 'o', 'n', '/', 's', 'm', 'i', 'l', 0x00};
static_assert(sizeof(kContentTypeField) == 34);

// One field per "%"-separated piece; empty pieces carry no address.
void PutAddressFields(WspBytes& out, std::uint8_t code, std::string_view text) {
  while (!text.empty()) {
    const std::size_t cut = text.find('%');
    const std::string_view piece = text.substr(0, cut);
    if (!piece.empty()) {
      out.push_back(code);
      PutTextString(out, piece);
    }
    if (cut == std::string_view::npos) break;
    text.remove_prefix(cut + 1);
  }
}

void PutTimeField(WspBytes& out, std::uint8_t code, std::uint8_t token, std::uint32_t value) {
  WspBytes number;
  PutLongInteger(number, value);
  out.push_back(code);
  out.push_back(static_cast<std::uint8_t>(1 + number.size()));
  out.push_back(token);
  out.insert(out.end(), number.begin(), number.end());
}

std::string ToAnsi(std::u16string_view text) {
  if (text.empty()) return {};
  const int length = static_cast<int>(std::min<std::size_t>(text.size(), 4096));
  const int needed = WideCharToMultiByte(CP_ACP, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
  if (needed <= 0) return {};
  std::string out(static_cast<std::size_t>(needed), '\0');
  const int written = WideCharToMultiByte(CP_ACP, 0, text.data(), length, out.data(), needed, nullptr, nullptr);
  out.resize(written > 0 ? static_cast<std::size_t>(written) : 0);
  return out;
}

}  // namespace

CMMSWriter::CMMSWriter() = default;
CMMSWriter::~CMMSWriter() = default;

int CMMSWriter::ExtensionToContentType(const char16_t* path) {
  return YErrorFrame({u"CMMSWriter::ExtensionToContentType", kSource, __LINE__}, [&] {
    if (path == nullptr || *path == 0) return kMmsWriterNoPath;
    const std::u16string_view text(path);
    const std::size_t dot = text.rfind(u'.');
    if (dot == std::u16string_view::npos) return kMmsWriterOk;
    const std::u16string_view ext = text.substr(dot + 1);
    if (ext.size() > kMaxExtension) return kMmsWriterExtensionTooLong;
    return static_cast<int>(WspContentTypeFromExtension(ext).value_or(0));
  });
}

int CMMSWriter::SetText(std::string& field, std::string_view text) {
  if (text.size() > kMmsWriterMaxText) return kMmsWriterTextTooLong;
  field.assign(text);
  return kMmsWriterOk;
}

int CMMSWriter::SetTransactionId(std::string_view text) {
  return YErrorFrame({u"CMMSWriter::SetTransactionId", kSource, __LINE__}, [&] { return SetText(m_transactionId, text); });
}
int CMMSWriter::SetFrom(std::string_view text) {
  return YErrorFrame({u"CMMSWriter::SetFrom", kSource, __LINE__}, [&] { return SetText(m_from, text); });
}
int CMMSWriter::SetTo(std::string_view text) {
  return YErrorFrame({u"CMMSWriter::SetTo", kSource, __LINE__}, [&] { return SetText(m_to, text); });
}
int CMMSWriter::SetCc(std::string_view text) {
  return YErrorFrame({u"CMMSWriter::SetCc", kSource, __LINE__}, [&] { return SetText(m_cc, text); });
}
int CMMSWriter::SetBcc(std::string_view text) {
  return YErrorFrame({u"CMMSWriter::SetBcc", kSource, __LINE__}, [&] { return SetText(m_bcc, text); });
}
int CMMSWriter::SetSubject(std::string_view text) {
  return YErrorFrame({u"CMMSWriter::SetSubject", kSource, __LINE__}, [&] { return SetText(m_subject, text); });
}
int CMMSWriter::SetMessageClass(std::string_view text) {
  return YErrorFrame({u"CMMSWriter::SetMessageClass", kSource, __LINE__},
                     [&] { return SetText(m_messageClassText, text); });
}

int CMMSWriter::AddPart(const char16_t* path, std::uint8_t contentType) {
  return YErrorFrame({u"CMMSWriter::AddPart", kSource, __LINE__}, [&] {
    if (path == nullptr || *path == 0 || m_partCount >= kMmsWriterMaxParts) return kMmsWriterPartNotRead;
    auto part = std::make_unique<Part>();
    if (MmsReadWholeFile(path, part->data) != MmsReadResult::kOk) return kMmsWriterPartNotRead;
    const std::u16string_view text(path);
    const std::size_t cut = text.find_last_of(u"/\\");
    part->name = std::u16string(cut == std::u16string_view::npos ? text : text.substr(cut + 1));
    part->contentType = contentType;
    m_parts[m_partCount++] = std::move(part);
    return kMmsWriterOk;
  });
}

std::vector<std::uint8_t> CMMSWriter::EncodeHeader() const {
  return YErrorFrame({u"CMMSWriter::EncodeHeader", kSource, __LINE__}, [&] {
    WspBytes out;
    // Only the send request is composed here; any other type has no header.
    if (m_messageType != kSendRequest) return out;
    out.push_back(0x8C);
    out.push_back(kSendRequest);
    if (!m_transactionId.empty()) {
      out.push_back(0x98);
      PutTextString(out, m_transactionId);
    }
    out.push_back(0x8D);
    out.push_back(0x90);
    if (m_date != 0) {
      out.push_back(0x85);
      PutLongInteger(out, m_date);
    }
    out.push_back(0x89);
    if (!m_from.empty()) {
      WspBytes address;
      address.push_back(0x80);
      PutTextString(address, m_from);
      PutValueLength(out, static_cast<std::uint32_t>(address.size()));
      out.insert(out.end(), address.begin(), address.end());
    } else {
      out.push_back(0x01);
      out.push_back(0x81);
    }
    PutAddressFields(out, 0x97, m_to);
    PutAddressFields(out, 0x82, m_cc);
    PutAddressFields(out, 0x81, m_bcc);
    if (!m_subject.empty()) {
      out.push_back(0x96);
      PutTextString(out, m_subject);
    }
    if (!m_messageClassText.empty()) {
      out.push_back(0x8A);
      PutTextString(out, m_messageClassText);
    } else if (m_messageClassCode != 0) {
      out.push_back(0x8A);
      out.push_back(m_messageClassCode);
    }
    if (m_deliveryTimeToken != 0) PutTimeField(out, 0x87, m_deliveryTimeToken, m_deliveryTime);
    if (m_senderVisibility != 0) {
      out.push_back(0x94);
      out.push_back(m_senderVisibility);
    }
    if (m_readReport != 0) {
      out.push_back(0x90);
      out.push_back(m_readReport);
    }
    if (m_priority != 0) {
      out.push_back(0x8F);
      out.push_back(m_priority);
    }
    if (m_expiryToken != 0) PutTimeField(out, 0x88, m_expiryToken, m_expiry);
    out.insert(out.end(), std::begin(kContentTypeField), std::end(kContentTypeField));
    return out;
  });
}

std::vector<std::uint8_t> CMMSWriter::EncodePartHeader(const Part& part) {
  WspBytes out;
  if (part.contentType == kTextPlain) {
    // text/plain; charset ISO-10646-UCS-2 (Long-integer 1000); Content-Location.
    out = {0x05, 0x83, 0x81, 0x02, 0x03, 0xE8, 0x8E};
  } else if (part.contentType == kSmil) {
    out.push_back(0x13);
    PutTextString(out, "application/smil");
    out.push_back(0x81);
    out.push_back(0x84);  // charset ISO-8859-1
    out.push_back(0xC0);
    out.push_back('"');  // Content-ID as a quoted string
  } else {
    out.push_back(static_cast<std::uint8_t>(part.contentType | 0x80));
    out.push_back(0x8E);
  }
  std::string name = ToAnsi(part.name);
  // The header and the name's terminator (and a quote it may need) stay within 512 bytes.
  const std::size_t room = kPartHeaderLimit - out.size() - 2;
  if (name.size() > room) name.resize(room);
  if (part.contentType == kSmil) {
    // Already quoted as a whole: no text quote inside.
    PutBytes(out, name);
    out.push_back(0);
  } else {
    PutTextString(out, name);
  }
  return out;
}

std::vector<std::uint8_t> CMMSWriter::Encode() const {
  return YErrorFrame({u"CMMSWriter::Encode", kSource, __LINE__}, [&] {
    WspBytes out = EncodeHeader();
    if (out.empty() || m_partCount == 0) return out;
    PutUintvar(out, static_cast<std::uint32_t>(m_partCount));
    for (std::size_t i = 0; i < m_partCount; ++i) {
      const Part& part = *m_parts[i];
      const WspBytes header = EncodePartHeader(part);
      PutUintvar(out, static_cast<std::uint32_t>(header.size()));
      PutUintvar(out, static_cast<std::uint32_t>(part.data.size()));
      out.insert(out.end(), header.begin(), header.end());
      out.insert(out.end(), part.data.begin(), part.data.end());
    }
    return out;
  });
}

int CMMSWriter::Write(const char16_t* path) const {
  return YErrorFrame({u"CMMSWriter::Write", kSource, __LINE__}, [&] {
    if (path == nullptr || *path == 0) return kMmsWriterCreateFailed;
    const WspBytes message = Encode();
    if (message.empty()) return kMmsWriterEmptyHeader;
    return MmsWriteFileReplacing(path, message.data(), message.size()) ? kMmsWriterOk : kMmsWriterCreateFailed;
  });
}
