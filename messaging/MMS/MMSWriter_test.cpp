#include "messaging/MMS/MMSWriter.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "messaging/MMS/MMSCodec2.h"
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

const Bytes kContentType = B({0x84, 0x1F, 0x1F, 0xB3, 0x8A, "<1a2b3c4d>", 0, 0x89, "application/smil", 0});

TEST(MmsWriter, ExtensionToContentType) {
  struct Row {
    const char* name;
    const char16_t* path;
    int result;
  } rows[] = {
      {"null", nullptr, kMmsWriterNoPath},
      {"empty", u"", kMmsWriterNoPath},
      {"no dot", u"/home/u/README", kMmsWriterOk},
      {"upper case TXT", u"/m/a.TXT", 0x03},
      {"jpe", u"x.jpe", 0x1E},
      {"3gp has no row", u"clip.3gp", 0x00},
      {"smi", u"p.smi", 0x7D},
      {"wav", u"s.WAV", 0x7E},
      {"dot in a folder only", u"/a.d/file", 0x00},
      {"31 characters", u"a.abcdefghijklmnopqrstuvwxyz01234", 0x00},
      {"32 characters", u"a.abcdefghijklmnopqrstuvwxyz012345", kMmsWriterExtensionTooLong},
  };
  for (const auto& r : rows) EXPECT_EQ(CMMSWriter::ExtensionToContentType(r.path), r.result) << r.name;
}

TEST(MmsWriter, TextLimit) {
  CMMSWriter w;
  w.SetMessageType(0x80);
  EXPECT_EQ(w.SetTransactionId("keep"), kMmsWriterOk);
  EXPECT_EQ(w.SetTransactionId(std::string(256, 'x')), kMmsWriterTextTooLong);
  EXPECT_EQ(w.SetSubject(std::string(255, 's')), kMmsWriterOk);
  for (auto set : {&CMMSWriter::SetFrom, &CMMSWriter::SetTo, &CMMSWriter::SetCc, &CMMSWriter::SetBcc,
                   &CMMSWriter::SetSubject}) {
    EXPECT_EQ((w.*set)(std::string(300, 'y')), kMmsWriterTextTooLong);
  }
  EXPECT_EQ(w.SetMessageClass(std::string(256, 'c')), kMmsWriterTextTooLong);
  CMMSHeader h;
  const Bytes header = w.EncodeHeader();
  ASSERT_GT(CMMSCodec2::ParseHeader(header.data(), header.size(), &h), 0);
  EXPECT_EQ(h.transactionId, "keep");
  EXPECT_EQ(U8(h.subject), std::string(255, 's'));
  EXPECT_EQ(h.from, u"");
  EXPECT_TRUE(h.to.empty());
}

