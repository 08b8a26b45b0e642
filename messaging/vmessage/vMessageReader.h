// CvMessageReader: one reading of a vMessage (".vmg" text: BEGIN:VMSG
// envelope with the parties' vCards and a VBODY) already decoded into UTF-16.
// ReadvMessage (ReadvMessage.h) decodes the file and runs the reader.
//
// Values never keep their line ends; body lines are joined with CR LF. Every
// text field has a fixed limit and longer values are cut.
//
// The reader walks the text line by line with an index into the UTF-16
// text; lines are found by their LF and cut into pieces of at most a given
// number of characters.
//
// Thread safety: a reader belongs to one thread.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "messaging/vmessage/StringManipulator.h"
#include "platform/com/types.h"

// Selection bits: which fields the reader fills.
inline constexpr unsigned kvMessageDate = 0x1;
inline constexpr unsigned kvMessageStatus = 0x2;
inline constexpr unsigned kvMessageBody = 0x10;
inline constexpr unsigned kvMessageSenderNumber = 0x20;
inline constexpr unsigned kvMessageSenderName = 0x40;
inline constexpr unsigned kvMessageRecipientNumbers = 0x80;
inline constexpr unsigned kvMessageRecipientNames = 0x100;
inline constexpr unsigned kvMessageAll = 0x1F3;

// One read attempt over text already decoded into UTF-16.
class CvMessageReader {
 public:
  // Field limits, the terminator of the original fixed fields counted.
  static constexpr std::size_t kStatusLimit = 260;
  static constexpr std::size_t kDateLimit = 512;
  static constexpr std::size_t kBodyLimit = 50000;
  static constexpr std::size_t kSenderLimit = 260;
  static constexpr std::size_t kRecipientsLimit = 1024;
  // Longest piece of a line handed to the parser at once.
  static constexpr std::size_t kLineChars = 259;
  static constexpr std::size_t kBodyLineChars = 1023;

  // text must outlive the reader. eightBitCodePage decodes quoted-printable
  // bytes that name no charset.
  CvMessageReader(std::u16string_view text, unsigned bits, UINT eightBitCodePage);
  virtual ~CvMessageReader() = default;

  bool ReadMessage();

  const std::u16string& Status() const { return status_; }
  const std::u16string& DateText() const { return date_; }
  const std::u16string& Body() const { return body_; }
  const std::u16string& SenderNumber() const { return senderNumber_; }
  const std::u16string& SenderName() const { return senderName_; }
  const std::u16string& RecipientNumbers() const { return recipientNumbers_; }
  const std::u16string& RecipientNames() const { return recipientNames_; }
  int RecipientCount() const { return recipientCount_; }

 private:
  struct Line {
    std::u16string text;  // without its line end
    bool complete = false;  // false: a piece of a longer line follows
  };

  bool ReadLine(Line& line, std::size_t maxChars);
  bool ReadMessageHeader();
  bool ReadVCard(bool originator);
  bool ReadEnvelope();
  bool ReadBody();
  // A vCard property value, quoted-printable lines continued and decoded.
  std::u16string PropertyValue(const Line& line);

  CStringManipulator strings_;
  std::u16string_view text_;
  std::size_t pos_ = 0;
  unsigned bits_;
  UINT codePage_;
  Line line_;  // the line read last

  std::u16string status_;
  std::u16string date_;
  std::u16string body_;
  std::u16string senderNumber_;
  std::u16string senderName_;
  std::u16string recipientNumbers_;
  std::u16string recipientNames_;
  int recipientCount_ = 0;
};
