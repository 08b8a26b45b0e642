#include "messaging/MMS/MMSCodec2.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "messaging/MMS/PartFileName.h"
#include "testing/MmsBuilder.h"
#include "testing/TempDir.h"
#include "testing/TempRegistry.h"
#include "testing/Text.h"
#include "testing/TraceCapture.h"
#include "ylib/YLogging.h"

using namespace vel::testing;

namespace {

// A registry store of this binary's own, set before any test logs.
const TempRegistry kOwnRegistry{"velmms-reg"};

namespace fs = std::filesystem;

// A header ends at Content-Type; A3 is multipart/mixed in the short form.
const Bytes kEnd = B({0x84, 0xA3});

struct HeaderRow {
  const char* name;
  Bytes input;
  int result;  // body offset or code
  std::function<void(const CMMSHeader&)> check;
};

int Parse(const Bytes& input, CMMSHeader& header) {
  return CMMSCodec2::ParseHeader(input.data(), input.size(), &header);
}

TEST(MmsHeader, FieldsAndStepping) {
  const std::vector<HeaderRow> rows = {
      {"first byte not 0x8C", B({0x8D, 0x90, 0x84, 0xA3}), kMmsErrBadHeader, nullptr},
      {"no Content-Type although a body follows", B({0x8C, 0x80, 0x8D, 0x90, 0x01, 0x02, 0x03}), kMmsErrBadHeader,
       nullptr},
      {"short Content-Type ends the header at the next byte", B({0x8C, 0x80, 0x84, 0xA3, 0x01}), 4,
       [](const CMMSHeader& h) {
         EXPECT_EQ(h.messageType, 0x80);
         EXPECT_EQ(h.contentType, 0xA3);
       }},
      {"related with Start then Type", B({0x8C, 0x80, 0x84, 0x1D, 0xB3, 0x8A, "<s.smil>", 0, 0x89, "application/smil", 0, 0x77}),
       33,
       [](const CMMSHeader& h) {
         EXPECT_EQ(h.contentType, 0xB3);
         EXPECT_EQ(h.start, "<s.smil>");
         EXPECT_EQ(h.type, "application/smil");
       }},
      {"related with Type before Start keeps Type only; body after the declared length",
       B({0x8C, 0x80, 0x84, 0x1F, 0x1F, 0xB3, 0x89, "application/smil", 0, 0x8A, "<1a2b3c4d>", 0, 0x11}), 36,
       [](const CMMSHeader& h) {
         EXPECT_EQ(h.start, "");
         EXPECT_EQ(h.type, "application/smil");
       }},
      {"general form longer than its parameters", B({0x8C, 0x80, 0x84, 0x04, 0xB3, 0x99, 0x98, 0x97, 0x01}), 8,
       [](const CMMSHeader& h) { EXPECT_EQ(h.contentType, 0xB3); }},
      {"general form with a textual media type keeps its code",
       B({0x8C, 0x80, 0x84, 0x15, "multipart/mixed", 0, 0x8A, "<a>", 0}), 25,
       [](const CMMSHeader& h) { EXPECT_EQ(h.contentType, 0x8C); }},
      {"general form running past the end", B({0x8C, 0x80, 0x84, 0x1B, 0xB3}), kMmsErrBadHeader, nullptr},
      {"textual Content-Type without terminator", B({0x8C, 0x80, 0x84, "text/plain"}), kMmsErrBadHeader, nullptr},
      {"textual Content-Type stores nothing", B({0x8C, 0x80, 0x84, "text/plain", 0, 0x01}), 14,
       [](const CMMSHeader& h) { EXPECT_EQ(h.contentType, 0); }},
      {"a field code inside an application header is a field code",
       B({0x8C, 0x80, "X-Note", 0, "v", 0x8F, 0x82, 0, kEnd}), 15,
       [](const CMMSHeader& h) { EXPECT_EQ(h.priority, 0x82); }},
      {"A8, AE and B0 take no value", B({0x8C, 0x80, 0xA8, 0x90, 0x80, 0xAE, 0x91, 0x81, 0xB0, 0x95, 0x82, kEnd}), 13,
       [](const CMMSHeader& h) {
         EXPECT_EQ(h.readReport, 0x80);
         EXPECT_EQ(h.reportAllowed, 0x81);
         EXPECT_EQ(h.status, 0x82);
       }},
      {"stepped-over fields of every kind",
       B({0x8C, 0x80, 0x99, 0x84, 0x9A, "txt", 0, 0x9D, 0x03, 0x84, 0x84, 0x84, 0x9F, 0x02, 0x84, 0x84, 0xA4, 0x1F,
          0x02, 0x84, 0x84, 0xB3, 0x84, 0x8F, 0x81, kEnd}),
       29, [](const CMMSHeader& h) { EXPECT_EQ(h.priority, 0x81); }},
      {"a skipped value running past the end", B({0x8C, 0x80, 0x9D, 0x1F}), kMmsErrBadHeader, nullptr},
      {"one-byte field at the very end", B({0x8C, 0x80, 0x86}), kMmsErrBadHeader, nullptr},
      {"numbers and one-byte fields",
       B({0x8C, 0x84, 0x8D, 0x90, 0x85, 0x04, 0x3E, 0x03, 0x8B, 0x20, 0x8E, 0x02, 0x10, 0x00, 0x86, 0x80, 0x92, 0x80,
          0x94, 0x81, kEnd}),
       22,
       [](const CMMSHeader& h) {
         EXPECT_EQ(h.messageType, 0x84);
         EXPECT_EQ(h.mmsVersion, 0x90);
         EXPECT_EQ(h.date, 0x3E038B20u);
         EXPECT_EQ(h.messageSize, 0x1000u);
         EXPECT_EQ(h.deliveryReport, 0x80);
         EXPECT_EQ(h.responseStatus, 0x80);
         EXPECT_EQ(h.senderVisibility, 0x81);
       }},
      {"byte texts; an empty one is absent",
       B({0x8C, 0x80, 0x98, "T1", 0, 0x8B, 0, 0x83, "http://x/y", 0, 0x93, 0x04, 0xEA, "ok", 0, kEnd}), 28,
       [](const CMMSHeader& h) {
         EXPECT_EQ(h.transactionId, "T1");
         EXPECT_EQ(h.messageId, "");
         EXPECT_EQ(h.contentLocation, "http://x/y");
         EXPECT_EQ(h.responseText, "ok");
       }},
      {"message class code, ignored code, text",
       B({0x8C, 0x80, 0x8A, 0x81, 0x8A, 0x85, kEnd}), 8,
       [](const CMMSHeader& h) {
         EXPECT_EQ(h.messageClassCode, 0x81);
         EXPECT_EQ(h.messageClassText, "");
       }},
      {"message class text clears the code", B({0x8C, 0x80, 0x8A, 0x82, 0x8A, "Personal", 0, kEnd}), 16,
       [](const CMMSHeader& h) {
         EXPECT_EQ(h.messageClassCode, 0);
         EXPECT_EQ(h.messageClassText, "Personal");
       }},
      {"delivery time and expiry", B({0x8C, 0x80, 0x87, 0x05, 0x81, 0x03, 0x01, 0x02, 0x03, 0x88, 0x01, 0x8F, 0x80, kEnd}),
       15,
       [](const CMMSHeader& h) {
         EXPECT_EQ(h.deliveryTimeToken, 0x81);
         EXPECT_EQ(h.deliveryTime, 0x010203u);
         EXPECT_EQ(h.expiryToken, 0);
         EXPECT_EQ(h.priority, 0x80) << "a length of 1 stands alone";
       }},
  };
  for (const auto& r : rows) {
    CMMSHeader header;
    EXPECT_EQ(Parse(r.input, header), r.result) << r.name << "\n" << Hex(r.input);
    if (r.check) {
      SCOPED_TRACE(r.name);
      r.check(header);
    }
  }
  CMMSHeader header;
  EXPECT_EQ(CMMSCodec2::ParseHeader(nullptr, 4, &header), 0);
  EXPECT_EQ(CMMSCodec2::ParseHeader(kEnd.data(), 2, nullptr), 0);
}

TEST(MmsHeader, AddressesAndTexts) {
  const Bytes input = B({0x8C, 0x80,
                         0x97, "+4912/TYPE=PLMN", 0,                 // suffix removed
                         0x97, 0x07, 0xEA, "\xC3\x85sa", 0, 0x00,   // UTF-8 by charset; length bounds the text
                         0x97, "/TYPE=PLMN", 0,                      // empty after the cut: null entry
                         0x97, 0x80, 0x01,                           // no text: no entry
                         0x82, "cc@x", 0, 0x81, "bcc@y/TYPE=PLMN/x", 0,
                         0x96, "a/TYPE=PLMN b", 0,                   // a subject keeps the text
                         0x89, 0x11, 0x80, "+4711/TYPE=PLMN", 0,
                         kEnd});
  CMMSHeader h;
  ASSERT_EQ(Parse(input, h), static_cast<int>(input.size()));
  ASSERT_EQ(h.to.size(), 3u);
  EXPECT_EQ(U8(*h.to[0]), "+4912");
  EXPECT_EQ(U8(*h.to[1]), "\xC3\x85sa");
  EXPECT_FALSE(h.to[2].has_value());
  ASSERT_EQ(h.cc.size(), 1u);
  EXPECT_EQ(U8(*h.cc[0]), "cc@x");
  ASSERT_EQ(h.bcc.size(), 1u);
  EXPECT_EQ(U8(*h.bcc[0]), "bcc@y");
  EXPECT_EQ(U8(h.subject), "a/TYPE=PLMN b");
  EXPECT_EQ(U8(h.from), "+4711");

  int index = 0;
  std::vector<std::string> walked;
  while (const MmsAddress* entry = h.GetNextTo(index)) walked.push_back(entry->has_value() ? U8(**entry) : "(null)");
  EXPECT_EQ(index, -1);
  EXPECT_EQ(walked, (std::vector<std::string>{"+4912", "\xC3\x85sa", "(null)"}));
}

TEST(MmsHeader, FromForms) {
  struct Row {
    const char* name;
    Bytes field;
    std::string from;
    bool ok;
  } rows[] = {
      {"insert-address token clears", B({0x89, 0x01, 0x81}), "", true},
      {"address present", B({0x89, 0x06, 0x80, "+123", 0}), "+123", true},
      {"quoted length", B({0x89, 0x1F, 0x1F, 0x80, "12345678901234567890123456789", 0}),
       "12345678901234567890123456789", true},
      {"charset inside is skipped, text read as UTF-8", B({0x89, 0x07, 0x80, 0x05, 0x84, "\xC3\xA5x", 0}),
       "\xC3\xA5x", true},
      {"length 0 consumes one byte", B({0x89, 0x00}), "", true},
      {"length past the end", B({0x89, 0x1E, 0x80, "a", 0}), "", false},
  };
  for (const auto& r : rows) {
    // A From already there must be replaced or cleared.
    CMMSHeader h;
    h.from = u"old";
    Bytes input = B({0x8C, 0x80, r.field});
    if (r.ok) input = B({input, kEnd});
    const int result = Parse(input, h);
    if (!r.ok) {
      EXPECT_EQ(result, kMmsErrBadHeader) << r.name;
      continue;
    }
    EXPECT_EQ(result, static_cast<int>(input.size())) << r.name;
    EXPECT_EQ(U8(h.from), r.name == std::string("length 0 consumes one byte") ? "old" : r.from) << r.name;
  }
}

struct PartRow {
  const char* name;
  Bytes headers;
  int code;
  std::string location;
  std::string typeText;
  UINT codePage;
  std::string contentId;
  bool mismatchTrace;
};

TEST(MmsMultipart, EntryHeaders) {
  const std::vector<PartRow> rows = {
      {"short type, Content-Location", B({0x83, 0x8E, "a.txt", 0}), 0x03, "a.txt", "", 0, "", false},
      {"short type, Content-ID only gives the location too", B({0x9D, 0xC0, 0x22, "<a.gif>", 0}), 0x1D, "a.gif", "",
       0, "a.gif", false},
      {"short type, charset, Content-ID and Content-Location in any order",
       B({0x83, 0x81, 0xEA, 0xC0, 0x22, "1259430.txt", 0, 0x8E, "1259430.txt", 0}), 0x03, "1259430.txt", "", 65001,
       "1259430.txt", false},
      {"general form, charset and Name", B({0x0C, 0x83, 0x85, "mms.txt", 0, 0x81, 0xEA}), 0x03, "mms.txt", "", 65001, "",
       false},
      {"general form, known type text", B({0x11, "application/smil", 0, 0xC0, 0x22, "<AAAA>", 0}), 0x7D, "", "", 0,
       "AAAA", false},
      {"general form, unknown type text kept", B({0x0A, "audio/amr", 0, 0x8E, "x.amr", 0}), 0x00, "x.amr", "audio/amr",
       0, "", false},
      {"bare type text without length", B({"audio/amr", 0, 0x8E, "\"<y.amr>\"", 0}), 0x00, "y.amr", "audio/amr", 0, "",
       false},
      {"Content-Location wins over Name", B({0x08, 0x9E, 0x85, "n.jpg", 0, 0x8E, "l.jpg", 0}), 0x1E, "l.jpg", "", 0, "",
       false},
      {"untyped name parameter", B({0x1D, "image/jpeg", 0, "name", 0, "gnu-head.jpg", 0, 0xC0, 0x22, "<i>", 0}), 0x1E,
       "gnu-head.jpg", "", 0, "i", false},
      {"location that is only a quote is absent", B({0x83, 0x8E, "\"", 0}), 0x03, "", "", 0, "", false},
      {"unknown header after Name: trace, data still right",
       B({0x0F, 0x9E, 0x85, "IMG_6807.jpg", 0, 0xAE, 0x0F, 0x81, 0x86, "IMG_6807.jpg", 0}), 0x1E, "IMG_6807.jpg", "",
       0, "", true},
      {"unknown parameter inside the content type", B({0x07, 0x9E, 0x99, 0x01, 0x02, 0x03, 0x04, 0x05, 0x8E, "k.jpg", 0}),
       0x1E, "k.jpg", "", 0, "", true},
      {"Name text running past the header area ends there", B({0x83, 0x85, "abc"}), 0x03, "abc", "", 0, "", false},
      {"charset cut by the header area", B({0x83, 0x81, 0x02, 0x03}), 0x03, "", "", 0, "", true},
  };
  const Bytes data = B({"DATA", 0, "x"});
  for (const auto& r : rows) {
    TraceCapture trace;
    const Bytes entry = B({Entry(r.headers, data), 0xEE, 0xEE});
    CMultipartFile part;
    const int result = CMMSCodec2::ReadMultipartFile(entry.data(), entry.size(), &part);
    EXPECT_EQ(result, static_cast<int>(entry.size()) - 2) << r.name;
    EXPECT_EQ(part.contentType, r.code) << r.name;
    EXPECT_EQ(part.location, r.location) << r.name;
    EXPECT_EQ(part.typeText, r.typeText) << r.name;
    EXPECT_EQ(part.charsetCodePage, r.codePage) << r.name;
    EXPECT_EQ(part.contentId, r.contentId) << r.name;
    EXPECT_EQ(part.data, data) << r.name;
    EXPECT_EQ(trace.Has("Adjusting to the declared start of multipart file data!\n"), r.mismatchTrace) << r.name;
    if (r.mismatchTrace) {
      EXPECT_TRUE(trace.Has("CMMSCodec2::ReadMultipartFile: Length mismatch after parsing multipart header:\n"));
      EXPECT_TRUE(trace.Has("Header length + length encoding: " + std::to_string(r.headers.size() + 2) + "\n"));
    }
  }
}

TEST(MmsMultipart, RefusedEntries) {
  struct Row {
    const char* name;
    Bytes entry;
    const char* trace;
  } rows[] = {
      {"header length 0", B({0x00, 0x02, 'a', 'b'}), "Header length: 0\n"},
      {"declared lengths past the data", B({0x02, 0x05, 0x83, 0x8E, 'a'}), "Buffer size: 5\n"},
      {"uintvar cut", B({0x83}), "CMMSCodec2::ReadMultipartFile: Buffer length mismatch:\n"},
      {"content type longer than the header area", B({0x02, 0x01, 0x05, 0x83, 'x'}), "Content type length:5\n"},
  };
  for (const auto& r : rows) {
    TraceCapture trace;
    CMultipartFile part;
    EXPECT_EQ(CMMSCodec2::ReadMultipartFile(r.entry.data(), r.entry.size(), &part), kMmsErrLengthMismatch) << r.name;
    EXPECT_TRUE(trace.Has(r.trace)) << r.name;
  }
}

TEST(MmsMultipart, Bodies) {
  const Bytes one = Entry(B({0x83, 0x8E, "1.txt", 0}), B({"one"}));
  const Bytes two = Entry(B({0x9E, 0x8E, "2.jpg", 0}), B({0xFF, 0xD8}));
  const Bytes bad = B({0x00, 0x02, 'a', 'b'});  // no headers
  const Bytes empty = Entry(B({0x83, 0x8E, "e.txt", 0}), {});
  struct Row {
    const char* name;
    Bytes body;
    int result;
    std::size_t parts;
  } rows[] = {
      {"count 3, data for 2", B({0x03, one, two}), static_cast<int>(1 + one.size() + two.size()), 2},
      {"count reached before the end", B({0x01, one, two}), static_cast<int>(1 + one.size()), 1},
      {"count 0", B({0x00, one}), 1, 0},
      {"an entry without data is an empty part", B({0x02, empty, one}), static_cast<int>(1 + empty.size() + one.size()),
       2},
      {"a refused entry ends the body; earlier parts stay", B({0x03, one, bad, two}), kMmsErrLengthMismatch, 1},
      {"count cut", B({0x81}), 0, 0},
  };
  for (const auto& r : rows) {
    TraceCapture trace;
    CMultipartContainer container;
    container.Add(std::make_unique<CMultipartFile>());  // cleared first
    EXPECT_EQ(CMMSCodec2::ParseMultipartFiles(r.body.data(), r.body.size(), &container), r.result) << r.name;
    EXPECT_EQ(container.Count(), r.parts) << r.name;
    if (r.result == kMmsErrLengthMismatch) {
      EXPECT_TRUE(trace.Has("CMMSCodec2::ParseMultipartFiles: Failed to read multipart file!\n")) << r.name;
    }
  }
  TraceCapture trace;
  CMultipartContainer container;
  const Bytes body = B({0x02, one, two});
  ASSERT_GT(CMMSCodec2::ParseMultipartFiles(body.data(), body.size(), &container), 0);
  EXPECT_TRUE(trace.Has("CMMSCodec2::ParseMultipartFiles: Number of multipart files:2\n"));
  int index = 0;
  std::vector<std::string> names;
  while (CMultipartFile* part = container.GetNext(index)) names.push_back(part->location);
  EXPECT_EQ(index, -1);
  EXPECT_EQ(names, (std::vector<std::string>{"1.txt", "2.jpg"}));
  EXPECT_EQ(CMMSCodec2::ParseMultipartFiles(nullptr, 3, &container), 0);
}

TEST(MmsMessageFile, ReturnCodes) {
  TempDir dir;
  const Bytes header = B({0x8C, 0x80, 0x98, "T", 0, 0x8D, 0x90, 0x84, 0xA3});
  const Bytes body = B({0x02, Entry(B({0x83, 0x8E, "a.txt", 0}), B({"hello"})), 0x00, 0x02, 'a', 'b'});
  WriteBytes(dir.File("empty.mms"), {});
  WriteBytes(dir.File("bad.mms"), B({0x8D, 0x90}));
  WriteBytes(dir.File("headeronly.mms"), header);
  WriteBytes(dir.File("badbody.mms"), B({header, body}));
  WriteBytes(dir.File("good.mms"), B({header, 0x01, Entry(B({0x83, 0x8E, "a.txt", 0}), B({"hello"}))}));
  struct Row {
    const char* name;
    std::u16string path;
    int result;
    std::size_t parts;
  } rows[] = {
      {"empty path", u"", kMmsErrEmptyPath, 0},
      {"missing file", dir.WFile("missing.mms"), kMmsErrOpenFailed, 0},
      {"a folder", U16(dir.path().string()), kMmsErrOpenFailed, 0},
      {"empty file", dir.WFile("empty.mms"), kMmsErrEmptyFile, 0},
      {"not a message", dir.WFile("bad.mms"), kMmsErrBadHeader, 0},
      {"header only", dir.WFile("headeronly.mms"), 0, 0},
      {"body error passes up, parts before it stay", dir.WFile("badbody.mms"), kMmsErrLengthMismatch, 1},
      {"good", dir.WFile("good.mms"), 0, 1},
  };
  for (const auto& r : rows) {
    TraceCapture trace;
    CMMSCodec2 codec;
    EXPECT_EQ(codec.ParseMmsMessage(r.path), r.result) << r.name;
    EXPECT_EQ(codec.GetContainer()->Count(), r.parts) << r.name;
    if (r.result == 0 || r.result == kMmsErrLengthMismatch) {
      EXPECT_EQ(codec.GetHeader()->transactionId, "T") << r.name;
      EXPECT_TRUE(trace.Has("CMMSCodec2::ParseMmsMessage: Header parsing ok. Next; multipart files.\n")) << r.name;
    }
  }
  CMMSCodec2 codec;
  EXPECT_EQ(codec.ParseMmsMessage(nullptr), kMmsErrEmptyPath);
}

TEST(MmsPart, SmilNormalisation) {
  struct Row {
    const char* name;
    std::string input;
    std::string expected;
  } rows[] = {
      {"one line", "<smil><body/></smil>", "<smil>\r\n<body/>\r\n</smil>\r\n"},
      {"already one element per line", "<smil>\r\n<body/>\r\n</smil>\r\n", "<smil>\r\n<body/>\r\n</smil>\r\n"},
      {"LF only", "<smil>\n<body/>\n</smil>", "<smil>\r\n\n<body/>\r\n\n</smil>\r\n"},
      {"a > before a lone CR is left", "<smil>\r<a/></smil>", "<smil>\r<a/>\r\n</smil>\r\n"},
      {"not SMIL", "<html><body/></html>", "<html><body/></html>"},
      {"a zero byte ends the text", std::string("<smil><a/>\0<b/>", 15), "<smil>\r\n<a/>\r\n"},
      {"SMIL only after a zero byte is not looked at", std::string("x\0<smil><a/>", 12),
       std::string("x\0<smil><a/>", 12)},
  };
  for (const auto& r : rows) {
    CMultipartFile part;
    part.data.assign(r.input.begin(), r.input.end());
    part.NormalizeSmil();
    EXPECT_EQ(std::string(part.data.begin(), part.data.end()), r.expected) << r.name;
  }
}

TEST(MmsPart, WriteToFile) {
  TempDir dir;
  CMultipartFile part;
  EXPECT_FALSE(part.WriteToFile(dir.WFile("none.bin").c_str())) << "no data";
  part.data = B({"new", 0, "content"});
  EXPECT_FALSE(part.WriteToFile(nullptr));
  WriteBytes(dir.File("old.bin"), B({"a much longer old content that must not survive"}));
  ASSERT_TRUE(part.WriteToFile(dir.WFile("old.bin").c_str()));
  EXPECT_EQ(ReadBytes(dir.File("old.bin")), part.data);
  EXPECT_FALSE(part.WriteToFile(dir.WFile("missing/x.bin").c_str()));
  std::size_t entries = 0;
  for (const auto& e : fs::directory_iterator(dir.path())) {
    (void)e;
    ++entries;
  }
  EXPECT_EQ(entries, 1u) << "no temporary file stays behind";
}

TEST(MmsPart, SafeFileNames) {
  TempDir dir;
  CMultipartFile jpeg;
  jpeg.contentType = 0x1E;
  CMultipartFile amr;
  amr.typeText = "audio/AMR";
  CMultipartFile unknown;
  unknown.typeText = "x/y";
  struct Row {
    const char* name;
    std::u16string input;
    const CMultipartFile* part;
    std::u16string expected;
  } rows[] = {
      {"plain", u"photo.jpg", &jpeg, u"photo.jpg"},
      {"parent folder", u"../x", &jpeg, u"x"},
      {"absolute", u"/etc/x", &jpeg, u"x"},
      {"backslash", u"a\\b", &jpeg, u"b"},
      {"drive", u"C:evil.jpg", &jpeg, u"evil.jpg"},
      {"dot dot", u"..", &jpeg, u"part3.jpeg"},
      {"dot", u".", &jpeg, u"part3.jpeg"},
      {"ends in a separator", u"dir/", &jpeg, u"part3.jpeg"},
      {"empty", u"", &amr, u"part3.amr"},
      {"control character", u"a\nb", &unknown, u"part3"},
      {"overlong", std::u16string(300, u'a'), &jpeg, u"part3.jpeg"},
  };
  for (const auto& r : rows) {
    const std::u16string name = vel::mms::MakeSafePartFileName(r.input, 3, *r.part);
    EXPECT_EQ(U8(name), U8(r.expected)) << r.name;
    // Joined to the folder, the name stays a child of it.
    const fs::path joined = fs::path(dir.path()) / U8(name);
    EXPECT_EQ(joined.lexically_normal().parent_path(), fs::path(dir.path())) << r.name;
  }
}

}  // namespace
