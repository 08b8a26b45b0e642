// The vMessage reader: a ".vmg" file (BEGIN:VMSG envelope with the parties'
// vCards and a VBODY) turned into a vMessageRecord.
//
//   vMessageRecord* record = nullptr;
//   if (ReadvMessage(path, kvMessageAll, &record) == 0) { ...; FreevMessageRecord(record); }
//
// The file is tried as 8-bit text first (UTF-8 when it is valid UTF-8, else
// the ANSI code page) and then as UTF-16 little-endian, with or without a
// byte-order mark. Values never keep their line ends; body lines are joined
// with CR LF. Every text field has a fixed limit and longer values are cut.
//
// Thread safety: no shared state; any thread.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

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

// ReadvMessage results besides 0 and E_OUTOFMEMORY.
inline constexpr int kvMessageFileMissing = -1;
inline constexpr int kvMessageFileUnreadable = -2;
inline constexpr int kvMessageOpenFailed = -3;
inline constexpr int kvMessageNotAccepted = -7;

// Allocated with the COM task allocator; the caller frees it (and its
// strings) with FreevMessageRecord.
struct vMessageRecord {
  DATE date;           // the date text read for the user's locale; 0 when it is no date
  int status;          // 0 READ, 1 UNREAD, 2 SENT, 3 UNSENT; 0 for anything else
  int recipientCount;  // vCards met inside envelopes
  BSTR body;
  BSTR senderNumber;
  BSTR senderName;
  BSTR recipientNumbers;  // ";"-joined
  BSTR recipientNames;    // ";"-joined
  BSTR dateText;
};

void FreevMessageRecord(vMessageRecord* record) noexcept;

// 0 with *record set; kvMessageFileMissing, kvMessageFileUnreadable,
// E_OUTOFMEMORY, kvMessageOpenFailed or kvMessageNotAccepted with *record null.
int ReadvMessage(const char16_t* path, unsigned bits, vMessageRecord** record) noexcept;

// The tests on one line (without its line end) that the reader decides by.
// All comparisons are case-sensitive.
class CStringManipulator {
 public:
  virtual ~CStringManipulator() = default;

  // The text before the first ":", or the whole line when it has none.
  std::u16string_view Name(std::u16string_view line) const;
  // The text after the first ":", or nothing when the line has none.
  std::u16string_view Value(std::u16string_view line) const;
  bool NameAndValueContain(std::u16string_view line, std::u16string_view inName, std::u16string_view inValue) const;
  bool Contains(std::u16string_view text, std::u16string_view part) const;
  bool Is(std::u16string_view a, std::u16string_view b) const;
};

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

  const std::u16string& Status() const { return m_status; }
  const std::u16string& DateText() const { return m_date; }
  const std::u16string& Body() const { return m_body; }
  const std::u16string& SenderNumber() const { return m_senderNumber; }
  const std::u16string& SenderName() const { return m_senderName; }
  const std::u16string& RecipientNumbers() const { return m_recipientNumbers; }
  const std::u16string& RecipientNames() const { return m_recipientNames; }
  int RecipientCount() const { return m_recipientCount; }

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

  CStringManipulator m_strings;
  std::u16string_view m_text;
  std::size_t m_pos = 0;
  unsigned m_bits;
  UINT m_codePage;
  Line m_line;  // the line read last

  std::u16string m_status;
  std::u16string m_date;
  std::u16string m_body;
  std::u16string m_senderNumber;
  std::u16string m_senderName;
  std::u16string m_recipientNumbers;
  std::u16string m_recipientNames;
  int m_recipientCount = 0;
};
