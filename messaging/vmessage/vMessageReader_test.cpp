// The vMessage reader: nesting, line ends, long lines, quoted-printable names,
// status and the two reading attempts over real files.
#include "messaging/vmessage/vMessageReader.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "messaging/vmessage/ReadvMessage.h"
#include "messaging/vmessage/vMessageText.h"
#include "platform/com/oleauto.h"
#include "platform/text.h"
#include "platform/win32/winbase.h"

namespace {

std::string Narrow(std::u16string_view s) { return vel::ToUtf8(std::u16string(s)); }

// Lines joined with the given line end, one after the last line too.
std::u16string Join(const std::vector<std::u16string>& lines, std::u16string_view eol = u"\r\n") {
  std::u16string text;
  for (const auto& l : lines) text += l + std::u16string(eol);
  return text;
}

// A received message: originator, empty recipient, nested envelopes, body.
std::vector<std::u16string> Received(std::vector<std::u16string> body = {u"Hello", u"there"}) {
  std::vector<std::u16string> lines = {u"BEGIN:VMSG", u"VERSION:1.1",  u"X-IRMC-STATUS:READ", u"X-IRMC-BOX:INBOX",
                                       u"BEGIN:VCARD", u"VERSION:2.1", u"N:Anna",             u"TEL:+491",
                                       u"END:VCARD",   u"BEGIN:VENV",  u"BEGIN:VCARD",        u"VERSION:2.1",
                                       u"N:",          u"TEL:",        u"END:VCARD",          u"BEGIN:VENV",
                                       u"BEGIN:VBODY", u"Date:2026/12/10 07:35:48"};
  lines.insert(lines.end(), body.begin(), body.end());
  for (const char16_t* l : {u"END:VBODY", u"END:VENV", u"END:VENV", u"END:VMSG"}) lines.push_back(l);
  return lines;
}

struct Parsed {
  bool ok;
  std::u16string senderName, senderNumber, recipientNames, recipientNumbers, body, date, status;
  int count;
};

Parsed Parse(std::u16string_view text, unsigned bits = kvMessageAll) {
  CvMessageReader reader(text, bits, CP_UTF8);
  const bool ok = reader.ReadMessage();
  return {ok,
          reader.SenderName(),
          reader.SenderNumber(),
          reader.RecipientNames(),
          reader.RecipientNumbers(),
          reader.Body(),
          reader.DateText(),
          reader.Status(),
          reader.RecipientCount()};
}

TEST(vMessageReader, NestingAndPartiesTable) {
  const std::vector<std::u16string> sent = {
      u"BEGIN:VMSG",  u"X-IRMC-STATUS:SENT", u"BEGIN:VENV",  u"BEGIN:VCARD", u"N:Bo",     u"TEL;CELL:111",
      u"END:VCARD",   u"BEGIN:VCARD",        u"N:Cy",        u"TEL:222",     u"END:VCARD", u"BEGIN:VENV",
      u"BEGIN:VBODY", u"Hi all",             u"END:VBODY",   u"END:VENV",    u"END:VENV",  u"END:VMSG"};
  std::vector<std::u16string> noStatus = Received();
  noStatus.erase(noStatus.begin() + 2);
  std::vector<std::u16string> noName = Received();
  noName.erase(noName.begin() + 6);
  std::vector<std::u16string> noEndBody = Received();
  noEndBody.resize(noEndBody.size() - 4);
  std::vector<std::u16string> noEndVcard = {u"BEGIN:VMSG", u"X-IRMC-STATUS:READ", u"BEGIN:VCARD", u"N:A", u"TEL:1"};
  std::vector<std::u16string> strayLine = Received();
  strayLine.insert(strayLine.begin() + 10, u"garbage");
  std::vector<std::u16string> notVmsg = Received();
  notVmsg[0] = u"BEGIN:VCARD";
  std::vector<std::u16string> noEnvelope = {u"BEGIN:VMSG", u"X-IRMC-STATUS:READ", u"BEGIN:VCARD", u"N:A",
                                            u"TEL:1",      u"END:VCARD",          u"END:VMSG"};
  std::vector<std::u16string> onlyStatus = {u"BEGIN:VMSG", u"X-IRMC-STATUS:READ"};

  struct Row {
    const char* name;
    std::vector<std::u16string> lines;
    bool ok;
    std::u16string senderName, senderNumber, recipientNames, recipientNumbers, body;
    int count;
  };
  const Row rows[] = {
      {"received", Received(), true, u"Anna", u"+491", u"", u"", u"Hello\r\nthere", 1},
      {"sent to two", sent, true, u"", u"", u"Bo;Cy", u"111;222", u"Hi all", 2},
      {"no status", noStatus, false, u"", u"", u"", u"", u"", 0},
      {"originator without N", noName, false, u"", u"+491", u"", u"", u"", 0},
      {"body without END", noEndBody, false, u"Anna", u"+491", u"", u"", u"Hello\r\nthere", 1},
      {"vCard without END", noEndVcard, true, u"A", u"1", u"", u"", u"", 0},
      {"stray line in envelope", strayLine, false, u"Anna", u"+491", u"", u"", u"", 0},
      {"first line not VMSG", notVmsg, false, u"", u"", u"", u"", u"", 0},
      {"no envelope", noEnvelope, true, u"A", u"1", u"", u"", u"", 0},
      {"header only", onlyStatus, false, u"", u"", u"", u"", u"", 0},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    const std::u16string text = Join(r.lines);
    const Parsed p = Parse(text);
    EXPECT_EQ(p.ok, r.ok);
    EXPECT_EQ(Narrow(p.senderName), Narrow(r.senderName));
    EXPECT_EQ(Narrow(p.senderNumber), Narrow(r.senderNumber));
    EXPECT_EQ(Narrow(p.recipientNames), Narrow(r.recipientNames));
    EXPECT_EQ(Narrow(p.recipientNumbers), Narrow(r.recipientNumbers));
    EXPECT_EQ(Narrow(p.body), Narrow(r.body));
    EXPECT_EQ(p.count, r.count);
  }
}

TEST(vMessageReader, LineEndsNeverStayInValues) {
  struct Row {
    const char* name;
    std::u16string text;
  };
  const std::vector<std::u16string> lines = Received();
  std::u16string mixed;
  for (std::size_t i = 0; i < lines.size(); ++i) mixed += lines[i] + (i % 2 ? u"\n" : u"\r\n");
  std::u16string noFinalEnd = Join(Received(), u"\n");
  noFinalEnd.pop_back();
  const Row rows[] = {
      {"CR LF", Join(lines, u"\r\n")},
      {"LF", Join(lines, u"\n")},
      {"mixed", mixed},
      {"last line without line end", noFinalEnd},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    const Parsed p = Parse(r.text);
    EXPECT_TRUE(p.ok);
    EXPECT_EQ(Narrow(p.senderName), "Anna");
    EXPECT_EQ(Narrow(p.senderNumber), "+491");
    EXPECT_EQ(Narrow(p.date), "2026/12/10 07:35:48");
    EXPECT_EQ(Narrow(p.status), "READ");
    EXPECT_EQ(Narrow(p.body), "Hello\r\nthere");
  }
  // The last line of a file keeps all of its characters.
  std::u16string tail = Join({u"BEGIN:VMSG", u"X-IRMC-STATUS:READ", u"BEGIN:VCARD", u"N:A", u"TEL:12345"});
  tail.resize(tail.size() - 2);
  EXPECT_EQ(Narrow(Parse(tail).senderNumber), "12345");
}

TEST(vMessageReader, OverlongLinesAndFieldLimits) {
  const std::u16string longText(1500, u'x');
  const Parsed p = Parse(Join(Received({longText, u"end"})));
  ASSERT_TRUE(p.ok);
  // The pieces of one line join without separator; the next line after CR LF.
  EXPECT_EQ(Narrow(p.body), Narrow(longText + u"\r\nend"));

  // A very long body is cut at the field's limit.
  std::vector<std::u16string> many(120, std::u16string(1000, u'b'));
  const Parsed big = Parse(Join(Received(many)));
  ASSERT_TRUE(big.ok);
  EXPECT_EQ(big.body.size(), CvMessageReader::kBodyLimit - 1);

  // A name longer than a line piece is cut at the piece; the rest is no property.
  std::vector<std::u16string> lines = Received();
  lines[6] = u"N:" + std::u16string(400, u'n');
  const Parsed longName = Parse(Join(lines));
  ASSERT_TRUE(longName.ok);
  EXPECT_EQ(longName.senderName.size(), CvMessageReader::kLineChars - 2);

  // Recipient lists stop growing at their limit: a recipient that does not fit is left out.
  std::vector<std::u16string> sent = {u"BEGIN:VMSG", u"X-IRMC-STATUS:SENT", u"BEGIN:VENV"};
  for (int i = 0; i < 10; ++i) {
    for (const std::u16string& l : {std::u16string(u"BEGIN:VCARD"), u"N:" + std::u16string(200, u'a' + i),
                                    std::u16string(u"TEL:1"), std::u16string(u"END:VCARD")})
      sent.push_back(l);
  }
  for (const char16_t* l : {u"BEGIN:VBODY", u"x", u"END:VBODY", u"END:VENV", u"END:VMSG"}) sent.push_back(l);
  const Parsed many10 = Parse(Join(sent));
  ASSERT_TRUE(many10.ok);
  EXPECT_EQ(many10.count, 10);
  EXPECT_EQ(many10.recipientNames.size(), 5 * 200 + 4u);
  EXPECT_EQ(Narrow(many10.recipientNumbers), "1;1;1;1;1;1;1;1;1;1");
}

TEST(vMessageReader, NameAndNumberLinesWithParameters) {
  struct Row {
    const char* name;
    std::vector<std::u16string> nameLines;
    std::u16string telLine;
    std::u16string expectedName, expectedNumber;
  };
  const Row rows[] = {
      {"charset utf-8 qp", {u"N;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:J=C3=BCrgen"}, u"TEL:1", u"J\u00fcrgen", u"1"},
      {"soft line break",
       {u"N;ENCODING=QUOTED-PRINTABLE;CHARSET=UTF-8:M=C3=BC=", u"ller;Hans"},
       u"TEL:1",
       u"M\u00fcller;Hans",
       u"1"},
      {"latin-1 qp", {u"N;CHARSET=ISO-8859-1;ENCODING=QUOTED-PRINTABLE:G=F6tz"}, u"TEL:1", u"G\u00f6tz", u"1"},
      {"bare QUOTED-PRINTABLE", {u"N;QUOTED-PRINTABLE:A=3DB"}, u"TEL:1", u"A=B", u"1"},
      {"charset without qp", {u"N;CHARSET=UTF-8:Eva"}, u"TEL;CELL;CHARSET=UTF-8:+49", u"Eva", u"+49"},
      {"qp number", {u"N:Al"}, u"TEL;ENCODING=QUOTED-PRINTABLE:=2B49", u"Al", u"+49"},
      {"broken escape kept", {u"N;ENCODING=QUOTED-PRINTABLE:A=ZZ"}, u"TEL:1", u"A=ZZ", u"1"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    std::vector<std::u16string> lines = {u"BEGIN:VMSG", u"X-IRMC-STATUS:READ", u"BEGIN:VCARD"};
    lines.insert(lines.end(), r.nameLines.begin(), r.nameLines.end());
    lines.push_back(r.telLine);
    for (const char16_t* l : {u"END:VCARD", u"BEGIN:VENV", u"BEGIN:VBODY", u"x", u"END:VBODY", u"END:VENV"})
      lines.push_back(l);
    const Parsed p = Parse(Join(lines));
    EXPECT_TRUE(p.ok);
    EXPECT_EQ(Narrow(p.senderName), Narrow(r.expectedName));
    EXPECT_EQ(Narrow(p.senderNumber), Narrow(r.expectedNumber));
  }
  // FN is no name line.
  const Parsed fn = Parse(Join({u"BEGIN:VMSG", u"X-IRMC-STATUS:READ", u"BEGIN:VCARD", u"FN:A", u"TEL:1", u"END:VCARD"}));
  EXPECT_FALSE(fn.ok);
}

TEST(vMessageReader, SelectionBitsAndStatus) {
  const std::u16string text = Join(Received());
  const Parsed none = Parse(text, 0);
  EXPECT_TRUE(none.ok);
  EXPECT_TRUE(none.senderName.empty() && none.senderNumber.empty() && none.body.empty() && none.date.empty() &&
              none.status.empty());
  const Parsed bodyOnly = Parse(text, kvMessageBody | kvMessageDate);
  EXPECT_EQ(Narrow(bodyOnly.body), "Hello\r\nthere");
  EXPECT_EQ(Narrow(bodyOnly.date), "2026/12/10 07:35:48");
  EXPECT_TRUE(bodyOnly.senderName.empty());
}

// ---- files --------------------------------------------------------------------

class vMessageFile : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "velvmsg-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  std::u16string Write(const std::string& name, const std::string& bytes) {
    const std::string path = dir_ + "/" + name;
    std::ofstream(path, std::ios::binary) << bytes;
    return vel::FromUtf8(path);
  }
  static std::string Utf16(std::u16string_view text, bool bom) {
    std::string bytes = bom ? std::string("\xFF\xFE", 2) : std::string();
    for (char16_t c : text) {
      bytes.push_back(static_cast<char>(c & 0xFF));
      bytes.push_back(static_cast<char>(c >> 8));
    }
    return bytes;
  }
  std::string dir_;
};

