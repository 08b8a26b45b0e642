#include "messaging/MMS/vMessageReader.h"

#include <algorithm>
#include <cstdint>
#include <new>
#include <vector>

#include "platform/com/combase.h"
#include "platform/com/oleauto.h"
#include "platform/win32/crtio.h"
#include "platform/win32/fileapi.h"
#include "platform/win32/winbase.h"

namespace {

constexpr LCID kUserDefaultLocale = 0x400;

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

char16_t Upper(char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - u'a' + u'A') : c; }

bool EqualsNoCase(std::u16string_view a, std::u16string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char16_t x, char16_t y) {
           return Upper(x) == Upper(y);
         });
}

// The code page of a MIME charset name; 0 when it is unknown.
UINT CodePageOfCharset(std::u16string_view name) {
  struct Entry {
    const char16_t* name;
    UINT codePage;
  };
  static constexpr Entry kCharsets[] = {
      {u"UTF-8", CP_UTF8},          {u"US-ASCII", 20127},        {u"ASCII", 20127},
      {u"ISO-8859-1", 28591},       {u"ISO-8859-2", 28592},      {u"ISO-8859-3", 28593},
      {u"ISO-8859-4", 28594},       {u"ISO-8859-5", 28595},      {u"ISO-8859-6", 28596},
      {u"ISO-8859-7", 28597},       {u"ISO-8859-8", 28598},      {u"ISO-8859-9", 28599},
      {u"ISO-8859-13", 28603},      {u"ISO-8859-15", 28605},     {u"WINDOWS-1250", 1250},
      {u"WINDOWS-1251", 1251},      {u"WINDOWS-1252", 1252},     {u"WINDOWS-1253", 1253},
      {u"WINDOWS-1254", 1254},      {u"WINDOWS-1255", 1255},     {u"WINDOWS-1256", 1256},
      {u"WINDOWS-1257", 1257},      {u"WINDOWS-1258", 1258},     {u"KOI8-R", 20866},
      {u"KOI8-U", 21866},           {u"SHIFT_JIS", 932},         {u"GB2312", 936},
      {u"GBK", 936},                {u"GB18030", 54936},         {u"BIG5", 950},
      {u"EUC-KR", 949},             {u"EUC-JP", 51932},          {u"UTF-7", CP_UTF7},
  };
  for (const Entry& e : kCharsets) {
    if (EqualsNoCase(name, e.name)) return e.codePage;
  }
  return 0;
}

// Bytes to UTF-16 in a code page; invalid sequences become what the platform
// makes of them. Empty when the code page cannot convert at all.
std::u16string Decode(const char* bytes, std::size_t length, UINT codePage, DWORD flags = 0) {
  if (length == 0 || length > 0x7FFFFFFF) return {};
  const int n = static_cast<int>(length);
  const int chars = MultiByteToWideChar(codePage, flags, bytes, n, nullptr, 0);
  if (chars <= 0) return {};
  std::u16string out(static_cast<std::size_t>(chars), u'\0');
  MultiByteToWideChar(codePage, flags, bytes, n, out.data(), chars);
  return out;
}

bool IsUtf8(const char* bytes, std::size_t length) {
  return length == 0 || !Decode(bytes, length, CP_UTF8, MB_ERR_INVALID_CHARS).empty();
}

// The code page for 8-bit text that declares none: UTF-8 when the bytes are
// valid UTF-8, else the ANSI code page.
UINT EightBitCodePage(const char* bytes, std::size_t length) {
  return IsUtf8(bytes, length) ? CP_UTF8 : CP_ACP;
}

int HexDigit(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  return -1;
}

