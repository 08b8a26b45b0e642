// Writing: the frame list's changes, item encodings, and the udta that a
// rewrite puts into the file.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "audio/ByteArray.h"
#include "audio/mp4/ItemCodec.h"
#include "audio/mp4/TagBase.h"
#include "audio/mp4/UserDataWriter.h"
#include "testing/Mp4Builder.h"
#include "testing/TempDir.h"
#include "testing/Tools.h"
#include "ylib/YException.h"

using namespace vel::testing;

namespace {

CTagFrame Frame(std::string name, _variant_t value, int dataType, bool freeform = false) {
  CTagFrame frame;
  frame.name = std::move(name);
  frame.value = std::move(value);
  frame.dataType = dataType;
  frame.freeform = freeform;
  return frame;
}

_variant_t ByteArray(const ByteVec& bytes) { return MakeByteArrayVariant(bytes.data(), bytes.size()); }

TEST(TagWriteTest, EncodingTable) {
  struct Row {
    const char* name;
    CTagFrame frame;
    ByteVec written;
  };
  const ByteVec jpeg = {0xFF, 0xD8, 0xFF, 0xE0};
  const Row rows[] = {
      {"text as UTF-8", Frame("\xA9nam", _variant_t(u"Café"), 1), Item("\xA9nam", 1, Text("Caf\xC3\xA9"))},
      {"empty text: nothing", Frame("\xA9nam", _variant_t(u""), 1), {}},
      {"a number as text", Frame("\xA9" "day", _variant_t(2026, VT_I4), 1), Item("\xA9" "day", 1, Text("2026"))},
      {"gnre from Rock", Frame("gnre", _variant_t(u"Rock"), 0), Item("gnre", 0, U16(18))},
      {"gnre from rock", Frame("gnre", _variant_t(u"rock"), 0), Item("gnre", 0, U16(18))},
      {"gnre from 17", Frame("gnre", _variant_t(u"17"), 0), Item("gnre", 0, U16(18))},
      {"gnre from an unknown name", Frame("gnre", _variant_t(u"Nope"), 0), {}},
      {"trkn VT_I4 5", Frame("trkn", _variant_t(5, VT_I4), 0), Item("trkn", 0, Cat({U32(5), U16(0), U16(0)}))},
      {"trkn VT_INT 5", Frame("trkn", _variant_t(5, VT_INT), 0), Item("trkn", 0, Cat({U32(5), U16(0), U16(0)}))},
      {"trkn 5/12", Frame("trkn", _variant_t(u"5/12"), 0), Item("trkn", 0, Cat({U32(5), U16(12), U16(0)}))},
      {"disk 1", Frame("disk", _variant_t(u"1"), 0), Item("disk", 0, Cat({U32(1), U16(0), U16(0)}))},
      {"trkn negative: nothing", Frame("trkn", _variant_t(-1, VT_I4), 0), {}},
      {"trkn of a double: nothing", Frame("trkn", _variant_t(5.0), 0), {}},
      {"rtng VT_UI4 4", Frame("rtng", _variant_t(4u, VT_UI4), 0), Item("rtng", 0, U16(4))},
      {"rtng text 7", Frame("rtng", _variant_t(u"7"), 0), Item("rtng", 0, U16(7))},
      {"rtng text x: nothing", Frame("rtng", _variant_t(u"x"), 0), {}},
      {"rtng negative: nothing", Frame("rtng", _variant_t(short{-2}), 0), {}},
      {"prot VT_BOOL true", Frame("prot", _variant_t(true), 21), Item("prot", 0, ByteVec{1})},
      {"prot VT_I4 0", Frame("prot", _variant_t(0, VT_I4), 21), Item("prot", 0, ByteVec{0})},
      {"drm VT_INT 3", Frame("\xA9" "drm", _variant_t(3, VT_INT), 21), Item("\xA9" "drm", 0, ByteVec{1})},
      {"drm VT_I2 -1 as read", Frame("\xA9" "drm", _variant_t(short{-1}), 21), Item("\xA9" "drm", 0, ByteVec{1})},
      {"prot text: nothing", Frame("prot", _variant_t(u"yes"), 21), {}},
      {"integer bytes", Frame("xid ", ByteArray({1, 2}), 21), Item("xid ", 21, ByteVec{1, 2})},
      {"covr", Frame("covr", ByteArray(jpeg), 13), Item("covr", 13, jpeg)},
      {"empty covr: nothing", Frame("covr", ByteArray({}), 13), {}},
      {"covr of text: nothing", Frame("covr", _variant_t(u"x"), 13), {}},
      {"bitr: nothing", Frame("bitr", _variant_t(128000, VT_INT), 0), {}},
      {"srate: nothing", Frame("srate", _variant_t(44100, VT_INT), 0), {}},
      {"durn: nothing", Frame("durn", _variant_t(10LL), 64), {}},
      {"freeform", Frame("----note", ByteArray(Text("hi")), 1, true), Freeform("note", 1, Text("hi"))},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ByteVec out;
    CTagBase::EncodeFrame(row.frame, vel::ByteOrder::kBig, out);
    EXPECT_EQ(out, row.written);
  }
  // The sizes the layout fixes.
  ByteVec out;
  CTagBase::EncodeFrame(Frame("trkn", _variant_t(5, VT_I4), 0), vel::ByteOrder::kBig, out);
  EXPECT_EQ(out.size(), 32u);
  out.clear();
  CTagBase::EncodeFrame(Frame("rtng", _variant_t(4u, VT_UI4), 0), vel::ByteOrder::kBig, out);
  EXPECT_EQ(out.size(), 26u);
  out.clear();
  CTagBase::EncodeFrame(Frame("prot", _variant_t(true), 21), vel::ByteOrder::kBig, out);
  EXPECT_EQ(out.size(), 25u);
}

TEST(TagWriteTest, ParseNumberPairTable) {
  struct Row {
    const char16_t* text;
    std::int64_t number;
    std::int64_t total;
  };
  const Row rows[] = {{u"3/12", 3, 12}, {u"7", 7, -1},        {u"3 / 12", 3, -1},           {u"Rock", -1, -1},
                      {u"", -1, -1},    {u"12of15", 12, -1}, {u"4-9", 4, 9},               {u"99999999999/2", -1, 2}};
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.text, row.text + std::char_traits<char16_t>::length(row.text)));
    const auto pair = CTagBase::ParseNumberPair(row.text);
    EXPECT_EQ(pair.number, row.number);
    EXPECT_EQ(pair.total, row.total);
  }
}