TEST_F(vMessageFile, AttemptsAndResults) {
  const std::u16string text = Join(Received());
  struct Row {
    const char* name;
    std::string bytes;
  };
  const Row rows[] = {
      {"utf-8", vel::ToUtf8(text)},
      {"utf-8 with BOM", "\xEF\xBB\xBF" + vel::ToUtf8(text)},
      {"utf-16 with BOM", Utf16(text, true)},
      {"utf-16 without BOM", Utf16(text, false)},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    vel::vmessage::UniqueRecord owner;
    ASSERT_EQ(ReadvMessage(Write("m.vmg", r.bytes).c_str(), kvMessageAll, owner.put()), 0);
    ASSERT_TRUE(owner);
    const vMessageRecord* record = owner.get();
    EXPECT_EQ(Narrow(record->senderName), "Anna");
    EXPECT_EQ(Narrow(record->senderNumber), "+491");
    EXPECT_EQ(Narrow(record->body), "Hello\r\nthere");
    EXPECT_EQ(Narrow(record->dateText), "2026/12/10 07:35:48");
    EXPECT_EQ(record->recipientCount, 1);
    EXPECT_EQ(record->status, 0);
    DATE expected = 0;
    ASSERT_EQ(VarDateFromStr(u"2026/12/10 07:35:48", 0x400, 0, &expected), S_OK);
    EXPECT_EQ(record->date, expected);
  }

  vMessageRecord* record = reinterpret_cast<vMessageRecord*>(1);
  EXPECT_EQ(ReadvMessage(vel::FromUtf8(dir_ + "/absent.vmg").c_str(), kvMessageAll, &record), kvMessageFileMissing);
  EXPECT_EQ(record, nullptr);
  EXPECT_EQ(ReadvMessage(vel::FromUtf8(dir_).c_str(), kvMessageAll, &record), kvMessageFileUnreadable);
  EXPECT_EQ(ReadvMessage(Write("empty.vmg", "").c_str(), kvMessageAll, &record), kvMessageNotAccepted);
  EXPECT_EQ(ReadvMessage(Write("junk.vmg", std::string("\x00\xFF\xFE\x01garbage", 11)).c_str(), kvMessageAll,
                         &record),
            kvMessageNotAccepted);
  EXPECT_EQ(record, nullptr);
}