// Quoted-printable text (soft breaks already joined) to bytes. A "=" not
// followed by two hex digits is kept as it is.
std::string DecodeQuotedPrintable(std::u16string_view text) {
  std::string bytes;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c == u'=' && i + 2 < text.size()) {
      const int hi = HexDigit(text[i + 1]);
      const int lo = HexDigit(text[i + 2]);
      if (hi >= 0 && lo >= 0) {
        bytes.push_back(static_cast<char>(hi * 16 + lo));
        i += 2;
        continue;
      }
    }
    if (c < 0x80) {
      bytes.push_back(static_cast<char>(c));
    } else {
      // A character outside ASCII in QP text is taken as it stands, in UTF-8.
      char16_t one[1] = {c};
      int size = WideCharToMultiByte(CP_UTF8, 0, one, 1, nullptr, 0, nullptr, nullptr);
      if (size > 0) {
        std::string utf8(static_cast<std::size_t>(size), '\0');
        WideCharToMultiByte(CP_UTF8, 0, one, 1, utf8.data(), size, nullptr, nullptr);
        bytes += utf8;
      }
    }
  }
  return bytes;
}

}  // namespace

// ---- CStringManipulator -----------------------------------------------------

std::u16string_view CStringManipulator::Name(std::u16string_view line) const {
  const std::size_t colon = line.find(u':');
  return colon == std::u16string_view::npos ? line : line.substr(0, colon);
}

std::u16string_view CStringManipulator::Value(std::u16string_view line) const {
  const std::size_t colon = line.find(u':');
  return colon == std::u16string_view::npos ? std::u16string_view() : line.substr(colon + 1);
}

bool CStringManipulator::NameAndValueContain(std::u16string_view line, std::u16string_view inName,
                                             std::u16string_view inValue) const {
  return Contains(Name(line), inName) && Contains(Value(line), inValue);
}

bool CStringManipulator::Contains(std::u16string_view text, std::u16string_view part) const {
  return text.find(part) != std::u16string_view::npos;
}

bool CStringManipulator::Is(std::u16string_view a, std::u16string_view b) const { return a == b; }

// ---- CvMessageReader --------------------------------------------------------

CvMessageReader::CvMessageReader(std::u16string_view text, unsigned bits, UINT eightBitCodePage)
    : m_text(text), m_bits(bits), m_codePage(eightBitCodePage) {}

// A line ends at LF, a CR before it belonging to the line end. A line longer
// than maxChars comes in pieces of maxChars; its line end goes with its last piece.
bool CvMessageReader::ReadLine(Line& line, std::size_t maxChars) {
  line.text.clear();
  line.complete = false;
  if (m_pos >= m_text.size()) return false;
  const std::u16string_view rest = m_text.substr(m_pos);
  // Room for the content plus CR LF, so a line of exactly maxChars is whole.
  const std::size_t lf = rest.substr(0, maxChars + 2).find(u'\n');
  if (lf != std::u16string_view::npos) {
    std::size_t end = lf;
    if (end > 0 && rest[end - 1] == u'\r') --end;
    if (end <= maxChars) {
      line.text.assign(rest.substr(0, end));
      line.complete = true;
      m_pos += lf + 1;
      return true;
    }
  }
  if (rest.size() <= maxChars) {
    // The file's last line, without a line end.
    line.text.assign(rest);
    line.complete = true;
    m_pos = m_text.size();
    return true;
  }
  line.text.assign(rest.substr(0, maxChars));
  m_pos += maxChars;
  return true;
}

bool CvMessageReader::ReadMessage() {
  if (!ReadMessageHeader()) return false;
  if (ReadLine(m_line, kLineChars) && m_strings.NameAndValueContain(m_line.text, u"BEGIN", u"VENV")) {
    return ReadEnvelope();
  }
  return true;
}

bool CvMessageReader::ReadMessageHeader() {
  if (!ReadLine(m_line, kLineChars) || !m_strings.NameAndValueContain(m_line.text, u"BEGIN", u"VMSG")) return false;
  bool statusSeen = false;
  bool atBegin = false;
  while (ReadLine(m_line, kLineChars)) {
    if (m_strings.Contains(m_line.text, u"BEGIN")) {
      atBegin = true;
      break;
    }
    if (m_strings.Contains(m_strings.Name(m_line.text), u"X-IRMC-STATUS")) {
      statusSeen = true;
      if (m_bits & kvMessageStatus) ReplaceCut(m_status, m_strings.Value(m_line.text), kStatusLimit);
    }
  }
  if (!atBegin || !statusSeen) return false;
  if (m_strings.Contains(m_line.text, u"VCARD")) return ReadVCard(true);
  if (m_strings.Contains(m_line.text, u"VENV")) return ReadEnvelope();
  return true;
}

