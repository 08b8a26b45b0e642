#include "contract/PictureBody.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/text.h"

namespace {

using vel::wma::DecodePictureBody;
using vel::wma::EncodePictureBody;
using Bytes = std::vector<std::uint8_t>;

// Bytes of an 8-bit text, without terminator.
Bytes Ascii(std::string_view text) { return Bytes(text.begin(), text.end()); }

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

const Bytes kData = {0xFF, 0xD8, 0xFF, 0x00, 0x42};

TEST(PictureBody, EncodesTheAttachedPictureLayout) {
  struct Row {
    const char* name;
    std::u16string mime;
    std::uint8_t type;
    std::u16string description;
    Bytes want;
  };
  const Row rows[] = {
      {"Latin text: encoding 0", u"image/jpeg", 3, u"Cover",
       Cat({{0}, Ascii("image/jpeg"), {0, 3}, Ascii("Cover"), {0}, kData})},
      {"empty description: one zero byte", u"image/png", 0, u"", Cat({{0}, Ascii("image/png"), {0, 0}, {0}, kData})},
      {"euro sign: encoding 1 with FF FE", u"image/jpeg", 4, u"5\u20AC",
       Cat({{1}, Ascii("image/jpeg"), {0, 4}, {0xFF, 0xFE, '5', 0, 0xAC, 0x20, 0, 0}, kData})},
      {"Latin-1 stays one byte", u"image/gif", 3, u"\u00E9t\u00E9",
       Cat({{0}, Ascii("image/gif"), {0, 3}, {0xE9, 't', 0xE9, 0}, kData})},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(EncodePictureBody(row.mime, row.type, row.description, kData), row.want) << row.name;
  }
}

TEST(PictureBody, DecodesEveryEncodingItTakes) {
  struct Row {
    const char* name;
    Bytes body;
    std::u16string mime;
    std::uint8_t type;
    std::u16string description;
  };
  const Row rows[] = {
      {"encoding 0", Cat({{0}, Ascii("image/jpeg"), {0, 3}, Ascii("Cover"), {0}, kData}), u"image/jpeg", 3, u"Cover"},
      {"encoding 0, ANSI code page", Cat({{0}, Ascii("image/jpeg"), {0, 3}, {0x80, 0}, kData}), u"image/jpeg", 3,
       u"\u20AC"},
      {"encoding 1, FF FE", Cat({{1}, Ascii("image/png"), {0, 5}, {0xFF, 0xFE, 'A', 0, 0xAC, 0x20, 0, 0}, kData}),
       u"image/png", 5, u"A\u20AC"},
      {"encoding 1, FE FF", Cat({{1}, Ascii("image/png"), {0, 5}, {0xFE, 0xFF, 0, 'A', 0x20, 0xAC, 0, 0}, kData}),
       u"image/png", 5, u"A\u20AC"},
      {"encoding 1, 00 00 is empty", Cat({{1}, Ascii("image/png"), {0, 5}, {0, 0}, kData}), u"image/png", 5, u""},
      {"encoding 2, big-endian without mark", Cat({{2}, Ascii("x"), {0, 7}, {0, 'h', 0, 'i', 0, 0}, kData}), u"x", 7,
       u"hi"},
      {"empty MIME type", Cat({{0}, {0, 3}, {0}, kData}), u"", 3, u""},
  };
  for (const Row& row : rows) {
    const auto fields = DecodePictureBody(row.body);
    ASSERT_TRUE(fields.has_value()) << row.name;
    EXPECT_EQ(vel::ToUtf8(fields->mimeType), vel::ToUtf8(row.mime)) << row.name;
    EXPECT_EQ(fields->pictureType, row.type) << row.name;
    EXPECT_EQ(vel::ToUtf8(fields->description), vel::ToUtf8(row.description)) << row.name;
    EXPECT_EQ(fields->data, kData) << row.name;
  }
}

TEST(PictureBody, RefusesMalformedBodies) {
  struct Row {
    const char* name;
    Bytes body;
  };
  const Row rows[] = {
      {"empty", {}},
      {"UTF-8 (encoding 3)", Cat({{3}, Ascii("image/png"), {0, 3}, Ascii("x"), {0}, kData})},
      {"unknown encoding", Cat({{9}, Ascii("image/png"), {0, 3}, {0}, kData})},
      {"MIME type without terminator", Cat({{0}, Ascii("image/png")})},
      {"no picture type", Cat({{0}, Ascii("image/png"), {0}})},
      {"encoding 0 description without terminator", Cat({{0}, Ascii("m"), {0, 3}, Ascii("abc")})},
      {"encoding 1 without room for a mark", Cat({{1}, Ascii("m"), {0, 3}, {0xFF}})},
      {"encoding 1 with another mark", Cat({{1}, Ascii("m"), {0, 3}, {0x41, 0x00, 0, 0}})},
      {"encoding 1 text without terminator", Cat({{1}, Ascii("m"), {0, 3}, {0xFF, 0xFE, 'a', 0, 'b', 0}})},
      {"encoding 1 text ending in a half unit", Cat({{1}, Ascii("m"), {0, 3}, {0xFF, 0xFE, 'a', 0, 0}})},
      {"encoding 2 text without terminator", Cat({{2}, Ascii("m"), {0, 3}, {0, 'a'}})},
  };
  for (const Row& row : rows) EXPECT_FALSE(DecodePictureBody(row.body).has_value()) << row.name;
}

TEST(PictureBody, RoundTripsAndEveryPrefixEndsCleanly) {
  const Bytes image(70000, 0x5A);  // beyond 16 bits of length
  for (const std::u16string& description : {std::u16string(u"Front"), std::u16string(u"\u4E2D\u6587")}) {
    const Bytes body = EncodePictureBody(u"image/jpeg", 3, description, image);
    const auto fields = DecodePictureBody(body);
    ASSERT_TRUE(fields.has_value());
    EXPECT_EQ(fields->description, description);
    EXPECT_EQ(fields->data.size(), image.size()) << "a picture keeps its whole length";
  }
  const Bytes small = EncodePictureBody(u"image/png", 3, u"\u20ACuro", kData);
  const std::size_t fixedEnd = small.size() - kData.size();
  for (std::size_t n = 0; n <= small.size(); ++n) {
    const auto fields = DecodePictureBody(std::span<const std::uint8_t>(small.data(), n));
    // Shorter than the fixed fields: refused; otherwise the data is what is left.
    if (n < fixedEnd) {
      EXPECT_FALSE(fields.has_value()) << "prefix " << n;
    } else {
      ASSERT_TRUE(fields.has_value()) << "prefix " << n;
      EXPECT_EQ(fields->data.size(), n - fixedEnd) << "prefix " << n;
    }
  }
}

TEST(PictureBody, ReadsUtf16UpToTheFirstZeroUnitWithinTheBytes) {
  struct Row {
    const char* name;
    Bytes bytes;
    bool bigEndian;
    std::u16string want;
    std::size_t count;
  };
  const Row rows[] = {
      {"big-endian, terminated", {0, 'a', 0x20, 0xAC, 0, 0, 0, 'z'}, true, u"a\u20AC", 4},
      {"little-endian, terminated", {'a', 0, 0, 0}, false, u"a", 2},
      {"odd length stops before the half unit", {0, 'a', 0}, true, u"a", 2},
      {"no terminator: to the end", {0, 'a', 0, 'b'}, true, u"ab", 4},
      {"empty", {}, true, u"", 0},
  };
  for (const Row& row : rows) {
    std::size_t count = 99;
    EXPECT_EQ(vel::wma::ReadUtf16Text(row.bytes, row.bigEndian, count), row.want) << row.name;
    EXPECT_EQ(count, row.count) << row.name;
  }
}

}  // namespace
