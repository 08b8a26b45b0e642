// Reading: item decoding, the movie's structure, computed values, ADTS
// streams, and every prefix of valid inputs.
#include "audio/mp4/TagBase.h"

#include <gtest/gtest.h>

#include <string>

#include "audio/ByteArray.h"
#include "testing/Mp4Builder.h"
#include "testing/TempDir.h"
#include "testing/Tools.h"
#include "ylib/YVariant.h"

using namespace vel::testing;

namespace {

const CTagFrame* Find(const CTagBase& base, std::string_view name) {
  for (const CTagFrame& frame : base.Frames()) {
    if (!frame.opaque && frame.name == name) return &frame;
  }
  return nullptr;
}

std::u16string Bstr(const VARIANT& v) { return v.vt == VT_BSTR ? std::u16string(v.bstrVal, SysStringLen(v.bstrVal)) : u"<not text>"; }

const CMetaDataItem* Record(const CMetaDataItemList& records, std::u16string_view name) {
  for (const CMetaDataItem& record : records) {
    if (record.name == name) return &record;
  }
  return nullptr;
}

TEST(TagReadTest, ItemDecodingTable) {
  struct Row {
    const char* name;
    ByteVec item;
    const char* frame;
    VARTYPE vt;
    long long number;  // for numbers
    std::u16string text;  // for texts
    int dataType;
  };
  const Row rows[] = {
      {"gnre 18 is Rock", Item("gnre", 0, U16(18)), "gnre", VT_BSTR, 0, u"Rock", 0},
      {"gnre 0 has no name", Item("gnre", 0, U16(0)), "gnre", VT_I2, -1, u"", 0},
      {"gnre 200 has no name", Item("gnre", 0, U16(200)), "gnre", VT_I2, 199, u"", 0},
      {"gnre 148 is the last name", Item("gnre", 0, U16(148)), "gnre", VT_BSTR, 0, u"Synth Pop", 0},
      {"trkn with its total", Item("trkn", 0, Cat({U32(5), U16(12), U16(0)})), "trkn", VT_INT, 5, u"", 0},
      {"disk without padding", Item("disk", 0, Cat({U32(1), U16(2)})), "disk", VT_INT, 1, u"", 0},
      {"rtng number", Item("rtng", 0, U16(4)), "rtng", VT_I2, 4, u"", 0},
      {"rtng with bit 15", Item("rtng", 0, U16(0x8004)), "rtng", VT_I2, 0, u"", 0},
      {"prot set", Item("prot", 21, ByteVec{1}), "prot", VT_I2, -1, u"", 21},
      {"drm clear", Item("\xA9" "drm", 0, ByteVec{0}), "\xA9" "drm", VT_I2, 0, u"", 0},
      {"text", Item("\xA9nam", 1, Text("Song")), "\xA9nam", VT_BSTR, 0, u"Song", 1},
      {"empty text", Item("\xA9nam", 1, ByteVec{}), "\xA9nam", VT_BSTR, 0, u"", 1},
      {"upper-case item type", Item("TRKN", 0, Cat({U32(7), U16(0), U16(0)})), "TRKN", VT_INT, 7, u"", 0},
      {"gnre stored as text", Item("gnre", 1, Text("Jazz")), "gnre", VT_BSTR, 0, u"Jazz", 1},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    CTagBase base;
    ASSERT_TRUE(base.ParseImage(SmallFile(row.item), u".m4a"));
    const CTagFrame* frame = Find(base, row.frame);
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(frame->value.vt, row.vt);
    EXPECT_EQ(frame->dataType, row.dataType);
    if (row.vt == VT_BSTR) {
      EXPECT_EQ(Bstr(frame->value), row.text);
    } else {
      EXPECT_EQ(CYVariant::ToInt(frame->value), row.number);
    }
  }
}

TEST(TagReadTest, ByteArraysKeepTheirDataType) {
  const ByteVec png = {0x89, 'P', 'N', 'G', 1, 2, 3};
  CTagBase base;
  ASSERT_TRUE(base.ParseImage(SmallFile(Cat({Item("covr", 14, png), Item("rtng", 21, ByteVec{3}),
                                             Freeform("iTunNORM", 1, Text(" 0000"))})),
                              u".m4a"));
  const CTagFrame* covr = Find(base, "covr");
  ASSERT_NE(covr, nullptr);
  EXPECT_EQ(covr->dataType, 14);
  std::vector<std::uint8_t> bytes;
  ASSERT_TRUE(GetByteArrayContent(covr->value, bytes));
  EXPECT_EQ(bytes, png);
  const CTagFrame* rtng = Find(base, "rtng");
  ASSERT_NE(rtng, nullptr);
  EXPECT_EQ(rtng->dataType, 21);
  ASSERT_TRUE(GetByteArrayContent(rtng->value, bytes));
  EXPECT_EQ(bytes, ByteVec{3});
  const CTagFrame* freeform = Find(base, "----iTunNORM");
  ASSERT_NE(freeform, nullptr);
  EXPECT_TRUE(freeform->freeform);
  EXPECT_EQ(freeform->dataType, 1);
  ASSERT_TRUE(GetByteArrayContent(freeform->value, bytes));
  EXPECT_EQ(bytes, Text(" 0000"));
}

// A read that no write follows keeps no copies of the items' bytes, and
// without pictures leaves the cover undecoded; the other values are the same.
TEST(TagReadTest, ReadOnlyParsesKeepNoItemBytes) {
  const ByteVec png = {0x89, 'P', 'N', 'G', 1, 2, 3};
  const auto file = SmallFile(Cat({Item("covr", 14, png), Item("\xA9nam", 1, Text("Song"))}));
  for (const bool withPictures : {true, false}) {
    SCOPED_TRACE(withPictures);
    CTagBase base;
    base.SetReadOnly(withPictures);
    ASSERT_TRUE(base.ParseImage(file, u".m4a"));
    for (const CTagFrame& frame : base.Frames()) EXPECT_TRUE(frame.raw.empty()) << frame.name;
    EXPECT_EQ(Find(base, "covr") != nullptr, withPictures);
    const CTagFrame* title = Find(base, "\xA9nam");
    ASSERT_NE(title, nullptr);
    EXPECT_EQ(title->value, _variant_t(u"Song"));
  }
  CTagBase writable;
  ASSERT_TRUE(writable.ParseImage(file, u".m4a"));
  for (const CTagFrame& frame : writable.Frames()) {
    if (!frame.computed) {
      EXPECT_FALSE(frame.raw.empty()) << frame.name;
    }
  }
}

TEST(TagReadTest, DecodeItemTextTable) {
  struct Row {
    const char* name;
    ByteVec bytes;
    std::u16string text;
  };
  const Row rows[] = {
      {"UTF-8 Café", Text("Caf\xC3\xA9"), u"Café"},
      {"UTF-8 up to the first zero", Cat({Text("Caf\xC3\xA9"), ByteVec{0, 'x'}}), u"Café"},
      {"UTF-16LE", ByteVec{'W', 0, 'o', 0, 'r', 0, 'd', 0}, u"Word"},
      {"UTF-16LE é", ByteVec{0xE9, 0, 'c', 0}, u"éc"},
      {"ANSI ©", ByteVec{0xA9, ' ', '2', '0', '2', '6'}, u"© 2026"},
      {"ANSI with zero padding", ByteVec{'a', 'b', 0, 0}, u"ab"},
      {"empty", ByteVec{}, u""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(CTagBase::DecodeItemText(row.bytes), row.text);
  }
}

TEST(TagReadTest, MovieHeaderVersions) {
  struct Row {
    const char* name;
    ByteVec mvhd;
    long long durn;
  };
  const Row rows[] = {
      {"version 0", Mvhd(0, 44100, 441000), 100'000'000},
      {"version 1", Mvhd(1, 44100, 441000), 100'000'000},
      {"version 1 beyond 32 bits", Mvhd(1, 1000, 5'000'000'000ull), 50'000'000'000'000},
      {"version 0 with 2^31 units", Mvhd(0, 1000, 0x80000000u), 21'474'836'480'000},
      {"timescale 0", Mvhd(0, 0, 1000), 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const ByteVec file = Cat({Ftyp("mp42"), Atom("moov", Cat({row.mvhd, Trak(48000)}))});
    CTagBase base;
    ASSERT_TRUE(base.ParseImage(file, u".mp4"));
    const CTagFrame* durn = Find(base, "durn");
    ASSERT_NE(durn, nullptr);
    EXPECT_EQ(durn->value.vt, VT_I8);
    EXPECT_EQ(durn->value.llVal, row.durn);
    EXPECT_EQ(durn->dataType, 64);
    const CTagFrame* srate = Find(base, "srate");
    ASSERT_NE(srate, nullptr);
    EXPECT_EQ(srate->value.vt, VT_INT);
    EXPECT_EQ(srate->value.intVal, 48000);
  }
}

TEST(TagReadTest, BitrateFromTheMediaData) {
  struct Row {
    const char* name;
    ByteVec mdat;
    std::uint64_t duration;  // at 44,100 Hz
    int bitrate;
  };
  const Row rows[] = {
      {"1,000,000 bytes in 10 s", Atom("mdat", Zeros(1'000'000 - 8)), 441000, 800'000},
      {"64-bit size", Atom64("mdat", Zeros(1'000'000 - 16)), 441000, 800'000},
      {"size 0 runs to the end", Cat({U32(0), Text("mdat"), Zeros(1'000'000 - 8)}), 441000, 800'000},
      {"an exact half goes down", Atom("mdat", Zeros(1)), 44100 * 16, 4},  // 72 bits in 16 s = 4.5
      {"above a half goes up", Atom("mdat", Zeros(2)), 44100 * 3, 27},     // 80 bits in 3 s = 26.67
      {"below a half goes down", Atom("mdat", Zeros(3)), 44100 * 3, 29},   // 88 bits in 3 s = 29.33
      {"no duration", Atom("mdat", Zeros(100)), 0, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const ByteVec file = Cat({Ftyp("M4A "), Atom("moov", Cat({Mvhd(0, 44100, row.duration), Trak(44100)})), row.mdat});
    CTagBase base;
    ASSERT_TRUE(base.ParseImage(file, u".m4a"));
    const CTagFrame* bitr = Find(base, "bitr");
    ASSERT_NE(bitr, nullptr);
    EXPECT_EQ(bitr->value.vt, VT_INT);
    EXPECT_EQ(bitr->value.intVal, row.bitrate);
  }
}

TEST(TagReadTest, FindsTheUserDataStructurally) {
  const ByteVec items = Item("\xA9nam", 1, Text("Found"));
  const ByteVec hdlr = Atom("hdlr", Cat({U32(0), U32(0), Text("mdirappl"), Zeros(9)}));
  struct Row {
    const char* name;
    ByteVec file;
  };
  const Row rows[] = {
      {"udta after 128,000 bytes of tracks",
       Cat({Ftyp("M4A "), Atom("moov", Cat({Mvhd(0, 44100, 441000), Trak(44100), Atom("junk", Zeros(130'000)),
                                            UserData(items)}))})},
      {"other top-level atoms before moov",
       Cat({Ftyp("M4A "), Atom("wide", {}), Atom("skip", Zeros(10)), Atom("mdat", Zeros(10)),
            Atom("moov", Cat({Mvhd(0, 44100, 441000), UserData(items)}))})},
      {"udta before the tracks", Cat({Ftyp("M4A "), Atom("moov", Cat({UserData(items), Mvhd(0, 44100, 441000), Trak(44100)}))})},
      {"top-level udta after moov",
       Cat({Ftyp("M4A "), Atom("moov", Cat({Mvhd(0, 44100, 441000), Trak(44100)})), UserData(items)})},
      {"meta without version and flags",
       Cat({Ftyp("M4A "), Atom("moov", Atom("udta", Atom("meta", Cat({hdlr, Atom("ilst", items)}))))})},
      {"ilst not second in meta",
       Cat({Ftyp("M4A "),
            Atom("moov", Atom("udta", Atom("meta", Cat({U32(0), hdlr, Atom("free", Zeros(4)), Atom("ilst", items)}))))})},
      {"64-bit moov and udta",
       Cat({Ftyp("M4A "), Atom64("moov", Atom64("udta", Atom("meta", Cat({U32(0), hdlr, Atom("ilst", items)}))))})},
      {"moov of size 0 at the end", Cat({Ftyp("M4A "), U32(0), Text("moov"), UserData(items)})},
      {"second meta holds the items",
       Cat({Ftyp("M4A "), Atom("moov", Atom("udta", Cat({Atom("meta", Cat({U32(0), hdlr})),
                                                         Atom("meta", Cat({U32(0), hdlr, Atom("ilst", items)}))})))})},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    CTagBase base;
    ASSERT_TRUE(base.ParseImage(row.file, u".m4a"));
    const CTagFrame* title = Find(base, "\xA9nam");
    ASSERT_NE(title, nullptr);
    EXPECT_EQ(Bstr(title->value), u"Found");
  }
}

TEST(TagReadTest, DamagedItemsAreBoundedByTheirParents) {
  const ByteVec good = Item("\xA9nam", 1, Text("Kept"));
  // An item whose size runs past the ilst ends the walk.
  ByteVec runaway = Item("\xA9" "ART", 1, Text("Lost"));
  runaway[3] = 200;
  // A data atom too short for its type word and locale.
  const ByteVec shortData = Atom("\xA9" "alb", Cat({U32(12), Text("data"), U32(1)}));
  // An item without a data atom; a number item whose payload is too short.
  const ByteVec noData = Atom("\xA9wrt", Atom("itif", U32(1)));
  const ByteVec shortNumber = Item("gnre", 0, ByteVec{1});
  CTagBase base;
  ASSERT_TRUE(base.ParseImage(SmallFile(Cat({good, shortData, noData, shortNumber, runaway})), u".m4a"));
  ASSERT_NE(Find(base, "\xA9nam"), nullptr);
  EXPECT_EQ(Find(base, "\xA9" "alb"), nullptr);
  EXPECT_EQ(Find(base, "\xA9wrt"), nullptr);
  EXPECT_EQ(Find(base, "gnre"), nullptr);
  EXPECT_EQ(Find(base, "\xA9" "ART"), nullptr);
  // What could not be read is still kept, to be written back as it was.
  int opaque = 0;
  for (const CTagFrame& frame : base.Frames()) opaque += frame.opaque ? 1 : 0;
  EXPECT_EQ(opaque, 3);
}

TEST(TagReadTest, AcceptedFilesOnly) {
  struct Row {
    const char* name;
    ByteVec file;
    std::u16string extension;
    bool read;
  };
  const ByteVec adts = Cat({AdtsFrame(4, 400), AdtsFrame(4, 400)});
  const Row rows[] = {
      {"brand M4A", SmallFile({}), u".m4a", true},
      {"brand isom", SmallFile({}, 441000, 992, "isom"), u".m4a", false},
      {"brand isom named .aac", SmallFile({}, 441000, 992, "isom"), u".aac", false},
      {"ADTS as .aac", adts, u".aac", true},
      {"ADTS as .AAC", adts, u".AAC", false},
      {"ADTS as .m4a", adts, u".m4a", false},
      {"no sync word", Zeros(100), u".aac", false},
      {"ftyp only little-endian",
       Cat({ByteVec{20, 0, 0, 0}, Text("pytf"), Text(" A4M"), U32(0), U32(0)}), u".m4a", true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    CTagBase base;
    EXPECT_EQ(base.ParseImage(row.file, row.extension), row.read);
    if (!row.read) {
      EXPECT_TRUE(base.Frames().empty());
    }
  }
}

TEST(TagReadTest, AdtsFigures) {
  // 430 frames of 44,100 Hz, 200,000 bytes in all.
  ByteVec stream;
  for (int i = 0; i < 430; ++i) {
    const ByteVec frame = AdtsFrame(4, i < 50 ? 466 : 465);
    stream.insert(stream.end(), frame.begin(), frame.end());
  }
  ASSERT_EQ(stream.size(), 200'000u);
  ByteVec id3 = Cat({Text("ID3"), ByteVec{3, 0, 0}, ByteVec{0, 0, 7, 0x5E}, Zeros(990)});  // 10 + 990 bytes
  ASSERT_EQ(id3.size(), 1000u);
  struct Row {
    const char* name;
    ByteVec bytes;
  };
  const Row rows[] = {{"plain", stream}, {"after an ID3v2 tag of 1,000 bytes", Cat({id3, stream})}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    CTagBase base;
    ASSERT_TRUE(base.ParseImage(row.bytes, u".aac"));
    CMetaDataItemList records;
    base.CollectRecords(records);
    const CMetaDataItem* rate = Record(records, u"SamplingFrequency");
    const CMetaDataItem* duration = Record(records, u"Duration");
    const CMetaDataItem* bitrate = Record(records, u"Bitrate");
    ASSERT_TRUE(rate && duration && bitrate);
    EXPECT_EQ(rate->value.vt, VT_R8);
    EXPECT_EQ(rate->value.dblVal, 44100.0);
    EXPECT_EQ(duration->value.vt, VT_R8);
    EXPECT_EQ(duration->value.dblVal, 9.0);
    EXPECT_EQ(bitrate->value.vt, VT_INT);
    EXPECT_EQ(bitrate->value.intVal, 160'240);
  }
  // A tag that claims more bytes than the file holds: not a stream we read.
  ByteVec bigTag = Cat({Text("ID3"), ByteVec{3, 0, 0}, ByteVec{0x7F, 0x7F, 0x7F, 0x7F}, stream});
  CTagBase base;
  EXPECT_FALSE(base.ParseImage(bigTag, u".aac"));
  // A frame length of 0 ends the walk after that frame.
  CTagBase zero;
  ASSERT_TRUE(zero.ParseImage(Cat({AdtsFrame(4, 400), AdtsFrame(4, 0), Zeros(500)}), u".aac"));
  ASSERT_NE(Find(zero, "srate"), nullptr);
}

TEST(TagReadTest, RecordsInTableOrder) {
  const ByteVec items = Cat({Item("trkn", 0, Cat({U32(3), U16(12), U16(0)})), Item("\xA9" "ART", 1, Text("Artist")),
                             Item("\xA9nam", 1, Text("Title")), Item("gnre", 0, U16(0)), Item("xyzw", 1, Text("x"))});
  CTagBase base;
  ASSERT_TRUE(base.ParseImage(SmallFile(items), u".m4a"));
  CMetaDataItemList records;
  base.CollectRecords(records);
  std::vector<std::u16string> names;
  for (const CMetaDataItem& record : records) names.push_back(record.name);
  // Genre (VT_I2 -1) is handed over; the plugin drops what is not text.
  const std::vector<std::u16string> expected = {u"Title", u"Artist", u"Track", u"Genre", u"Duration", u"Bitrate",
                                                u"SamplingFrequency"};
  EXPECT_EQ(names, expected);
  EXPECT_EQ(Record(records, u"Duration")->value.dblVal, 10.0);
  EXPECT_EQ(Record(records, u"Duration")->dataType, 64);
  EXPECT_EQ(Record(records, u"Track")->value.vt, VT_INT);
  EXPECT_EQ(Record(records, u"Track")->value.intVal, 3);
}

TEST(TagReadTest, GenreTextStandsInForTheNumber) {
  CTagBase base;
  ASSERT_TRUE(base.ParseImage(SmallFile(Item("\xA9gen", 1, Text("Synthwave"))), u".m4a"));
  CMetaDataItemList records;
  base.CollectRecords(records);
  const CMetaDataItem* genre = Record(records, u"Genre");
  ASSERT_NE(genre, nullptr);
  EXPECT_EQ(Bstr(genre->value), u"Synthwave");

  CTagBase both;
  ASSERT_TRUE(both.ParseImage(SmallFile(Cat({Item("\xA9gen", 1, Text("Synthwave")), Item("gnre", 0, U16(18))})), u".m4a"));
  records.clear();
  both.CollectRecords(records);
  EXPECT_EQ(Bstr(Record(records, u"Genre")->value), u"Rock");
}

// Found by fuzzing: an item named like a computed value, in a file without a
// movie header, was taken for the duration (and its text failed to convert).
TEST(TagReadTest, ItemsNamedLikeComputedValues) {
  const ByteVec items = Cat({Item("durn", 1, Text("long")), Item("bitr", 0, U16(9))});
  struct Row {
    const char* name;
    ByteVec file;
    bool duration;
  };
  const Row rows[] = {
      {"without a movie header", Cat({Ftyp("M4A "), Atom("moov", UserData(items))}), false},
      {"with a movie header", SmallFile(items), true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    CTagBase base;
    ASSERT_TRUE(base.ParseImage(row.file, u".m4a"));
    CMetaDataItemList records;
    ASSERT_NO_THROW(base.CollectRecords(records));
    const CMetaDataItem* duration = Record(records, u"Duration");
    EXPECT_EQ(duration != nullptr, row.duration);
    if (duration) {
      EXPECT_EQ(duration->value.dblVal, 10.0);
    }
    const CMetaDataItem* bitrate = Record(records, u"Bitrate");
    ASSERT_NE(bitrate, nullptr);
    EXPECT_EQ(bitrate->value.vt, VT_INT);  // the computed one, not the item's bytes
    // Both items are kept for writing.
    EXPECT_NE(base.WriteItemList(vel::ByteOrder::kBig), Atom("ilst", {}));
  }
}

// Every prefix of a valid input parses or is refused; none reads outside it.
TEST(TagReadTest, TruncationSweep) {
  const ByteVec items = Cat({Item("\xA9nam", 1, Text("Title")), Item("trkn", 0, Cat({U32(3), U16(12), U16(0)})),
                             Item("gnre", 0, U16(18)), Item("covr", 13, Zeros(40)), Freeform("note", 1, Text("n"))});
  const ByteVec file = Cat({Ftyp("M4A "), Atom("moov", Cat({Mvhd(1, 44100, 441000), Trak(44100), UserData(items)})),
                            Atom("mdat", Zeros(64))});
  ByteVec adts = Cat({Text("ID3"), ByteVec{3, 0, 0}, ByteVec{0, 0, 0, 10}, Zeros(10)});
  for (int i = 0; i < 4; ++i) {
    const ByteVec frame = AdtsFrame(3, 30 + i);
    adts.insert(adts.end(), frame.begin(), frame.end());
  }
  struct Row {
    const char* name;
    const ByteVec& bytes;
    std::u16string extension;
  };
  const Row rows[] = {{"MP4", file, u".m4a"}, {"ADTS", adts, u".aac"}};
  for (const Row& row : rows) {
    for (std::size_t length = 0; length <= row.bytes.size(); ++length) {
      SCOPED_TRACE(std::string(row.name) + " prefix of " + std::to_string(length));
      // A copy of exactly length bytes, so a read past the prefix is a read
      // past an allocation (which the sanitizers report).
      const ByteVec prefix(row.bytes.begin(), row.bytes.begin() + static_cast<std::ptrdiff_t>(length));
      CTagBase base;
      const bool parsed = base.ParseImage(prefix, row.extension);
      CMetaDataItemList records;
      if (parsed) base.CollectRecords(records);
      if (length == row.bytes.size()) {
        EXPECT_TRUE(parsed);
        EXPECT_FALSE(records.empty());
      }
      if (parsed) (void)base.BuildUserData({}, base.ByteOrder());
    }
  }
}

}  // namespace
