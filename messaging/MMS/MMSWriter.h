// The MMS writer: composes an m-send-req message (MMS 1.0) from header texts
// and whole files and writes it as a binary PDU with a WSP multipart body.
//
//   CMMSWriter writer;
//   writer.SetMessageType(0x80);
//   writer.SetTransactionId("T1");
//   int code = CMMSWriter::ExtensionToContentType(u"/tmp/a.jpg");      // 0x1E; 256 and above: no part
//   writer.AddPart(u"/tmp/a.jpg", static_cast<std::uint8_t>(code));
//   writer.SetTo("+4912345%+4967890");     // "%" separates addresses
//   int status = writer.Write(u"/tmp/out.mms");   // kMmsWriterOk
//
// Reports by status code only; nothing a caller passes raises an exception
// (running out of memory does). Texts are bytes in the ANSI code page.
//
// Thread safety: one writer belongs to one caller.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// Status codes.
constexpr int kMmsWriterOk = 256;
constexpr int kMmsWriterPartNotRead = 257;
constexpr int kMmsWriterNoPath = 262;
constexpr int kMmsWriterExtensionTooLong = 263;
constexpr int kMmsWriterCreateFailed = 265;
constexpr int kMmsWriterEmptyHeader = 267;
constexpr int kMmsWriterTextTooLong = 268;

constexpr std::size_t kMmsWriterMaxParts = 256;
constexpr std::size_t kMmsWriterMaxText = 255;  // bytes a text may hold

class CMMSWriter {
 public:
  CMMSWriter();
  CMMSWriter(const CMMSWriter&) = delete;
  CMMSWriter& operator=(const CMMSWriter&) = delete;
  virtual ~CMMSWriter();

  // The content type code for a path's extension (text after its last "."),
  // or a status: kMmsWriterNoPath, kMmsWriterOk when there is no ".",
  // kMmsWriterExtensionTooLong. An extension the table lacks gives 0 ("*/*").
  static int ExtensionToContentType(const char16_t* path) noexcept;

  void SetMessageType(std::uint8_t type) { messageType_ = type; }
  // Texts of 256 bytes or more are refused with kMmsWriterTextTooLong and
  // leave the field as it was; otherwise kMmsWriterOk.
  int SetTransactionId(std::string_view text);
  int SetFrom(std::string_view text);
  int SetTo(std::string_view text);
  int SetCc(std::string_view text);
  int SetBcc(std::string_view text);
  int SetSubject(std::string_view text);
  int SetMessageClass(std::string_view text);
  void SetMessageClass(std::uint8_t code) { messageClassCode_ = code; }
  void SetDate(std::uint32_t date) { date_ = date; }
  void SetDeliveryTime(std::uint8_t token, std::uint32_t value) {
    deliveryTimeToken_ = token;
    deliveryTime_ = value;
  }
  void SetExpiry(std::uint8_t token, std::uint32_t value) {
    expiryToken_ = token;
    expiry_ = value;
  }
  void SetPriority(std::uint8_t value) { priority_ = value; }
  void SetSenderVisibility(std::uint8_t value) { senderVisibility_ = value; }
  void SetReadReport(std::uint8_t value) { readReport_ = value; }

  // Reads the whole file as a part; kMmsWriterPartNotRead when it cannot be
  // read completely or all slots are taken (the part is not added).
  int AddPart(const char16_t* path, std::uint8_t contentType);
  std::size_t PartCount() const { return partCount_; }

  // The header alone, and the whole message, as Write would write them.
  std::vector<std::uint8_t> EncodeHeader() const;
  std::vector<std::uint8_t> Encode() const;
  // kMmsWriterOk, kMmsWriterCreateFailed, kMmsWriterEmptyHeader.
  int Write(const char16_t* path) const;

 private:
  struct Part {
    std::u16string name;
    std::uint8_t contentType = 0;
    std::vector<std::uint8_t> data;
  };
  static int SetText(std::string& field, std::string_view text);
  static std::vector<std::uint8_t> EncodePartHeader(const Part& part);

  std::uint8_t messageType_ = 0;
  std::string transactionId_;
  std::string from_;
  std::string to_;
  std::string cc_;
  std::string bcc_;
  std::string subject_;
  std::uint8_t messageClassCode_ = 0;
  std::string messageClassText_;
  std::uint32_t date_ = 0;
  std::uint8_t deliveryTimeToken_ = 0;
  std::uint32_t deliveryTime_ = 0;
  std::uint8_t expiryToken_ = 0;
  std::uint32_t expiry_ = 0;
  std::uint8_t priority_ = 0;
  std::uint8_t senderVisibility_ = 0;
  std::uint8_t readReport_ = 0;
  std::array<std::unique_ptr<Part>, kMmsWriterMaxParts> parts_;
  std::size_t partCount_ = 0;
};