TEST(TagWriteTest, PropertyDataTypes) {
  struct Row {
    const char16_t* name;
    int type;
  };
  const Row rows[] = {{u"Genre", 0},    {u"track", 0},     {u"Disk", 0},      {u"Rating", 0},   {u"Bitrate", 0},
                      {u"Duration", 64}, {u"DRM", 21},      {u"Protected", 21}, {u"Picture", 13}, {u"Title", 1},
                      {u"Lyricist", 1},  {u"NoSuchName", -1}, {u"", -1}};
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.name, row.name + std::char_traits<char16_t>::length(row.name)));
    EXPECT_EQ(CTagBase::PropertyDataType(row.name), row.type);
  }
  EXPECT_TRUE(CTagBase::CheckFrameType(u"Genre", 1));
  EXPECT_TRUE(CTagBase::CheckFrameType(u"Genre", 0));
  EXPECT_FALSE(CTagBase::CheckFrameType(u"Track", 1));
  EXPECT_FALSE(CTagBase::CheckFrameType(u"Title", 0));
}

class TagChangeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const ByteVec items = Cat({Item("\xA9nam", 1, Text("Song")), Item("rtng", 21, ByteVec{1}), Item("covr", 13, cover)});
    ASSERT_TRUE(base.ParseImage(SmallFile(items), u".m4a"));
  }
  const CTagFrame* Find(std::string_view name) const {
    for (const CTagFrame& frame : base.Frames()) {
      if (frame.name == name) return &frame;
    }
    return nullptr;
  }
  ByteVec cover = {0xFF, 0xD8, 1, 2, 3};
  CTagBase base;
};

