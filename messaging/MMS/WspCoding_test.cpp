#include "messaging/MMS/WspCoding.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "ylib/YUtf8.h"

namespace {

using namespace vel::wsp;
using vel::ByteReader;
using vel::ByteWriter;

using Bytes = std::vector<std::uint8_t>;

struct NumberRow {
  const char* name;
  Bytes input;
  bool ok;
  std::uint32_t value;
  std::size_t consumed;
};

void CheckNumbers(const std::vector<NumberRow>& rows, bool (*decode)(ByteReader&, std::uint32_t&)) {
  for (const auto& r : rows) {
    ByteReader in(r.input);
    std::uint32_t value = 0xDEAD;
    EXPECT_EQ(decode(in, value), r.ok) << r.name;
    if (r.ok) {
      EXPECT_EQ(value, r.value) << r.name;
      EXPECT_EQ(in.position(), r.consumed) << r.name;
    } else {
      EXPECT_EQ(in.position(), 0u) << r.name << ": a failed decode consumes nothing";
      EXPECT_TRUE(in.ok()) << r.name << ": and leaves the reader usable";
    }
  }
}

TEST(WspPrimitives, Uintvar) {
  CheckNumbers({{"zero", {0x00}, true, 0, 1},
                {"one byte max", {0x7F, 0x55}, true, 127, 1},
                {"two bytes", {0x81, 0x00}, true, 128, 2},
                {"32 bits", {0x8F, 0xFF, 0xFF, 0xFF, 0x7F}, true, 0xFFFFFFFF, 5},
                {"more than 32 bits saturate", {0x81, 0x80, 0x80, 0x80, 0x80, 0x00}, true, 0xFFFFFFFF, 6},
                {"long run of zero groups", {0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x81, 0x01}, true, 129, 8},
                {"continuation at the end", {0x81, 0x82}, false, 0, 0},
                {"empty", {}, false, 0, 0}},
               GetUintvar);
}

TEST(WspPrimitives, IntegerValue) {
  CheckNumbers({{"short integer", {0x85}, true, 5, 1},
                {"length 0", {0x00, 0x99}, true, 0, 1},
                {"one byte", {0x01, 0xFF}, true, 255, 2},
                {"four bytes", {0x04, 0x01, 0x02, 0x03, 0x04}, true, 0x01020304, 5},
                {"five bytes are skipped as 0", {0x05, 1, 2, 3, 4, 5}, true, 0, 6},
                {"length past the end", {0x02, 0x01}, false, 0, 0},
                {"empty", {}, false, 0, 0}},
               GetIntegerValue);
}

TEST(WspPrimitives, ValueLength) {
  CheckNumbers({{"short", {0x1E}, true, 30, 1},
                {"quoted", {0x1F, 0x81, 0x00}, true, 128, 3},
                {"32 and above is length 0, nothing consumed", {0x20}, true, 0, 0},
                {"quote with a cut uintvar", {0x1F, 0x81}, false, 0, 0}},
               GetValueLength);
}

TEST(WspPrimitives, TextString) {
  struct Row {
    const char* name;
    std::string input;
    std::string text;
    std::size_t consumed;
  } rows[] = {
      {"terminated", std::string("abc\0x", 5), "abc", 4},
      {"quote dropped", std::string("\x7F\xC4\0", 3), "\xC4", 3},
      {"no terminator ends at the boundary", "abc", "abc", 3},
      {"empty text", std::string("\0z", 2), "", 1},
  };
  for (const auto& r : rows) {
    ByteReader in(std::span(reinterpret_cast<const std::uint8_t*>(r.input.data()), r.input.size()));
    std::string text;
    ASSERT_TRUE(GetTextString(in, text)) << r.name;
    EXPECT_EQ(text, r.text) << r.name;
    EXPECT_EQ(in.position(), r.consumed) << r.name;
  }
}

TEST(WspPrimitives, EncodedString) {
  struct Row {
    const char* name;
    Bytes input;
    bool ok;
    bool hasText;
    std::uint32_t charset;
    std::string bytes;
    std::size_t consumed;
  } rows[] = {
      {"value-length form", {0x05, 0xEA, 'a', 'b', 0x00, 0x00, 0x99}, true, true, 106, "ab", 6},
      {"text stops at zero inside the length", {0x05, 0xEA, 'a', 0x00, 'b', 0x99, 0x99}, true, true, 106, "a", 6},
      {"length 0 (quoted) carries no text", {0x1F, 0x00, 0x99}, true, false, 0, "", 2},
      {"plain text", {'h', 'i', 0x00, 0x99}, true, true, 0, "hi", 3},
      {"no-text form runs to the first byte below 0x80", {0x80, 0x90, 0x10, 0x99}, true, false, 0, "", 3},
      {"zero byte", {0x00, 0x99}, true, false, 0, "", 1},
      {"declared length past the end", {0x09, 0xEA, 'a'}, false, false, 0, "", 0},
  };
  for (const auto& r : rows) {
    ByteReader in(r.input);
    EncodedString value;
    EXPECT_EQ(GetEncodedString(in, value), r.ok) << r.name;
    EXPECT_EQ(value.hasText, r.hasText) << r.name;
    EXPECT_EQ(value.bytes, r.bytes) << r.name;
    if (value.hasCharset) {
      EXPECT_EQ(value.charset, r.charset) << r.name;
    }
    EXPECT_EQ(in.position(), r.consumed) << r.name;
    EXPECT_TRUE(in.ok()) << r.name;
  }
}

TEST(WspPrimitives, Encoders) {
  struct Row {
    const char* name;
    std::function<void(ByteWriter&)> put;
    Bytes expected;
  } rows[] = {
      {"uintvar 0", [](ByteWriter& o) { PutUintvar(o, 0); }, {0x00}},
      {"uintvar 127", [](ByteWriter& o) { PutUintvar(o, 127); }, {0x7F}},
      {"uintvar 128", [](ByteWriter& o) { PutUintvar(o, 128); }, {0x81, 0x00}},
      {"uintvar max", [](ByteWriter& o) { PutUintvar(o, 0xFFFFFFFF); }, {0x8F, 0xFF, 0xFF, 0xFF, 0x7F}},
      {"long 0", [](ByteWriter& o) { PutLongInteger(o, 0); }, {0x01, 0x00}},
      {"long 255", [](ByteWriter& o) { PutLongInteger(o, 255); }, {0x01, 0xFF}},
      {"long 256", [](ByteWriter& o) { PutLongInteger(o, 256); }, {0x02, 0x01, 0x00}},
      {"long 3 bytes", [](ByteWriter& o) { PutLongInteger(o, 0xFFFFFF); }, {0x03, 0xFF, 0xFF, 0xFF}},
      {"long 4 bytes", [](ByteWriter& o) { PutLongInteger(o, 0x1000000); }, {0x04, 0x01, 0x00, 0x00, 0x00}},
      {"value-length 30", [](ByteWriter& o) { PutValueLength(o, 30); }, {0x1E}},
      {"value-length 31", [](ByteWriter& o) { PutValueLength(o, 31); }, {0x1F, 0x1F}},
      {"value-length 200", [](ByteWriter& o) { PutValueLength(o, 200); }, {0x1F, 0x81, 0x48}},
      {"text", [](ByteWriter& o) { PutTextString(o, "ab"); }, {'a', 'b', 0x00}},
      {"text with a high first byte is quoted", [](ByteWriter& o) { PutTextString(o, "\xC5sa"); },
       {0x7F, 0xC5, 's', 'a', 0x00}},
  };
  for (const auto& r : rows) {
    Bytes out;
    ByteWriter writer(out);
    r.put(writer);
    EXPECT_EQ(out, r.expected) << r.name;
  }
  // What the encoders write, the decoders read back.
  for (std::uint32_t v : {0u, 1u, 127u, 128u, 16383u, 16384u, 0x1FFFFFu, 0x200000u, 0xFFFFFFFFu}) {
    Bytes out;
    ByteWriter writer(out);
    PutUintvar(writer, v);
    PutLongInteger(writer, v);
    ByteReader in(out);
    std::uint32_t a = 0, b = 0;
    ASSERT_TRUE(GetUintvar(in, a) && GetIntegerValue(in, b)) << v;
    EXPECT_EQ(a, v);
    EXPECT_EQ(b, v);
    EXPECT_TRUE(in.empty());
  }
}

TEST(WspCharsets, CodePages) {
  struct Row {
    std::uint32_t mib;
    UINT page;
    bool known;
  } rows[] = {{3, 0, true},        {4, 28591, true},  {12, 28599, true}, {17, 932, true},
              {106, 65001, true},  {128, 0, true},    {1000, 1200, true}, {2026, 10002, true},
              {13, 0, false},      {0, 0, false},     {2, 0, false}};
  for (const auto& r : rows) {
    UINT page = 12345;
    EXPECT_EQ(CharsetToCodePage(r.mib, page), r.known) << r.mib;
    EXPECT_EQ(page, r.page) << r.mib;
  }
}

TEST(WspCharsets, TextConversion) {
  EXPECT_EQ(YUtf16ToUtf8(BytesToWide("\xC3\x85sa", 65001)), "\xC3\x85sa");
  EXPECT_EQ(YUtf16ToUtf8(BytesToWide("\xC4", 28591)), "\xC3\x84");
  EXPECT_EQ(YUtf16ToUtf8(BytesToWide("\xC4", 28597)), "\xCE\x94") << "ISO-8859-7 reads Greek";
  EXPECT_EQ(YUtf16ToUtf8(BytesToWide("\xA4\xA4", 10002)), "\xE4\xB8\xAD") << "Big5";
  EXPECT_EQ(YUtf16ToUtf8(BytesToWide("\x82\xA0", 932)), "\xE3\x81\x82") << "Shift_JIS";
  EXPECT_EQ(BytesToWide("", 65001), u"");
}

TEST(WspContentTypes, TableShape) {
  ASSERT_EQ(kWspContentTypes.size(), 73u);
  // Codes 0x00..0x45 in order with one second row for 0x26, then the two of our own.
  std::uint8_t expected = 0;
  for (std::size_t i = 0; i < 71; ++i) {
    EXPECT_EQ(kWspContentTypes[i].code, expected) << "row " << i;
    if (i != 38) ++expected;
  }
  EXPECT_STREQ(kWspContentTypes[38].mimeType, "x-wap.multipart/alternative");
  EXPECT_STREQ(kWspContentTypes[39].mimeType, "application/vnd.wap.multipart.alternative");
  EXPECT_EQ(kWspContentTypes[71].code, 0x7E);
  EXPECT_EQ(kWspContentTypes[72].code, 0x7D);
  EXPECT_STREQ(kWspContentTypes[0x33 + 1].mimeType, "application/vnd.wap.multipart.related");
}

TEST(WspContentTypes, Lookups) {
  EXPECT_EQ(ContentTypeFromText("IMAGE/JPEG"), 0x1E);
  EXPECT_EQ(ContentTypeFromText("application/vnd.wap.multipart.alternative"), 0x26);
  EXPECT_EQ(ContentTypeFromText("application/smil"), 0x7D);
  EXPECT_EQ(ContentTypeFromText("image/jpe"), std::nullopt) << "the whole text must match";
  EXPECT_EQ(ContentTypeFromText("audio/amr"), std::nullopt);
  EXPECT_STREQ(ContentTypeToText(0x26), "x-wap.multipart/alternative") << "first row wins";
  EXPECT_STREQ(ContentTypeToText(0x7E), "audio/x-wav");
  EXPECT_EQ(ContentTypeToText(0x50), nullptr);
  EXPECT_EQ(ContentTypeFromExtension(u"JPG"), 0x1E);
  EXPECT_EQ(ContentTypeFromExtension(u"jpe"), 0x1E);
  EXPECT_EQ(ContentTypeFromExtension(u"smi"), 0x7D);
  EXPECT_EQ(ContentTypeFromExtension(u"wav"), 0x7E);
  EXPECT_EQ(ContentTypeFromExtension(u"3gp"), std::nullopt);
  EXPECT_EQ(ContentTypeFromExtension(u""), std::nullopt);
  EXPECT_EQ(ContentTypeFirstExtension(0x1E), "jpeg");
  EXPECT_EQ(ContentTypeFirstExtension(0x0C), "");
}

}  // namespace