TEST(MmsWriter, HeaderBytes) {
  struct Row {
    const char* name;
    std::function<void(CMMSWriter&)> fill;
    Bytes expected;
  } rows[] = {
      {"plugin's minimum", [](CMMSWriter& w) { w.SetTransactionId("Daylume"); },
       B({0x8C, 0x80, 0x98, "Daylume", 0, 0x8D, 0x90, 0x89, 0x01, 0x81, kContentType})},
      {"From of 28 bytes: one length byte",
       [](CMMSWriter& w) { w.SetFrom(std::string(28, 'f')); },
       B({0x8C, 0x80, 0x8D, 0x90, 0x89, 0x1E, 0x80, std::string(28, 'f').c_str(), 0, kContentType})},
      {"From of 29 bytes: length quote",
       [](CMMSWriter& w) { w.SetFrom(std::string(29, 'f')); },
       B({0x8C, 0x80, 0x8D, 0x90, 0x89, 0x1F, 0x1F, 0x80, std::string(29, 'f').c_str(), 0, kContentType})},
      {"To split at %; empty pieces dropped",
       [](CMMSWriter& w) { w.SetTo("+491%+492%"); },
       B({0x8C, 0x80, 0x8D, 0x90, 0x89, 0x01, 0x81, 0x97, "+491", 0, 0x97, "+492", 0, kContentType})},
      {"To with \"; \" stays one field",
       [](CMMSWriter& w) { w.SetTo("a; b"); },
       B({0x8C, 0x80, 0x8D, 0x90, 0x89, 0x01, 0x81, 0x97, "a; b", 0, kContentType})},
      {"every field, in order",
       [](CMMSWriter& w) {
         w.SetTransactionId("T");
         w.SetDate(0x12345);
         w.SetFrom("me");
         w.SetTo("t1");
         w.SetCc("c1%c2");
         w.SetBcc("b1");
         w.SetSubject("S");
         w.SetMessageClass(std::uint8_t{0x81});
         w.SetDeliveryTime(0x81, 3600);
         w.SetSenderVisibility(0x80);
         w.SetReadReport(0x81);
         w.SetPriority(0x82);
         w.SetExpiry(0x80, 0);
       },
       B({0x8C, 0x80, 0x98, "T", 0, 0x8D, 0x90, 0x85, 0x03, 0x01, 0x23, 0x45, 0x89, 0x04, 0x80, "me", 0, 0x97, "t1", 0,
          0x82, "c1", 0, 0x82, "c2", 0, 0x81, "b1", 0, 0x96, "S", 0, 0x8A, 0x81, 0x87, 0x04, 0x81, 0x02, 0x0E, 0x10,
          0x94, 0x80, 0x90, 0x81, 0x8F, 0x82, 0x88, 0x03, 0x80, 0x01, 0x00, kContentType})},
      {"class text wins over the code; high first bytes are quoted",
       [](CMMSWriter& w) {
         w.SetMessageClass(std::uint8_t{0x80});
         w.SetMessageClass("Personal");
         w.SetSubject("\xC5sa");
       },
       B({0x8C, 0x80, 0x8D, 0x90, 0x89, 0x01, 0x81, 0x96, 0x7F, "\xC5sa", 0, 0x8A, "Personal", 0, kContentType})},
  };
  for (const auto& r : rows) {
    CMMSWriter w;
    w.SetMessageType(0x80);
    r.fill(w);
    EXPECT_EQ(Hex(w.EncodeHeader()), Hex(r.expected)) << r.name;
  }
}

class MmsWriterFiles : public ::testing::Test {
 protected:
  std::u16string Make(const std::string& name, const Bytes& content) {
    WriteBytes(dir.File(name), content);
    return dir.WFile(name);
  }
  TempDir dir;
};

TEST_F(MmsWriterFiles, PartHeadersAndBody) {
  CMMSWriter w;
  w.SetMessageType(0x80);
  ASSERT_EQ(w.AddPart(Make("note.TXT", B({"hi"})).c_str(), 0x03), kMmsWriterOk);
  ASSERT_EQ(w.AddPart(Make("pres.smil", B({"<smil/>"})).c_str(), 0x7D), kMmsWriterOk);
  ASSERT_EQ(w.AddPart(Make("clip.3gp", B({0x00, 0x01})).c_str(), 0x00), kMmsWriterOk);
  EXPECT_EQ(w.AddPart(dir.WFile("missing.jpg").c_str(), 0x1E), kMmsWriterPartNotRead);
  EXPECT_EQ(w.AddPart(Make("empty.jpg", {}).c_str(), 0x1E), kMmsWriterPartNotRead);
  const Bytes expected = B({w.EncodeHeader(), 0x03,
                            Entry(B({0x05, 0x83, 0x81, 0x02, 0x03, 0xE8, 0x8E, "note.TXT", 0}), B({"hi"})),
                            Entry(B({0x13, "application/smil", 0, 0x81, 0x84, 0xC0, 0x22, "pres.smil", 0}), B({"<smil/>"})),
                            Entry(B({0x80, 0x8E, "clip.3gp", 0}), B({0x00, 0x01}))});
  EXPECT_EQ(Hex(w.Encode()), Hex(expected));
  ASSERT_EQ(w.Write(dir.WFile("out.mms").c_str()), kMmsWriterOk);
  EXPECT_EQ(ReadBytes(dir.File("out.mms")), expected);
}