TEST_F(TagChangeTest, SetFrameValueTable) {
  struct Row {
    const char* name;
    const char* atom;
    _variant_t value;
    int dataType;
    bool changed;
  };
  const Row rows[] = {
      {"same title", "\xA9nam", _variant_t(u"Song"), 1, false},
      {"title in other letter case", "\xA9nam", _variant_t(u"song"), 1, true},
      {"removing an absent item", "\xA9" "alb", _variant_t(), 1, false},
      {"null on an absent item", "\xA9" "alb", [] { _variant_t v; v.vt = VT_NULL; return v; }(), 1, false},
      {"same cover bytes", "covr", ByteArray({0xFF, 0xD8, 1, 2, 3}), 13, false},
      {"other cover bytes", "covr", ByteArray({0xFF, 0xD8, 9}), 13, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    CTagBase fresh;
    ASSERT_TRUE(fresh.ParseImage(SmallFile(Cat({Item("\xA9nam", 1, Text("Song")), Item("covr", 13, cover)})), u".m4a"));
    EXPECT_EQ(fresh.SetFrameValue(row.atom, row.value, row.dataType), row.changed);
  }
}

// A write that replaces the picture keeps no stored copy of the old cover:
// the same cover is still no change, and a new or cleared one gives the item
// list a normal parse gives.
TEST_F(TagChangeTest, APictureBeingReplacedKeepsNoStoredCopy) {
  const ByteVec file = SmallFile(Cat({Item("\xA9nam", 1, Text("Song")), Item("covr", 13, cover),
                                      Item("\xA9" "alb", 1, Text("Album"))}));
  const struct {
    const char* name;
    _variant_t value;
    bool changed;
  } rows[] = {{"new cover", ByteArray({0xFF, 0xD8, 9}), true},
              {"same cover", ByteArray({0xFF, 0xD8, 1, 2, 3}), false},
              {"cleared", _variant_t(), true}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    CTagBase replaced;
    replaced.SetPictureReplaced();
    ASSERT_TRUE(replaced.ParseImage(file, u".m4a"));
    for (const CTagFrame& frame : replaced.Frames()) {
      if (frame.name == "covr") {
        EXPECT_TRUE(frame.raw.empty());
      }
    }
    EXPECT_EQ(replaced.SetFrameValue("covr", row.value, 13), row.changed);
    CTagBase read;
    ASSERT_TRUE(read.ParseImage(file, u".m4a"));
    read.SetFrameValue("covr", row.value, 13);
    EXPECT_EQ(replaced.WriteItemList(vel::ByteOrder::kBig), read.WriteItemList(vel::ByteOrder::kBig));
  }
}

// With a reader of the parsed bytes, a cover about to be replaced is not read
// at all: its frame keeps where it lies, a picture set is compared with those
// bytes a piece of at most 1 MiB at a time, and the item list written is the
// one a normal parse gives.
TEST(TagReplaceTest, ACoverBeingReplacedIsComparedWhereItLies) {
  ByteVec cover(2 * 1024 * 1024 + 3);
  for (std::size_t i = 0; i < cover.size(); ++i) cover[i] = static_cast<std::uint8_t>(i * 13 + i / 251);
  cover[0] = 0xFF;
  cover[1] = 0xD8;
  const ByteVec file = SmallFile(Cat({Item("\xA9nam", 1, Text("Song")), Item("covr", 13, cover),
                                      Item("\xA9" "alb", 1, Text("Album"))}));
  const auto changedAt = [&](std::size_t at) {
    ByteVec other = cover;
    other[at] ^= 0x5A;
    return ByteArray(other);
  };
  ByteVec longer = cover;
  longer.push_back(0);
  const struct {
    const char* name;
    _variant_t value;
    int dataType;
    bool changed;
  } rows[] = {{"the same cover", ByteArray(cover), 13, false},
              {"its last byte differs", changedAt(cover.size() - 1), 13, true},
              {"a byte of the second piece differs", changedAt(1024 * 1024 + 7), 13, true},
              {"one byte longer", ByteArray(longer), 13, true},
              {"the same bytes as a PNG", ByteArray(cover), 14, true},
              {"text", _variant_t(u"cover"), 13, true},
              {"cleared", _variant_t(), 13, true}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    std::size_t largestRead = 0;
    CTagBase replaced;
    replaced.SetPictureReplaced();
    replaced.SetParsedBytesReader([&](std::uint64_t offset, std::span<std::uint8_t> into) {
      largestRead = std::max(largestRead, into.size());
      if (offset > file.size() || into.size() > file.size() - offset) return false;
      std::copy_n(file.begin() + static_cast<std::ptrdiff_t>(offset), into.size(), into.begin());
      return true;
    });
    ASSERT_TRUE(replaced.ParseImage(file, u".m4a"));
    const auto covr = std::find_if(replaced.Frames().begin(), replaced.Frames().end(),
                                   [](const CTagFrame& frame) { return frame.name == "covr"; });
    ASSERT_NE(covr, replaced.Frames().end());
    ASSERT_TRUE(covr->leftInFile);
    EXPECT_EQ(covr->value.vt, VT_EMPTY);
    EXPECT_TRUE(covr->raw.empty());
    EXPECT_EQ(covr->dataType, 13);
    ASSERT_EQ(covr->leftInFile->size, cover.size());
    EXPECT_TRUE(std::equal(cover.begin(), cover.end(), file.begin() + static_cast<std::ptrdiff_t>(covr->leftInFile->offset)));
    // Nothing left in the file is ever written as nothing.
    EXPECT_THROW(replaced.WriteItemList(vel::ByteOrder::kBig), CYException);

    EXPECT_EQ(replaced.SetFrameValue("covr", row.value, row.dataType), row.changed);
    EXPECT_LE(largestRead, 1024u * 1024u);
    CTagBase read;
    ASSERT_TRUE(read.ParseImage(file, u".m4a"));
    EXPECT_EQ(read.SetFrameValue("covr", row.value, row.dataType), row.changed);
    EXPECT_EQ(replaced.WriteItemList(vel::ByteOrder::kBig), read.WriteItemList(vel::ByteOrder::kBig));
  }
}

// Covers that are not one picture stored as bytes, a cover no picture is set
// over, and a reader that fails.
TEST(TagReplaceTest, WhatIsNotComparedInPlace) {
  const ByteVec jpeg = {0xFF, 0xD8, 1, 2, 3};
  const ByteVec png = {0x89, 'P', 'N', 'G'};
  const auto data = [](std::uint32_t type, const ByteVec& payload) { return Atom("data", Cat({U32(type), U32(0), payload})); };
  const struct {
    const char* name;
    ByteVec covr;
    bool leftInFile;
  } rows[] = {
      {"stored as text: decoded", Item("covr", 1, Text("cover")), false},
      {"without data: kept opaque", Atom("covr", Atom("name", Text("x"))), false},
      {"two pictures: the first one's place", Atom("covr", Cat({data(13, jpeg), data(14, png)})), true},
      {"one picture", Item("covr", 13, jpeg), true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const ByteVec file = SmallFile(Cat({Item("\xA9nam", 1, Text("Song")), row.covr}));
    const CTagBase::ParsedBytesReader reader = [&](std::uint64_t offset, std::span<std::uint8_t> into) {
      if (offset > file.size() || into.size() > file.size() - offset) return false;
      std::copy_n(file.begin() + static_cast<std::ptrdiff_t>(offset), into.size(), into.begin());
      return true;
    };
    const auto parse = [&](CTagBase& tags, bool withReader) {
      tags.SetPictureReplaced();
      if (withReader) tags.SetParsedBytesReader(reader);
      return tags.ParseImage(file, u".m4a");
    };
    CTagBase inPlace, decoded;
    ASSERT_TRUE(parse(inPlace, true));
    ASSERT_TRUE(parse(decoded, false));
    const bool left = std::any_of(inPlace.Frames().begin(), inPlace.Frames().end(),
                                  [](const CTagFrame& frame) { return frame.leftInFile.has_value(); });
    EXPECT_EQ(left, row.leftInFile);
    // A cover no picture is set over, once loaded, is written as a parse
    // without the reader writes it (from its value).
    CTagBase untouched;
    ASSERT_TRUE(parse(untouched, true));
    ASSERT_TRUE(untouched.LoadValuesLeftInFile());
    EXPECT_EQ(untouched.WriteItemList(vel::ByteOrder::kBig), decoded.WriteItemList(vel::ByteOrder::kBig));
    // The same picture again is the same change or none as without the
    // reader, and writes the same list.
    EXPECT_EQ(inPlace.SetFrameValue("covr", ByteArray(jpeg), 13), decoded.SetFrameValue("covr", ByteArray(jpeg), 13));
    EXPECT_EQ(inPlace.WriteItemList(vel::ByteOrder::kBig), decoded.WriteItemList(vel::ByteOrder::kBig));
  }

  // A reader that fails: the picture cannot be told the same, so it is
  // written; the cover cannot be loaded either.
  const ByteVec file = SmallFile(Item("covr", 13, jpeg));
  for (bool load : {false, true}) {
    SCOPED_TRACE(load ? "loading" : "comparing");
    CTagBase failing;
    failing.SetPictureReplaced();
    failing.SetParsedBytesReader([](std::uint64_t, std::span<std::uint8_t>) { return false; });
    ASSERT_TRUE(failing.ParseImage(file, u".m4a"));
    if (load) {
      EXPECT_FALSE(failing.LoadValuesLeftInFile());
    } else {
      EXPECT_TRUE(failing.SetFrameValue("covr", ByteArray(jpeg), 13));
      EXPECT_EQ(failing.WriteItemList(vel::ByteOrder::kBig), Atom("ilst", Item("covr", 13, jpeg)));
    }
  }
}

TEST_F(TagChangeTest, RemovingAndAdding) {
  EXPECT_TRUE(base.SetFrameValue("\xA9nam", _variant_t(), 1));
  EXPECT_EQ(Find("\xA9nam"), nullptr);
  EXPECT_TRUE(base.SetFrameValue("\xA9" "ART", _variant_t(u"Someone"), 1));
  const CTagFrame* artist = Find("\xA9" "ART");  // the table's spelling, not lower-cased
  ASSERT_NE(artist, nullptr);
  EXPECT_TRUE(artist->raw.empty());
  EXPECT_FALSE(base.SetFrameValue("\xA9" "art", _variant_t(u"Someone"), 1));  // lookups ignore case
}

TEST_F(TagChangeTest, RatingReplacesAnItemOfAnotherType) {
  ASSERT_EQ(Find("rtng")->dataType, 21);
  EXPECT_TRUE(base.SetFrameValue("rtng", _variant_t(4u, VT_UI4), 0));
  EXPECT_EQ(Find("rtng")->dataType, 0);
  const ByteVec ilst = base.WriteItemList(vel::ByteOrder::kBig);
  const ByteVec expected = Item("rtng", 0, U16(4));
  ASSERT_EQ(expected.size(), 26u);
  EXPECT_NE(std::search(ilst.begin(), ilst.end(), expected.begin(), expected.end()), ilst.end());
}

TEST_F(TagChangeTest, AConversionThatFailsRaises) {
  // A text that is no number, set over a number of the same data type.
  ASSERT_TRUE(base.SetFrameValue("trkn", _variant_t(3, VT_INT), 0));
  EXPECT_THROW(base.SetFrameValue("trkn", _variant_t(u"three"), 0), CYException);
  try {
    base.SetFrameValue("trkn", _variant_t(u"three"), 0);
  } catch (const CYException& e) {
    EXPECT_NE(e.GetXml().find(u"TagFrame"), std::u16string::npos);
  }
}

TEST_F(TagChangeTest, GenreKeptAsTextIsChangedAsText) {
  CTagBase text;
  ASSERT_TRUE(text.ParseImage(SmallFile(Item("\xA9gen", 1, Text("Rock"))), u".m4a"));
  EXPECT_FALSE(text.SetFrameValue("gnre", _variant_t(u"Rock"), 0));
  EXPECT_TRUE(text.SetFrameValue("gnre", _variant_t(u"Synthwave"), 0));
  EXPECT_EQ(text.WriteItemList(vel::ByteOrder::kBig), Atom("ilst", Item("\xA9gen", 1, Text("Synthwave"))));
  EXPECT_TRUE(text.SetFrameValue("gnre", _variant_t(), 0));
  EXPECT_EQ(text.WriteItemList(vel::ByteOrder::kBig), Atom("ilst", {}));
}

// Items read and not changed are written back byte for byte; only the
// changed one is encoded again.
TEST(TagRewriteTest, UnchangedItemsAreCarriedOver) {
  ByteVec withLocale = Item("\xA9" "alb", 1, Text("Album"));
  withLocale[8 + 8 + 4 + 3] = 7;  // the data atom's locale
  const ByteVec kept = Cat({Item("trkn", 0, Cat({U32(3), U16(12), U16(0)})), withLocale,
                            Item("covr", 14, ByteVec{0x89, 'P', 'N', 'G'}), Item("prot", 21, ByteVec{1}),
                            Item("\xA9" "drm", 21, ByteVec{1}), Item("xtra", 77, ByteVec{5, 6}),
                            Freeform("iTunSMPB", 1, Text(" 00000000")), Atom("\xA9wrt", Atom("itif", U32(1))),
                            Atom("free", Zeros(6)), Item("\xA9" "cmt", 1, Text("after the padding"))});
  const ByteVec title = Item("\xA9nam", 1, Text("Old"));
  CTagBase base;
  ASSERT_TRUE(base.ParseImage(SmallFile(Cat({title, kept})), u".m4a"));
  ASSERT_TRUE(base.SetFrameValue("\xA9nam", _variant_t(u"New"), 1));
  ASSERT_FALSE(base.GetFrameValue("\xA9" "cmt"));  // items after "free" are not read
  EXPECT_EQ(base.WriteItemList(vel::ByteOrder::kBig), Atom("ilst", Cat({Item("\xA9nam", 1, Text("New")), kept})));
}

// A new track or disk number without a total of its own keeps the file's
// total.
TEST(TagRewriteTest, ChangedNumbersKeepTheFilesTotal) {
  struct Row {
    const char* name;
    _variant_t value;
    ByteVec payload;
  };
  const Row rows[] = {
      {"VT_INT 7", _variant_t(7, VT_INT), Cat({U32(7), U16(12), U16(0)})},
      {"text 7", _variant_t(u"7"), Cat({U32(7), U16(12), U16(0)})},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    CTagBase base;
    ASSERT_TRUE(base.ParseImage(SmallFile(Item("trkn", 0, Cat({U32(3), U16(12), U16(0)}))), u".m4a"));
    ASSERT_TRUE(base.SetFrameValue("trkn", row.value, 0));
    EXPECT_EQ(base.WriteItemList(vel::ByteOrder::kBig), Atom("ilst", Item("trkn", 0, row.payload)));
  }
}

TEST(TagRewriteTest, UserDataLayout) {
  CTagBase base;
  ASSERT_TRUE(base.ParseImage(SmallFile(Item("\xA9nam", 1, Text("T"))), u".m4a"));
  const ByteVec items = Item("\xA9nam", 1, Text("T"));
  const ByteVec hdlr = Cat({U32(0x22), Text("hdlr"), U32(0), U32(0), Text("mdirappl"), U32(0), U32(0), ByteVec{0, 0x3D}});
  ASSERT_EQ(hdlr.size(), 34u);
  const ByteVec expected = Atom("udta", Atom("meta", Cat({U32(0), hdlr, Atom("ilst", items)})));
  EXPECT_EQ(base.BuildUserData({}, vel::ByteOrder::kBig), expected);
  EXPECT_EQ(expected.size(), 20u + 34u + 8u + items.size());

  // The old udta's other children follow unchanged; what else its meta held
  // stays in the new meta.
  const ByteVec oldHdlr = Atom("hdlr", Zeros(25));
  const ByteVec chapter = Atom("chpl", Zeros(9));
  const ByteVec xml = Atom("xml ", Text("<x/>"));
  const ByteVec old = Atom("udta", Cat({Atom("name", Text("clip")),
                                        Atom("meta", Cat({U32(0), oldHdlr, Atom("ilst", Item("\xA9nam", 1, Text("T"))), xml})),
                                        chapter}));
  const ByteVec rebuilt = Atom("udta", Cat({Atom("meta", Cat({U32(0), hdlr, Atom("ilst", items), xml})),
                                            Atom("name", Text("clip")), chapter}));
  EXPECT_EQ(base.BuildUserData(old, vel::ByteOrder::kBig), rebuilt);

  // A meta without items is taken over when it is of the item-list handler;
  // another handler's meta (an ID3 tag in a 3GP file) is kept whole beside it.
  const ByteVec id3 = Atom("ID32", Zeros(12));
  const ByteVec id3Meta = Atom("meta", Cat({U32(0), Atom("hdlr", Cat({U32(0), U32(0), Text("ID32"), Zeros(13)})), id3}));
  EXPECT_EQ(base.BuildUserData(Atom("udta", id3Meta), vel::ByteOrder::kBig),
            Atom("udta", Cat({Atom("meta", Cat({U32(0), hdlr, Atom("ilst", items)})), id3Meta})));
  const ByteVec emptyTagMeta = Atom("meta", Cat({U32(0), hdlr, xml}));
  EXPECT_EQ(base.BuildUserData(Atom("udta", emptyTagMeta), vel::ByteOrder::kBig),
            Atom("udta", Atom("meta", Cat({U32(0), hdlr, Atom("ilst", items), xml}))));
}

// A large cover and a large item kept as read go into the new udta from where
// their frames hold them (a picture is not copied into one more buffer); the
// pieces make exactly the udta of the frames, and a file rewritten from them
// is the file rewritten from that udta in one buffer.
TEST(TagRewriteTest, LargeRunsAreBorrowedFromTheirFrames) {
  ByteVec cover(200 * 1024);
  for (std::size_t i = 0; i < cover.size(); ++i) cover[i] = static_cast<std::uint8_t>(i * 7 + 1);
  const ByteVec kept = Item("xid ", 21, ByteVec(100 * 1024, 0x5A));
  std::vector<CTagFrame> frames;
  frames.push_back(Frame("\xA9nam", _variant_t(u"T"), 1));
  frames.push_back(Frame("covr", ByteArray(cover), 13));
  CTagFrame read = Frame("xid ", ByteArray(ByteVec(100 * 1024, 0x5A)), 21);
  read.raw = kept;
  frames.push_back(std::move(read));
  frames.push_back(Frame("xid2", ByteArray({1, 2, 3}), 21));  // small: copied into the atom's own bytes

  const ByteVec hdlr = Cat({U32(0x22), Text("hdlr"), U32(0), U32(0), Text("mdirappl"), U32(0), U32(0), ByteVec{0, 0x3D}});
  const ByteVec items =
      Cat({Item("\xA9nam", 1, Text("T")), Item("covr", 13, cover), kept, Item("xid2", 21, ByteVec{1, 2, 3})});
  const ByteVec expected = Atom("udta", Atom("meta", Cat({U32(0), hdlr, Atom("ilst", items)})));

  const Mp4UserDataPieces pieces = vel::mp4::BuildUserDataPieces(frames, {}, vel::ByteOrder::kBig);
  ByteVec joined;
  std::vector<const std::uint8_t*> borrowed;
  for (const Mp4OutputPiece& piece : pieces.pieces) {
    ASSERT_EQ(piece.size, piece.kind == Mp4OutputPiece::Kind::kBorrowed ? piece.borrowed.size() : piece.bytes.size());
    if (piece.kind == Mp4OutputPiece::Kind::kBorrowed) {
      borrowed.push_back(piece.borrowed.data());
      joined.insert(joined.end(), piece.borrowed.begin(), piece.borrowed.end());
    } else {
      ASSERT_EQ(piece.kind, Mp4OutputPiece::Kind::kBytes);
      joined.insert(joined.end(), piece.bytes.begin(), piece.bytes.end());
    }
  }
  EXPECT_EQ(joined, expected);
  EXPECT_EQ(pieces.size(), expected.size());
  const CByteArrayView coverBytes(frames[1].value);
  EXPECT_EQ(borrowed, (std::vector<const std::uint8_t*>{coverBytes.bytes().data(), frames[2].raw.data()}));
  EXPECT_EQ(vel::mp4::BuildUserData(frames, {}, vel::ByteOrder::kBig), expected);

  const ByteVec file = SmallFile(Item("\xA9nam", 1, Text("old")));
  const Mp4RewritePlan inPieces = PlanMp4UserDataRewriteInPieces(
      file, [&](std::span<const std::uint8_t>, vel::ByteOrder) -> std::optional<Mp4UserDataPieces> { return pieces; });
  const Mp4RewritePlan inOne = PlanMp4UserDataRewrite(
      file, [&](std::span<const std::uint8_t>, vel::ByteOrder) -> std::optional<ByteVec> { return expected; });
  ASSERT_EQ(inPieces.status, Mp4RewriteStatus::kWritten);
  ASSERT_EQ(inOne.status, Mp4RewriteStatus::kWritten);
  EXPECT_EQ(AssembleMp4Rewrite(file, inPieces), AssembleMp4Rewrite(file, inOne));
  EXPECT_EQ(inPieces.size, inOne.size);

  // Pieces whose first one does not hold the udta's header are refused as any
  // answer that is not one whole udta is.
  Mp4UserDataPieces headless;
  headless.pieces.push_back(pieces.pieces[1]);
  EXPECT_THROW(PlanMp4UserDataRewriteInPieces(file,
                                              [&](std::span<const std::uint8_t>, vel::ByteOrder)
                                                  -> std::optional<Mp4UserDataPieces> { return headless; }),
               CYException);
}

TEST(TagRewriteTest, LittleEndianNumbers) {
  CTagBase base;
  ASSERT_TRUE(base.SetFrameValue("trkn", _variant_t(5, VT_I4), 0));
  const ByteVec udta = base.BuildUserData({}, vel::ByteOrder::kLittle);
  ASSERT_GE(udta.size(), 8u);
  EXPECT_EQ(vel::LoadU32Unchecked(udta.data(), vel::ByteOrder::kLittle), udta.size());
  EXPECT_EQ(vel::LoadU32Unchecked(udta.data() + 4, vel::ByteOrder::kLittle), Mp4Type("udta"));  // as the walks read it
  EXPECT_EQ(ByteVec(udta.begin() + 12, udta.begin() + 16), Text("meta"));
  const ByteVec item = Cat({ByteVec{32, 0, 0, 0}, Text("trkn"), ByteVec{24, 0, 0, 0}, Text("data"), Zeros(8),
                            ByteVec{5, 0, 0, 0}, Zeros(4)});
  EXPECT_NE(std::search(udta.begin(), udta.end(), item.begin(), item.end()), udta.end());
}

// ---------------------------------------------------------------------------
// The item codec's table: every row that writes decodes what it wrote, in
// both byte orders, and the untyped rows take what no row names.

// The frame that the item encoded from frame reads back as.
CTagFrame RoundTrip(const CTagFrame& frame, vel::ByteOrder order, std::vector<std::uint8_t>& item) {
  vel::ByteWriter out(item, order);
  vel::mp4::EncodeItem(frame, out);
  CTagFrame read;
  const auto atom = ReadMp4Atom(item, 0, item.size(), order);
  if (!atom) return read;
  read.name = std::string(reinterpret_cast<const char*>(item.data() + 4), 4);
  read.opaque = true;
  vel::mp4::DecodeItem(item, *atom, order, read);
  return read;
}

TEST(ItemCodecTest, EveryWritingRowDecodesWhatItEncodes) {
  struct Row {
    const char* role;  // the codec row the frame goes through
    CTagFrame frame;
    int storedAs = -1;  // the data type read back; -1: the frame's
  };
  CTagFrame track = Frame("trkn", _variant_t(3, VT_INT), 0);
  track.pairTotal = 12;
  const Row rows[] = {
      {"gnre", Frame("gnre", _variant_t(u"Rock"), 0)},
      {"rtng", Frame("rtng", _variant_t(short{4}), 0)},
      {"trkn/disk", track},
      {"trkn/disk", Frame("disk", _variant_t(2, VT_INT), 0)},
      // Flags are stored with data type 0, whatever they are set with.
      {"flags", Frame("\xA9" "drm", _variant_t(short{-1}), 21), 0},
      {"flags", Frame("prot", _variant_t(short{0}), 21), 0},
      {"covr", Frame("covr", ByteArray({0xFF, 0xD8, 0xFF, 0xE0}), 13)},
      {"text", Frame("\xA9nam", _variant_t(u"Caf\u00E9"), 1)},
      {"bytes", Frame("xid ", ByteArray({1, 2, 3}), 21)},
      {"freeform", Frame("----MOOD", ByteArray({'c', 'a', 'l', 'm'}), 1, true)},
  };
  std::vector<std::string> covered;
  for (const Row& row : rows) {
    for (vel::ByteOrder order : {vel::ByteOrder::kBig, vel::ByteOrder::kLittle}) {
      SCOPED_TRACE(std::string(row.role) + " " + row.frame.name +
                   (order == vel::ByteOrder::kBig ? " big-endian" : " little-endian"));
      std::vector<std::uint8_t> item;
      const CTagFrame read = RoundTrip(row.frame, order, item);
      ASSERT_FALSE(item.empty());
      EXPECT_FALSE(read.opaque);
      EXPECT_EQ(read.name, row.frame.name);
      EXPECT_EQ(read.dataType, row.storedAs >= 0 ? row.storedAs : row.frame.dataType);
      EXPECT_EQ(read.freeform, row.frame.freeform);
      EXPECT_EQ(read.pairTotal, row.frame.pairTotal);
      EXPECT_TRUE(read.IsSameData(row.frame.value));
    }
    covered.push_back(row.role);
  }
  for (const vel::mp4::ItemCodec& codec : vel::mp4::ItemCodecs()) {
    if (codec.encode == nullptr) continue;
    EXPECT_NE(std::find(covered.begin(), covered.end(), codec.role), covered.end()) << codec.role << " is not covered";
  }
}

TEST(ItemCodecTest, RowsByItemTypeAndDataType) {
  struct Row {
    const char* type;
    const char* role;  // null: no row names the type
    int dataType;
  };
  const Row rows[] = {
      {"gnre", "gnre", 0},       {"GNRE", "gnre", 0},      {"trkn", "trkn/disk", 0}, {"Disk", "trkn/disk", 0},
      {"\xA9" "drm", "flags", 21}, {"prot", "flags", 21},  {"covr", "covr", 13},     {"durn", "durn", 64},
      {"bitr", "bitr", 0},       {"\xA9nam", nullptr, 1},  {"srate", nullptr, 1},    {"", nullptr, 1},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.type);
    const vel::mp4::ItemCodec* codec = vel::mp4::FindItemCodec(row.type);
    if (row.role == nullptr) {
      EXPECT_EQ(codec, nullptr);
    } else {
      ASSERT_NE(codec, nullptr);
      EXPECT_EQ(codec->role, row.role);
    }
    EXPECT_EQ(vel::mp4::ItemDataType(row.type), row.dataType);
  }
}

TEST(ItemCodecTest, ComputedRowsAndMismatchedTypesWriteNothing) {
  const CTagFrame frames[] = {
      Frame("durn", _variant_t(10LL), 64),
      Frame("bitr", _variant_t(128000, VT_INT), 0),
      Frame("covr", ByteArray({1}), 0),     // no untyped row of type 0
      Frame("\xA9nam", ByteArray({1}), 13), // pictures only as "covr"
  };
  for (const CTagFrame& frame : frames) {
    SCOPED_TRACE(frame.name);
    std::vector<std::uint8_t> out;
    vel::ByteWriter writer(out, vel::ByteOrder::kBig);
    vel::mp4::EncodeItem(frame, writer);
    EXPECT_TRUE(out.empty());
  }
}

}  // namespace