TEST_F(vMessageFile, StatusNumbers) {
  const std::pair<const char16_t*, int> rows[] = {
      {u"READ", 0}, {u"UNREAD", 1}, {u"SENT", 2}, {u"UNSENT", 3}, {u"sent", 0}, {u"DRAFT", 0}};
  for (const auto& [status, number] : rows) {
    SCOPED_TRACE(Narrow(status));
    std::vector<std::u16string> lines = Received();
    lines[2] = u"X-IRMC-STATUS:" + std::u16string(status);
    vel::vmessage::UniqueRecord record;
    ASSERT_EQ(ReadvMessage(Write("s.vmg", vel::ToUtf8(Join(lines))).c_str(), kvMessageAll, record.put()), 0);
    ASSERT_TRUE(record);
    EXPECT_EQ(record.get()->status, number);
  }
}

// 8-bit text is read in pieces: a UTF-8 character cut by a piece's end, at
// the first or a later piece, with or without a byte-order mark, is read as
// when the file is read whole.
TEST_F(vMessageFile, Utf8CharactersAcrossPieceEnds) {
  constexpr std::size_t kPiece = vel::vmessage::kEightBitPieceBytes;
  const std::string parties =
      "BEGIN:VCARD\r\nN:Anna\r\nTEL:+491\r\nEND:VCARD\r\nBEGIN:VENV\r\nBEGIN:VCARD\r\nN:\r\nTEL:\r\n"
      "END:VCARD\r\nBEGIN:VENV\r\nBEGIN:VBODY\r\nDate:2026/12/10 07:35:48\r\n";
  const std::string end = "\r\nEND:VBODY\r\nEND:VENV\r\nEND:VENV\r\nEND:VMSG\r\n";
  for (bool mark : {false, true}) {
    for (const std::string character : {"\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80"}) {
      for (std::size_t boundary : {kPiece, 3 * kPiece}) {
        for (std::size_t cut = 1; cut < character.size(); ++cut) {
          SCOPED_TRACE(std::string(mark ? "mark, " : "") + std::to_string(character.size()) + "-byte character, " +
                       std::to_string(cut) + " byte(s) before the end of piece " + std::to_string(boundary / kPiece));
          // A header line long enough that the body's character starts cut
          // bytes before the piece's end.
          std::string head = std::string(mark ? "\xEF\xBB\xBF" : "") + "BEGIN:VMSG\r\nX-IRMC-STATUS:READ\r\nX-FILL:";
          const std::string before = "\r\n" + parties + "ab";
          const std::size_t fill = boundary - cut - head.size() - before.size();
          const std::string body = "ab" + character + "cd" + character;
          const std::string bytes = head + std::string(fill, 'x') + before + character + "cd" + character + end;
          ASSERT_EQ(bytes.compare(boundary - cut, character.size(), character), 0);
          vel::vmessage::UniqueRecord record;
          ASSERT_EQ(ReadvMessage(Write("p.vmg", bytes).c_str(), kvMessageAll, record.put()), 0);
          EXPECT_EQ(Narrow(record.get()->body), body);
          EXPECT_EQ(Narrow(record.get()->senderName), "Anna");
        }
      }
    }
  }
}