std::u16string CvMessageReader::PropertyValue(const Line& line) {
  const std::u16string_view name = m_strings.Name(line.text);
  std::u16string value(m_strings.Value(line.text));
  bool quotedPrintable = false;
  UINT codePage = 0;
  std::size_t start = name.find(u';');
  while (start != std::u16string_view::npos) {
    const std::size_t next = name.find(u';', start + 1);
    const std::u16string_view param =
        name.substr(start + 1, next == std::u16string_view::npos ? std::u16string_view::npos : next - start - 1);
    if (EqualsNoCase(param, u"ENCODING=QUOTED-PRINTABLE") || EqualsNoCase(param, u"QUOTED-PRINTABLE")) {
      quotedPrintable = true;
    } else if (param.size() > 8 && EqualsNoCase(param.substr(0, 8), u"CHARSET=")) {
      codePage = CodePageOfCharset(param.substr(8));
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
  const std::string bytes = DecodeQuotedPrintable(value);
  if (codePage == 0) codePage = m_codePage;
  std::u16string decoded = Decode(bytes.data(), bytes.size(), codePage);
  if (decoded.empty() && !bytes.empty()) decoded = Decode(bytes.data(), bytes.size(), CP_ACP);
  return decoded;
}

bool CvMessageReader::ReadVCard(bool originator) {
  bool numberSeen = false;
  bool nameSeen = false;
  while (ReadLine(m_line, kLineChars)) {
    if (m_strings.NameAndValueContain(m_line.text, u"END", u"VCARD")) break;
    const std::u16string_view name = m_strings.Name(m_line.text);
    const std::u16string_view property = name.substr(0, name.find(u';'));
    const bool isNumber = m_strings.Contains(name, u"TEL");
    const bool isName = m_strings.Is(property, u"N");
    if (!isNumber && !isName) continue;
    const unsigned senderBit = isNumber ? kvMessageSenderNumber : kvMessageSenderName;
    const unsigned recipientBit = isNumber ? kvMessageRecipientNumbers : kvMessageRecipientNames;
    (isNumber ? numberSeen : nameSeen) = true;
    const Line line = m_line;
    const std::u16string value = PropertyValue(line);
    if (originator) {
      if (m_bits & senderBit) ReplaceCut(isNumber ? m_senderNumber : m_senderName, value, kSenderLimit);
    } else if (m_bits & recipientBit) {
      std::u16string& field = isNumber ? m_recipientNumbers : m_recipientNames;
      if (m_recipientCount <= 1) {
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
  while (ok && ReadLine(m_line, kLineChars)) {
    if (m_strings.NameAndValueContain(m_line.text, u"END", u"VENV")) break;
    if (m_strings.Contains(m_line.text, u"BEGIN") && m_strings.Contains(m_line.text, u"VCARD")) {
      ++m_recipientCount;
      ok = ReadVCard(false);
    } else if (m_strings.Contains(m_line.text, u"BEGIN") && m_strings.Contains(m_line.text, u"VBODY")) {
      bodySeen = true;
      ok = ReadBody();
    } else if (m_strings.Contains(m_line.text, u"BEGIN")) {
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
  while (ReadLine(m_line, kBodyLineChars)) {
    if (m_strings.Contains(m_line.text, u"END:VBODY")) return true;
    if (m_strings.Is(m_strings.Name(m_line.text), u"Date")) {
      if (m_bits & kvMessageDate) ReplaceCut(m_date, m_strings.Value(m_line.text), kDateLimit);
      // The piece after an overlong Date line starts a line of its own.
      previousComplete = true;
      continue;
    }
    if (m_bits & kvMessageBody) {
      if (anyLine && previousComplete) AppendCut(m_body, u"\r\n", kBodyLimit);
      AppendCut(m_body, m_line.text, kBodyLimit);
      anyLine = true;
    }
    previousComplete = m_line.complete;
  }
  return false;
}

// ---- ReadvMessage -----------------------------------------------------------

void FreevMessageRecord(vMessageRecord* record) noexcept {
  if (!record) return;
  for (BSTR* s : {&record->body, &record->senderNumber, &record->senderName, &record->recipientNumbers,
                  &record->recipientNames, &record->dateText}) {
    SysFreeString(*s);
  }
  CoTaskMemFree(record);
}

namespace {

struct Attempt {
  std::u16string text;
  UINT codePage;
};

// The file's bytes as 8-bit text (a UTF-8 byte-order mark dropped).
Attempt TextAttempt(const std::vector<char>& bytes) {
  std::size_t skip = 0;
  if (bytes.size() >= 3 && static_cast<unsigned char>(bytes[0]) == 0xEF &&
      static_cast<unsigned char>(bytes[1]) == 0xBB && static_cast<unsigned char>(bytes[2]) == 0xBF) {
    skip = 3;
  }
  const char* data = bytes.data() + skip;
  const std::size_t size = bytes.size() - skip;
  const UINT codePage = EightBitCodePage(data, size);
  return {Decode(data, size, codePage), codePage};
}

// The file's bytes as UTF-16 little-endian (a byte-order mark dropped; an odd
// last byte ignored).
Attempt Utf16Attempt(const std::vector<char>& bytes) {
  std::u16string text;
  text.reserve(bytes.size() / 2);
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    text.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                         (static_cast<unsigned char>(bytes[i + 1]) << 8)));
  }
  if (!text.empty() && text.front() == 0xFEFF) text.erase(0, 1);
  return {std::move(text), CP_UTF8};
}

BSTR Bstr(const std::u16string& s) {
  BSTR b = SysAllocStringLen(s.data(), static_cast<UINT>(s.size()));
  if (!b) throw std::bad_alloc();
  return b;
}

int StatusNumber(const std::u16string& status) {
  if (status == u"READ") return 0;
  if (status == u"UNREAD") return 1;
  if (status == u"SENT") return 2;
  if (status == u"UNSENT") return 3;
  return 0;
}

void Fill(vMessageRecord& r, const CvMessageReader& reader) {
  r.status = StatusNumber(reader.Status());
  r.recipientCount = reader.RecipientCount();
  r.date = 0;
  if (!reader.DateText().empty()) {
    DATE d = 0;
    if (SUCCEEDED(VarDateFromStr(reader.DateText().c_str(), kUserDefaultLocale, 0, &d))) r.date = d;
  }
  r.body = Bstr(reader.Body());
  r.senderNumber = Bstr(reader.SenderNumber());
  r.senderName = Bstr(reader.SenderName());
  r.recipientNumbers = Bstr(reader.RecipientNumbers());
  r.recipientNames = Bstr(reader.RecipientNames());
  r.dateText = Bstr(reader.DateText());
}

}  // namespace

int ReadvMessage(const char16_t* path, unsigned bits, vMessageRecord** record) noexcept {
  if (!record) return kvMessageNotAccepted;
  *record = nullptr;
  if (!path) return kvMessageFileMissing;
  const DWORD attributes = GetFileAttributesW(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return kvMessageFileMissing;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return kvMessageFileUnreadable;

  auto* r = static_cast<vMessageRecord*>(CoTaskMemAlloc(sizeof(vMessageRecord)));
  if (!r) return E_OUTOFMEMORY;
  *r = vMessageRecord{};
  try {
    const int fd = _wopen(path, _O_RDONLY | _O_BINARY);
    if (fd < 0) {
      FreevMessageRecord(r);
      return kvMessageOpenFailed;
    }
    std::vector<char> bytes;
    char chunk[65536];
    for (;;) {
      const int n = _read(fd, chunk, sizeof chunk);
      if (n <= 0) break;
      bytes.insert(bytes.end(), chunk, chunk + n);
    }
    _close(fd);

    for (Attempt (*attempt)(const std::vector<char>&) : {&TextAttempt, &Utf16Attempt}) {
      const Attempt a = attempt(bytes);
      CvMessageReader reader(a.text, bits, a.codePage);
      if (reader.ReadMessage()) {
        Fill(*r, reader);
        *record = r;
        return 0;
      }
    }
  } catch (const std::bad_alloc&) {
    FreevMessageRecord(r);
    return E_OUTOFMEMORY;
  } catch (...) {
  }
  FreevMessageRecord(r);
  return kvMessageNotAccepted;
}
