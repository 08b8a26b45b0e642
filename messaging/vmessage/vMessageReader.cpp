#include "messaging/vmessage/vMessageReader.h"

#include "messaging/vmessage/vMessageText.h"
#include "platform/base/Ascii.h"
#include "platform/win32/winbase.h"

namespace {

// Appends text to field, cutting it so field stays below limit characters
// (the limit counts the terminator of the original fixed fields).
void AppendCut(std::u16string& field, std::u16string_view text, std::size_t limit) {
  const std::size_t room = limit - 1 > field.size() ? limit - 1 - field.size() : 0;
  field.append(text.substr(0, room));
}

void ReplaceCut(std::u16string& field, std::u16string_view text, std::size_t limit) {
  field.clear();
  AppendCut(field, text, limit);
}

}  // namespace

CvMessageReader::CvMessageReader(std::u16string_view text, unsigned bits, UINT eightBitCodePage)
    : text_(text), bits_(bits), codePage_(eightBitCodePage) {}

// A line ends at LF, a CR before it belonging to the line end. A line longer
// than maxChars comes in pieces of maxChars; its line end goes with its last piece.
bool CvMessageReader::ReadLine(Line& line, std::size_t maxChars) {
  line.text.clear();
  line.complete = false;
  if (pos_ >= text_.size()) return false;
  const std::u16string_view rest = text_.substr(pos_);
  // Room for the content plus CR LF, so a line of exactly maxChars is whole.
  const std::size_t lf = rest.substr(0, maxChars + 2).find(u'\n');
  if (lf != std::u16string_view::npos) {
    std::size_t end = lf;
    if (end > 0 && rest[end - 1] == u'\r') --end;
    if (end <= maxChars) {
      line.text.assign(rest.substr(0, end));
      line.complete = true;
      pos_ += lf + 1;
      return true;
    }
  }
  if (rest.size() <= maxChars) {
    // The file's last line, without a line end.
    line.text.assign(rest);
    line.complete = true;
    pos_ = text_.size();
    return true;
  }
  line.text.assign(rest.substr(0, maxChars));
  pos_ += maxChars;
  return true;
}

bool CvMessageReader::ReadMessage() {
  if (!ReadMessageHeader()) return false;
  if (ReadLine(line_, kLineChars) && strings_.NameAndValueContain(line_.text, u"BEGIN", u"VENV")) {
    return ReadEnvelope();
  }
  return true;
}

bool CvMessageReader::ReadMessageHeader() {
  if (!ReadLine(line_, kLineChars) || !strings_.NameAndValueContain(line_.text, u"BEGIN", u"VMSG")) return false;
  bool statusSeen = false;
  bool atBegin = false;
  while (ReadLine(line_, kLineChars)) {
    if (strings_.Contains(line_.text, u"BEGIN")) {
      atBegin = true;
      break;
    }
    if (strings_.Contains(strings_.Name(line_.text), u"X-IRMC-STATUS")) {
      statusSeen = true;
      if (bits_ & kvMessageStatus) ReplaceCut(status_, strings_.Value(line_.text), kStatusLimit);
    }
  }
  if (!atBegin || !statusSeen) return false;
  if (strings_.Contains(line_.text, u"VCARD")) return ReadVCard(true);
  if (strings_.Contains(line_.text, u"VENV")) return ReadEnvelope();
  return true;
}