TEST_F(MmsWriterFiles, StatusesAndLimits) {
  CMMSWriter none;
  none.SetMessageType(0x80);
  ASSERT_EQ(none.Write(dir.WFile("header.mms").c_str()), kMmsWriterOk);
  EXPECT_EQ(ReadBytes(dir.File("header.mms")), none.EncodeHeader()) << "no parts: the header alone";
  EXPECT_EQ(none.Write(dir.WFile("no/such/folder/x.mms").c_str()), kMmsWriterCreateFailed);
  EXPECT_EQ(none.Write(nullptr), kMmsWriterCreateFailed);

  CMMSWriter other;
  other.SetMessageType(0x84);
  WriteBytes(dir.File("keep.mms"), B({"old"}));
  EXPECT_EQ(other.Write(dir.WFile("keep.mms").c_str()), kMmsWriterEmptyHeader);
  EXPECT_EQ(ReadBytes(dir.File("keep.mms")), B({"old"})) << "nothing written";

  CMMSWriter full;
  const std::u16string path = Make("p.png", B({0x89}));
  for (std::size_t i = 0; i < kMmsWriterMaxParts; ++i) ASSERT_EQ(full.AddPart(path.c_str(), 0x20), kMmsWriterOk);
  EXPECT_EQ(full.AddPart(path.c_str(), 0x20), kMmsWriterPartNotRead);
  EXPECT_EQ(full.PartCount(), kMmsWriterMaxParts);
}

TEST_F(MmsWriterFiles, ReadsBackThroughTheDecoder) {
  CMMSWriter w;
  w.SetMessageType(0x80);
  w.SetTransactionId("Daylume");
  struct File {
    std::string name;
    Bytes content;
    std::uint8_t code;
  } files[] = {{"a.jpg", B({0xFF, 0xD8, 0xFF}), 0x1E},
               {"\xC3\x84nne.txt", B({"text"}), 0x03},
               {"show.smil", B({"<smil><body/></smil>"}), 0x7D},
               {"v.3gp", Bytes(300, 0x42), 0x00},
               {"s.wav", B({"RIFF"}), 0x7E}};
  for (const auto& f : files) {
    const std::u16string path = Make(f.name, f.content);
    ASSERT_EQ(CMMSWriter::ExtensionToContentType(path.c_str()), f.code) << f.name;
    ASSERT_EQ(w.AddPart(path.c_str(), f.code), kMmsWriterOk) << f.name;
  }
  w.SetTo("+4912%\xC5sa");  // an ANSI text whose first byte is above 0x7F
  w.SetFrom(std::string(40, '7'));
  ASSERT_EQ(w.Write(dir.WFile("round.mms").c_str()), kMmsWriterOk);

  CMMSCodec2 codec;
  ASSERT_EQ(codec.ParseMmsMessage(dir.WFile("round.mms")), 0);
  const CMMSHeader& h = *codec.GetHeader();
  EXPECT_EQ(h.messageType, 0x80);
  EXPECT_EQ(h.mmsVersion, 0x90);
  EXPECT_EQ(h.transactionId, "Daylume");
  EXPECT_EQ(h.contentType, 0xB3);
  EXPECT_EQ(h.start, "<1a2b3c4d>");
  EXPECT_EQ(h.type, "application/smil");
  EXPECT_EQ(U8(h.from), std::string(40, '7'));
  ASSERT_EQ(h.to.size(), 2u);
  EXPECT_EQ(U8(*h.to[0]), "+4912");
  EXPECT_EQ(U8(*h.to[1]), "\xC3\x85sa") << "read back in the ANSI code page";

  const CMultipartContainer& c = *codec.GetContainer();
  ASSERT_EQ(c.Count(), std::size(files));
  for (std::size_t i = 0; i < c.Count(); ++i) {
    const CMultipartFile& part = *c.At(i);
    EXPECT_EQ(part.contentType, files[i].code) << files[i].name;
    EXPECT_EQ(part.data, files[i].content) << files[i].name;
    EXPECT_EQ(part.typeText, "") << files[i].name;
    if (files[i].code == 0x7D) {
      EXPECT_EQ(part.location, "") << "SMIL carries its name only as Content-ID";
      EXPECT_EQ(part.contentId, files[i].name);
      EXPECT_EQ(part.charsetCodePage, 28591u);
    } else {
      EXPECT_EQ(part.location, files[i].code == 0x03 ? std::string("\xC4nne.txt") : files[i].name)
          << "names travel in the ANSI code page";
    }
  }
  EXPECT_EQ(c.At(1)->charsetCodePage, 1200u);
}

}  // namespace
