#include "messaging/MMS/MMSWriter.h"

#include <algorithm>

#include "messaging/MMS/MMSFileIO.h"
#include "messaging/MMS/WspCoding.h"
#include "platform/base/ByteWriter.h"
#include "platform/win32/winbase.h"
#include "ylib/YErrorFrame.h"

namespace {

using vel::ByteWriter;
using namespace vel::wsp;

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

// text/plain; charset ISO-10646-UCS-2 (Long-integer 1000); Content-Location.
constexpr std::uint8_t kTextPlainPartHeader[] = {0x05, 0x83, 0x81, 0x02, 0x03, 0xE8, 0x8E};

// One field per "%"-separated piece; empty pieces carry no address.
void PutAddressFields(ByteWriter& out, std::uint8_t code, std::string_view text) {
  while (!text.empty()) {
    const std::size_t cut = text.find('%');
    const std::string_view piece = text.substr(0, cut);
    if (!piece.empty()) {
      out.PutU8(code);
      PutTextString(out, piece);
    }
    if (cut == std::string_view::npos) break;
    text.remove_prefix(cut + 1);
  }
}

void PutTimeField(ByteWriter& out, std::uint8_t code, std::uint8_t token, std::uint32_t value) {
  std::vector<std::uint8_t> number;
  ByteWriter numberOut(number);
  PutLongInteger(numberOut, value);
  out.PutU8(code);
  out.PutU8(static_cast<std::uint8_t>(1 + number.size()));
  out.PutU8(token);
  out.PutBytes(number);
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

int CMMSWriter::ExtensionToContentType(const char16_t* path) noexcept {
  if (path == nullptr || *path == 0) return kMmsWriterNoPath;
  const std::u16string_view text(path);
  const std::size_t dot = text.rfind(u'.');
  if (dot == std::u16string_view::npos) return kMmsWriterOk;
  const std::u16string_view ext = text.substr(dot + 1);
  if (ext.size() > kMaxExtension) return kMmsWriterExtensionTooLong;
  return static_cast<int>(ContentTypeFromExtension(ext).value_or(0));
}

int CMMSWriter::SetText(std::string& field, std::string_view text) {
  if (text.size() > kMmsWriterMaxText) return kMmsWriterTextTooLong;
  field.assign(text);
  return kMmsWriterOk;
}

int CMMSWriter::SetTransactionId(std::string_view text) {
  return YErrorFrame({u"CMMSWriter::SetTransactionId", kSource, __LINE__},
                     [&] { return SetText(transactionId_, text); });
}
int CMMSWriter::SetFrom(std::string_view text) {
  return YErrorFrame({u"CMMSWriter::SetFrom", kSource, __LINE__}, [&] { return SetText(from_, text); });
}
int CMMSWriter::SetTo(std::string_view text) {
  return YErrorFrame({u"CMMSWriter::SetTo", kSource, __LINE__}, [&] { return SetText(to_, text); });
}
int CMMSWriter::SetCc(std::string_view text) {
  return YErrorFrame({u"CMMSWriter::SetCc", kSource, __LINE__}, [&] { return SetText(cc_, text); });
}
int CMMSWriter::SetBcc(std::string_view text) {
  return YErrorFrame({u"CMMSWriter::SetBcc", kSource, __LINE__}, [&] { return SetText(bcc_, text); });
}
int CMMSWriter::SetSubject(std::string_view text) {
  return YErrorFrame({u"CMMSWriter::SetSubject", kSource, __LINE__}, [&] { return SetText(subject_, text); });
}
int CMMSWriter::SetMessageClass(std::string_view text) {
  return YErrorFrame({u"CMMSWriter::SetMessageClass", kSource, __LINE__},
                     [&] { return SetText(messageClassText_, text); });
}

int CMMSWriter::AddPart(const char16_t* path, std::uint8_t contentType) {
  return YErrorFrame({u"CMMSWriter::AddPart", kSource, __LINE__}, [&] {
    if (path == nullptr || *path == 0 || partCount_ >= kMmsWriterMaxParts) return kMmsWriterPartNotRead;
    auto part = std::make_unique<Part>();
    if (vel::mms::ReadWholeFile(path, part->data) != vel::mms::ReadResult::kOk) return kMmsWriterPartNotRead;
    const std::u16string_view text(path);
    const std::size_t cut = text.find_last_of(u"/\\");
    part->name = std::u16string(cut == std::u16string_view::npos ? text : text.substr(cut + 1));
    part->contentType = contentType;
    parts_[partCount_++] = std::move(part);
    return kMmsWriterOk;
  });
}

std::vector<std::uint8_t> CMMSWriter::EncodeHeader() const {
  return YErrorFrame({u"CMMSWriter::EncodeHeader", kSource, __LINE__}, [&] {
    std::vector<std::uint8_t> bytes;
    // Only the send request is composed here; any other type has no header.
    if (messageType_ != kSendRequest) return bytes;
    ByteWriter out(bytes);
    out.PutU8(0x8C);
    out.PutU8(kSendRequest);
    if (!transactionId_.empty()) {
      out.PutU8(0x98);
      PutTextString(out, transactionId_);
    }
    out.PutU8(0x8D);
    out.PutU8(0x90);
    if (date_ != 0) {
      out.PutU8(0x85);
      PutLongInteger(out, date_);
    }
    out.PutU8(0x89);
    if (!from_.empty()) {
      std::vector<std::uint8_t> address;
      ByteWriter addressOut(address);
      addressOut.PutU8(0x80);
      PutTextString(addressOut, from_);
      PutValueLength(out, static_cast<std::uint32_t>(address.size()));
      out.PutBytes(address);
    } else {
      out.PutU8(0x01);
      out.PutU8(0x81);
    }
    PutAddressFields(out, 0x97, to_);
    PutAddressFields(out, 0x82, cc_);
    PutAddressFields(out, 0x81, bcc_);
    if (!subject_.empty()) {
      out.PutU8(0x96);
      PutTextString(out, subject_);
    }
    if (!messageClassText_.empty()) {
      out.PutU8(0x8A);
      PutTextString(out, messageClassText_);
    } else if (messageClassCode_ != 0) {
      out.PutU8(0x8A);
      out.PutU8(messageClassCode_);
    }
    if (deliveryTimeToken_ != 0) PutTimeField(out, 0x87, deliveryTimeToken_, deliveryTime_);
    if (senderVisibility_ != 0) {
      out.PutU8(0x94);
      out.PutU8(senderVisibility_);
    }
    if (readReport_ != 0) {
      out.PutU8(0x90);
      out.PutU8(readReport_);
    }
    if (priority_ != 0) {
      out.PutU8(0x8F);
      out.PutU8(priority_);
    }
    if (expiryToken_ != 0) PutTimeField(out, 0x88, expiryToken_, expiry_);
    out.PutBytes(kContentTypeField);
    return bytes;
  });
}

std::vector<std::uint8_t> CMMSWriter::EncodePartHeader(const Part& part) {
  std::vector<std::uint8_t> bytes;
  ByteWriter out(bytes);
  if (part.contentType == kTextPlain) {
    out.PutBytes(kTextPlainPartHeader);
  } else if (part.contentType == kSmil) {
    out.PutU8(0x13);
    PutTextString(out, "application/smil");
    out.PutU8(0x81);
    out.PutU8(0x84);  // charset ISO-8859-1
    out.PutU8(0xC0);
    out.PutU8('"');  // Content-ID as a quoted string
  } else {
    out.PutU8(static_cast<std::uint8_t>(part.contentType | 0x80));
    out.PutU8(0x8E);
  }
  std::string name = ToAnsi(part.name);
  // The header and the name's terminator (and a quote it may need) stay within 512 bytes.
  const std::size_t room = kPartHeaderLimit - out.position() - 2;
  if (name.size() > room) name.resize(room);
  if (part.contentType == kSmil) {
    // Already quoted as a whole: no text quote inside.
    out.PutChars(name);
    out.PutU8(0);
  } else {
    PutTextString(out, name);
  }
  return bytes;
}

std::vector<std::uint8_t> CMMSWriter::Encode() const {
  return YErrorFrame({u"CMMSWriter::Encode", kSource, __LINE__}, [&] {
    std::vector<std::uint8_t> bytes = EncodeHeader();
    if (bytes.empty() || partCount_ == 0) return bytes;
    ByteWriter out(bytes);
    PutUintvar(out, static_cast<std::uint32_t>(partCount_));
    for (std::size_t i = 0; i < partCount_; ++i) {
      const Part& part = *parts_[i];
      const std::vector<std::uint8_t> header = EncodePartHeader(part);
      PutUintvar(out, static_cast<std::uint32_t>(header.size()));
      PutUintvar(out, static_cast<std::uint32_t>(part.data.size()));
      out.PutBytes(header);
      out.PutBytes(part.data);
    }
    return bytes;
  });
}

int CMMSWriter::Write(const char16_t* path) const {
  return YErrorFrame({u"CMMSWriter::Write", kSource, __LINE__}, [&] {
    if (path == nullptr || *path == 0) return kMmsWriterCreateFailed;
    const std::vector<std::uint8_t> message = Encode();
    if (message.empty()) return kMmsWriterEmptyHeader;
    return vel::mms::WriteFileReplacing(path, message.data(), message.size()) ? kMmsWriterOk : kMmsWriterCreateFailed;
  });
}
