// The MMS PDU decoder: reads a binary MMS message (".mms") into its header
// (CMMSHeader) and its multipart body (CMultipartContainer of CMultipartFile).
//
//   CMMSCodec2 codec;
//   if (codec.ParseMmsMessage(path) == 0) {
//     int i = 0;
//     while (CMultipartFile* part = codec.GetContainer()->GetNext(i)) { ... }
//   }
//
// The decoder reports by return code and level-4 trace lines, never by
// exception for anything a file holds; only running out of memory while
// reading raises a CYException. Every read stays inside the file's buffer and
// inside the declared header area of a body entry.
//
// Thread safety: none; each caller builds its own codec.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/com/types.h"

// Return codes of the decoder.
constexpr int kMmsErrEmptyPath = -1;
constexpr int kMmsErrEmptyFile = -2;
constexpr int kMmsErrReadFailed = -3;
constexpr int kMmsErrOpenFailed = -4;
constexpr int kMmsErrLengthMismatch = -11;
constexpr int kMmsErrCopyFailed = -12;
constexpr int kMmsErrBadHeader = -20;

// An address entry: null when the message carried an empty address.
using MmsAddress = std::optional<std::u16string>;

// One decoded message header. Every field starts zero or empty and keeps that
// value when the message does not carry it; byte texts and wide texts that
// are empty count as absent.
class CMMSHeader {
 public:
  virtual ~CMMSHeader();

  std::uint32_t date = 0;          // Date, seconds as carried
  std::uint32_t messageSize = 0;   // X-Mms-Message-Size
  std::uint8_t messageType = 0;    // X-Mms-Message-Type
  std::uint8_t mmsVersion = 0;     // X-Mms-MMS-Version
  std::uint8_t priority = 0;
  std::uint8_t senderVisibility = 0;
  std::uint8_t deliveryReport = 0;
  std::uint8_t readReport = 0;
  std::uint8_t reportAllowed = 0;
  std::uint8_t responseStatus = 0;
  std::uint8_t status = 0;
  std::uint8_t contentType = 0;    // well-known content-type byte, 0x80 bit included

  std::u16string from;      // "/TYPE=PLMN" and what follows removed
  std::u16string subject;
  std::string responseText;
  std::string start;        // Content-Type parameter Start
  std::string type;         // Content-Type parameter Type
  std::string transactionId;
  std::string messageId;
  std::string contentLocation;  // X-Mms-Content-Location

  std::vector<MmsAddress> to;
  std::vector<MmsAddress> cc;
  std::vector<MmsAddress> bcc;

  std::uint8_t messageClassCode = 0;  // 0x80..0x83, or 0 when the class is a text
  std::string messageClassText;
  std::uint8_t deliveryTimeToken = 0;  // 0x80 absolute, 0x81 relative
  std::uint32_t deliveryTime = 0;
  std::uint8_t expiryToken = 0;
  std::uint32_t expiry = 0;

  // The To entry at index, advancing index; past the end null, index -1.
  const MmsAddress* GetNextTo(int& index) const;
};

// One body part.
class CMultipartFile {
 public:
  virtual ~CMultipartFile();

  std::uint8_t contentType = 0;   // well-known code without the 0x80 bit; 0 for an unknown text type
  std::vector<std::uint8_t> data;
  std::string location;           // the part's name, cleaned of quotes and angle brackets
  std::string typeText;           // the content type as text, when the table does not know it
  UINT charsetCodePage = 0;       // of the charset parameter; 0 when absent
  std::string contentId;          // cleaned like location

  // Creates or replaces the file with the data (through a temporary file in
  // the same folder, so a failure never leaves a damaged file). False for a
  // null path, a part without data, or any failed step.
  bool WriteToFile(const char16_t* path) const;
  // For SMIL text laid out on one line: every ">" not followed by CR gets
  // CR LF after it, unless the text is already laid out line by line.
  void NormalizeSmil();
};

// A file name for a part that cannot leave the folder it is joined to: the
// base name of name when it is usable, otherwise "part" + index + the
// extension of the part's content type.
std::u16string MakeSafePartFileName(std::u16string_view name, std::size_t index, const CMultipartFile& part);

class CMultipartContainer {
 public:
  virtual ~CMultipartContainer();

  void Add(std::unique_ptr<CMultipartFile> part);
  void Clear();
  std::size_t Count() const { return m_parts.size(); }
  CMultipartFile* At(std::size_t index) const { return index < m_parts.size() ? m_parts[index].get() : nullptr; }
  // The part at index, advancing index; past the end null, index -1.
  CMultipartFile* GetNext(int& index) const;

 private:
  std::vector<std::unique_ptr<CMultipartFile>> m_parts;
};

class CMMSCodec2 {
 public:
  CMMSCodec2();
  CMMSCodec2(const CMMSCodec2&) = delete;
  CMMSCodec2& operator=(const CMMSCodec2&) = delete;
  virtual ~CMMSCodec2();

  // 0 when the file decodes, otherwise a negative code (kMmsErr...).
  int ParseMmsMessage(const char16_t* path);
  int ParseMmsMessage(const std::u16string& path) { return ParseMmsMessage(path.c_str()); }

  // Created empty on first use.
  CMMSHeader* GetHeader();
  CMultipartContainer* GetContainer();

  // The offset of the body, 0 for no input, or kMmsErrBadHeader.
  static int ParseHeader(const std::uint8_t* data, std::size_t length, CMMSHeader* header);
  // Bytes consumed (> 0), 0, or a negative code; parts read before an error stay.
  static int ParseMultipartFiles(const std::uint8_t* data, std::size_t length, CMultipartContainer* container);
  // The entry's total size, or a negative code.
  static int ReadMultipartFile(const std::uint8_t* data, std::size_t length, CMultipartFile* part);

 private:
  std::unique_ptr<CMMSHeader> m_header;
  std::unique_ptr<CMultipartContainer> m_container;
};
