// CMMSHeader: the header of one decoded MMS message, as CMMSCodec2 fills it.
//
// Thread safety: none; a header belongs to the codec (or caller) that fills it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// An address entry: null when the message carried an empty address.
using MmsAddress = std::optional<std::u16string>;

// Every field starts zero or empty and keeps that value when the message does
// not carry it; byte texts and wide texts that are empty count as absent.
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
  const MmsAddress* GetNextTo(int& index) const noexcept;
};