// A byte sequence that is not UTF-8 anywhere in the file, far past the first
// piece or cut off at its very end, makes the ANSI code page the 8-bit
// reading's, as for a file read whole; without it the same file is UTF-8.
TEST_F(vMessageFile, InvalidUtf8PastTheFirstPieceFallsBackToTheAnsiCodePage) {
  constexpr std::size_t kPiece = vel::vmessage::kEightBitPieceBytes;
  const std::string name = "J\xC3\xBCrgen";
  const auto message = [&](const std::string& filler, const std::string& after) {
    return "BEGIN:VMSG\r\nX-IRMC-STATUS:READ\r\nBEGIN:VCARD\r\nN:" + name + "\r\nX-FILL:" + filler +
           "\r\nTEL:+491\r\nEND:VCARD\r\nBEGIN:VENV\r\nBEGIN:VBODY\r\nCaf\xC3\xA9\r\nEND:VBODY\r\nEND:VENV\r\n"
           "END:VMSG\r\n" +
           after;
  };
  const std::string longFill(3 * kPiece, 'x');
  // A three-byte sequence cut short right at the second piece's start.
  std::string cutAtPiece = message(longFill, "");
  cutAtPiece.replace(kPiece - 1, 3, "\xE2\x82x");
  struct Row {
    const char* name;
    std::string bytes;
    bool utf8;
  };
  const Row rows[] = {
      {"valid throughout", message(longFill, ""), true},
      {"a Latin-1 byte past the third piece", message(longFill + "\xE9", ""), false},
      {"a sequence cut short across a piece's end", cutAtPiece, false},
      {"a lead byte as the file's last byte", message(longFill, "\xC3"), false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const UINT codePage = row.utf8 ? CP_UTF8 : CP_ACP;
    vel::vmessage::UniqueRecord record;
    ASSERT_EQ(ReadvMessage(Write("i.vmg", row.bytes).c_str(), kvMessageAll, record.put()), 0);
    EXPECT_EQ(Narrow(record.get()->senderName), Narrow(vel::vmessage::Decode(name, codePage)));
    EXPECT_EQ(Narrow(record.get()->body), Narrow(vel::vmessage::Decode("Caf\xC3\xA9", codePage)));
    EXPECT_EQ(Narrow(record.get()->senderNumber), "+491");
  }
  ASSERT_NE(Narrow(vel::vmessage::Decode(name, CP_ACP)), Narrow(vel::vmessage::Decode(name, CP_UTF8)));
}

// Every prefix of a file, in both encodings, ends in a result and never past the data.
TEST_F(vMessageFile, TruncationSweep) {
  const std::u16string text = Join(Received({u"N;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:=C3=", u"Date:x"}));
  for (const std::string& whole : {vel::ToUtf8(text), Utf16(text, true)}) {
    for (std::size_t n = 0; n <= whole.size(); ++n) {
      vel::vmessage::UniqueRecord record;
      const int rc = ReadvMessage(Write("t.vmg", whole.substr(0, n)).c_str(), kvMessageAll, record.put());
      ASSERT_TRUE(rc == 0 || rc == kvMessageNotAccepted) << "prefix " << n << " gave " << rc;
      EXPECT_EQ(rc == 0, record.valid()) << "prefix " << n;
    }
    vel::vmessage::UniqueRecord record;
    EXPECT_EQ(ReadvMessage(Write("t.vmg", whole).c_str(), kvMessageAll, record.put()), 0);
  }
}

}  // namespace