std::u16string CvMessageReader::PropertyValue(const Line& line) {
  const std::u16string_view name = strings_.Name(line.text);
  std::u16string value(strings_.Value(line.text));
  bool quotedPrintable = false;
  UINT codePage = 0;
  std::size_t start = name.find(u';');
  while (start != std::u16string_view::npos) {
    const std::size_t next = name.find(u';', start + 1);
    const std::u16string_view param =
        name.substr(start + 1, next == std::u16string_view::npos ? std::u16string_view::npos : next - start - 1);
    if (vel::AsciiEqualsNoCase(param, u"ENCODING=QUOTED-PRINTABLE") ||
        vel::AsciiEqualsNoCase(param, u"QUOTED-PRINTABLE")) {
      quotedPrintable = true;
    } else if (param.size() > 8 && vel::AsciiEqualsNoCase(param.substr(0, 8), u"CHARSET=")) {
      codePage = vel::vmessage::CodePageOfCharset(param.substr(8));
    }
    start = next;
  }
  if (!quotedPrintable) return value;
  // Soft line breaks: a value ending in "=" goes on in the next line.
  bool complete = line.complete;
  while (!value.empty() && value.back() == u'=' && complete) {
    Line next;
    if (!ReadLine(next, kLineChars)) break;
    value.pop_back();
    value += next.text;
    complete = next.complete;
    while (!complete && ReadLine(next, kLineChars)) {
      value += next.text;
      complete = next.complete;
      if (value.size() > kRecipientsLimit * 4) break;
    }
    if (value.size() > kRecipientsLimit * 4) break;
  }
  const std::string bytes = vel::vmessage::DecodeQuotedPrintable(value);
  if (codePage == 0) codePage = codePage_;
  std::u16string decoded = vel::vmessage::Decode(bytes, codePage);
  if (decoded.empty() && !bytes.empty()) decoded = vel::vmessage::Decode(bytes, CP_ACP);
  return decoded;
}

bool CvMessageReader::ReadVCard(bool originator) {
  bool numberSeen = false;
  bool nameSeen = false;
  while (ReadLine(line_, kLineChars)) {
    if (strings_.NameAndValueContain(line_.text, u"END", u"VCARD")) break;
    const std::u16string_view name = strings_.Name(line_.text);
    const std::u16string_view property = name.substr(0, name.find(u';'));
    const bool isNumber = strings_.Contains(name, u"TEL");
    const bool isName = strings_.Is(property, u"N");
    if (!isNumber && !isName) continue;
    const unsigned senderBit = isNumber ? kvMessageSenderNumber : kvMessageSenderName;
    const unsigned recipientBit = isNumber ? kvMessageRecipientNumbers : kvMessageRecipientNames;
    (isNumber ? numberSeen : nameSeen) = true;
    const Line line = line_;
    const std::u16string value = PropertyValue(line);
    if (originator) {
      if (bits_ & senderBit) ReplaceCut(isNumber ? senderNumber_ : senderName_, value, kSenderLimit);
    } else if (bits_ & recipientBit) {
      std::u16string& field = isNumber ? recipientNumbers_ : recipientNames_;
      if (recipientCount_ <= 1) {
        ReplaceCut(field, value, kRecipientsLimit);
      } else if (field.size() + 1 + value.size() <= kRecipientsLimit - 1) {
        // A recipient that does not fit whole is left out, not cut.
        field += u';';
        field += value;
      }
    }
  }
  return numberSeen && nameSeen;
}

bool CvMessageReader::ReadEnvelope() {
  bool bodySeen = false;
  bool ok = true;
  while (ok && ReadLine(line_, kLineChars)) {
    if (strings_.NameAndValueContain(line_.text, u"END", u"VENV")) break;
    if (strings_.Contains(line_.text, u"BEGIN") && strings_.Contains(line_.text, u"VCARD")) {
      ++recipientCount_;
      ok = ReadVCard(false);
    } else if (strings_.Contains(line_.text, u"BEGIN") && strings_.Contains(line_.text, u"VBODY")) {
      bodySeen = true;
      ok = ReadBody();
    } else if (strings_.Contains(line_.text, u"BEGIN")) {
      // A nested envelope: its content follows as part of this one.
    } else {
      ok = false;
    }
  }
  return bodySeen && ok;
}

bool CvMessageReader::ReadBody() {
  bool anyLine = false;
  bool previousComplete = false;
  while (ReadLine(line_, kBodyLineChars)) {
    if (strings_.Contains(line_.text, u"END:VBODY")) return true;
    if (strings_.Is(strings_.Name(line_.text), u"Date")) {
      if (bits_ & kvMessageDate) ReplaceCut(date_, strings_.Value(line_.text), kDateLimit);
      // The piece after an overlong Date line starts a line of its own.
      previousComplete = true;
      continue;
    }
    if (bits_ & kvMessageBody) {
      if (anyLine && previousComplete) AppendCut(body_, u"\r\n", kBodyLimit);
      AppendCut(body_, line_.text, kBodyLimit);
      anyLine = true;
    }
    previousComplete = line_.complete;
  }
  return false;
}
