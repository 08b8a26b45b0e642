// The editor on files: real files made by ffmpeg, missing and empty files.
#include "audio/mp4/AacEditor.h"

#include <gtest/gtest.h>

#include "testing/Mp4Builder.h"
#include "testing/TempDir.h"
#include "testing/Tools.h"

using namespace vel::testing;

namespace {

const CMetaDataItem* Record(const CMetaDataItemList& records, std::u16string_view name) {
  for (const CMetaDataItem& record : records) {
    if (record.name == name) return &record;
  }
  return nullptr;
}

std::u16string Text16(const CMetaDataItem* record) {
  if (!record || record->value.vt != VT_BSTR) return u"<none>";
  return std::u16string(record->value.bstrVal, SysStringLen(record->value.bstrVal));
}

TEST(AacEditorTest, MissingEmptyAndForeignFiles) {
  TempDir dir;
  CAacEditor editor;
  CMetaDataItemList records;
  EXPECT_FALSE(editor.Read(dir.PathOf("absent.m4a"), records));
  EXPECT_FALSE(editor.Validate(dir.PathOf("absent.m4a")));
  EXPECT_FALSE(editor.Read(u"", records));
  EXPECT_FALSE(editor.Validate(u""));
  const auto empty = dir.Write("empty.m4a", {});
  EXPECT_FALSE(editor.Read(empty, records));
  EXPECT_FALSE(editor.Validate(empty));
  const auto text = dir.Write("text.m4a", Text("not a movie"));
  EXPECT_FALSE(editor.Read(text, records));
  EXPECT_TRUE(editor.Validate(text));  // the content is not examined
  const auto isom = dir.Write("isom.mp4", SmallFile(Item("\xA9nam", 1, Text("T")), 441000, 992, "isom"));
  EXPECT_FALSE(editor.Read(isom, records));
  EXPECT_TRUE(records.empty());
}

TEST(AacEditorTest, AdtsOnlyWithTheLowerCaseExtension) {
  TempDir dir;
  ByteVec stream;
  for (int i = 0; i < 100; ++i) {
    const ByteVec frame = AdtsFrame(4, 400);
    stream.insert(stream.end(), frame.begin(), frame.end());
  }
  CAacEditor editor;
  CMetaDataItemList records;
  EXPECT_TRUE(editor.Read(dir.Write("a.aac", stream), records));
  EXPECT_NE(Record(records, u"SamplingFrequency"), nullptr);
  CMetaDataItemList upper;
  EXPECT_FALSE(editor.Read(dir.Write("b.AAC", stream), upper));
  EXPECT_TRUE(upper.empty());
}

TEST(AacEditorTest, SetPropertyChecks) {
  TempDir dir;
  const auto path = dir.Write("t.m4a", SmallFile(Item("\xA9nam", 1, Text("Song"))));
  CAacEditor editor;
  CMetaDataItemList records;
  ASSERT_TRUE(editor.Read(path, records));
  struct Row {
    const char* name;
    std::u16string path;
    std::u16string property;
    int type;
    _variant_t value;
    bool changed;
  };
  const Row rows[] = {
      {"same title", path, u"Title", 1, _variant_t(u"Song"), false},
      {"empty path", u"", u"Album", 1, _variant_t(u"X"), false},
      {"empty name", path, u"", 1, _variant_t(u"X"), false},
      {"unknown name", path, u"Mood", 1, _variant_t(u"X"), false},
      {"row without an item type", path, u"Lyricist", 1, _variant_t(u"X"), false},
      {"wrong type for Track", path, u"Track", 1, _variant_t(u"3"), false},
      {"unknown type code", path, u"Title", 2, _variant_t(u"X"), false},
      {"new album", path, u"album", 1, _variant_t(u"X"), true},
      {"remove title", path, u"Title", 1, _variant_t(), true},
      {"remove title again", path, u"Title", 1, _variant_t(), false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(editor.SetProperty(row.path, row.property, row.type, row.value), row.changed);
  }
  EXPECT_EQ(editor.GetFrameType(u"Picture"), 13);
  EXPECT_EQ(editor.GetFrameType(u""), -1);
}

class FfmpegFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
  }
  std::string Sine(const std::filesystem::path& out, const std::string& extra) {
    return "-f lavfi -i sine=frequency=440:duration=3 -c:a aac -metadata title=T -metadata artist=A "
           "-metadata album=B -metadata genre=Rock -metadata track=3/12 -metadata disc=1/2 " +
           extra + " '" + out.string() + "'";
  }
  TempDir dir;
};

TEST_F(FfmpegFileTest, ReadsWhatFfmpegWrote) {
  const ByteVec jpeg = {0xFF, 0xD8, 0xFF, 0xE0};  // replaced by a real picture below
  (void)jpeg;
  ASSERT_TRUE(RunFfmpeg("-f lavfi -i color=c=red:s=16x16:d=1 -frames:v 1 '" + (dir.path() / "cover.jpg").string() + "'"));
  struct Row {
    const char* name;
    std::string file;
    std::string args;
    bool cover;
  };
  const Row rows[] = {
      {"plain", "plain.m4a", "", false},
      {"faststart", "fast.m4a", "-movflags +faststart", false},
      {"brand mp42", "brand.mp4", "-brand mp42", false},
      {"with a cover", "cover.m4a", "", true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const auto out = dir.path() / row.file;
    std::string args;
    if (row.cover) {
      args = "-f lavfi -i sine=frequency=440:duration=3 -i '" + (dir.path() / "cover.jpg").string() +
             "' -map 0 -map 1 -c:a aac -c:v copy -disposition:v attached_pic -metadata title=T -metadata artist=A "
             "-metadata album=B -metadata genre=Rock -metadata track=3/12 -metadata disc=1/2 '" +
             out.string() + "'";
    } else {
      args = Sine(out, row.args);
    }
    ASSERT_TRUE(RunFfmpeg(args));
    CAacEditor editor;
    CMetaDataItemList records;
    ASSERT_TRUE(editor.Read(dir.PathOf(row.file), records));
    EXPECT_EQ(Text16(Record(records, u"Title")), u"T");
    EXPECT_EQ(Text16(Record(records, u"Artist")), u"A");
    EXPECT_EQ(Text16(Record(records, u"Album")), u"B");
    EXPECT_EQ(Text16(Record(records, u"Genre")), u"Rock");
    const CMetaDataItem* track = Record(records, u"Track");
    ASSERT_NE(track, nullptr);
    EXPECT_EQ(track->value.vt, VT_INT);
    EXPECT_EQ(track->value.intVal, 3);
    const CMetaDataItem* disk = Record(records, u"Disk");
    ASSERT_NE(disk, nullptr);
    EXPECT_EQ(disk->value.intVal, 1);
    const CMetaDataItem* duration = Record(records, u"Duration");
    ASSERT_NE(duration, nullptr);
    EXPECT_NEAR(duration->value.dblVal, 3.0, 0.1);
    const CMetaDataItem* rate = Record(records, u"SamplingFrequency");
    ASSERT_NE(rate, nullptr);
    EXPECT_EQ(rate->value.dblVal, 44100.0);
    const CMetaDataItem* bitrate = Record(records, u"Bitrate");
    ASSERT_NE(bitrate, nullptr);
    // The media data over the duration: the encoder's rate (about 128 kbit/s
    // for this sine wave, whatever ffmpeg chose) is in a sane range.
    EXPECT_GT(bitrate->value.intVal, 8'000);
    EXPECT_LT(bitrate->value.intVal, 400'000);
    if (row.cover) {
      const CMetaDataItem* picture = Record(records, u"Picture");
      ASSERT_NE(picture, nullptr);
      EXPECT_EQ(picture->value.vt, VT_ARRAY | VT_UI1);
      EXPECT_EQ(picture->dataType, 13);
    }
  }
}

}  // namespace

namespace {

std::vector<std::uint8_t> IlstOf(const ByteVec& file) {
  // The file's ilst, found by searching for its type (the fixtures hold one).
  const ByteVec type = Text("ilst");
  auto at = std::search(file.begin(), file.end(), type.begin(), type.end());
  if (at == file.end() || at - file.begin() < 4) return {};
  const auto start = static_cast<std::size_t>(at - file.begin()) - 4;
  const std::uint32_t size = LoadU32Unchecked(file.data() + start, Mp4ByteOrder::kBig);
  if (start + size > file.size()) return {};
  return ByteVec(file.begin() + static_cast<std::ptrdiff_t>(start), file.begin() + static_cast<std::ptrdiff_t>(start + size));
}

TEST(AacEditorWriteTest, ChangesAreWrittenAndTheRestIsKept) {
  TempDir dir;
  const ByteVec kept = Cat({Item("covr", 14, ByteVec{0x89, 'P', 'N', 'G'}), Item("prot", 21, ByteVec{1}),
                            Freeform("iTunSMPB", 1, Text(" 0000")), Item("trkn", 0, Cat({U32(3), U16(12), U16(0)}))});
  ByteVec file = Cat({Ftyp("M4A "),
                      Atom("moov", Cat({Mvhd(0, 44100, 441000), Trak(44100),
                                        Atom("udta", Cat({Atom("name", Text("clip")),
                                                          Atom("meta", Cat({U32(0), Atom("hdlr", Zeros(25)),
                                                                            Atom("ilst", Cat({Item("\xA9nam", 1, Text("Old")), kept}))}))}))})),
                      Atom("mdat", Zeros(992))});
  const auto path = dir.Write("w.m4a", file);
  CAacEditor editor;
  CMetaDataItemList records;
  ASSERT_TRUE(editor.Read(path, records));
  EXPECT_TRUE(editor.SetProperty(path, u"Title", 1, _variant_t(u"New")));
  EXPECT_TRUE(editor.SetProperty(path, u"Genre", 0, _variant_t(u"Rock")));
  ASSERT_TRUE(editor.Write(path));

  const ByteVec written = ReadBytes(dir.path() / "w.m4a");
  EXPECT_EQ(IlstOf(written), Atom("ilst", Cat({Item("\xA9nam", 1, Text("New")), kept, Item("gnre", 0, U16(18))})));
  const ByteVec name = Atom("name", Text("clip"));
  EXPECT_NE(std::search(written.begin(), written.end(), name.begin(), name.end()), written.end());

  CAacEditor again;
  CMetaDataItemList reread;
  ASSERT_TRUE(again.Read(path, reread));
  EXPECT_EQ(Text16(Record(reread, u"Title")), u"New");
  EXPECT_EQ(Text16(Record(reread, u"Genre")), u"Rock");
  EXPECT_EQ(Record(reread, u"Track")->value.intVal, 3);
  EXPECT_EQ(Record(reread, u"Duration")->value.dblVal, 10.0);

  // Removing the title takes its item out.
  EXPECT_TRUE(again.SetProperty(path, u"Title", 1, _variant_t()));
  ASSERT_TRUE(again.Write(path));
  EXPECT_EQ(IlstOf(ReadBytes(dir.path() / "w.m4a")), Atom("ilst", Cat({kept, Item("gnre", 0, U16(18))})));
}

TEST(AacEditorWriteTest, WhatIsNeverWritten) {
  TempDir dir;
  const ByteVec good = SmallFile(Item("\xA9nam", 1, Text("T")));
  const auto path = dir.Write("a.m4a", good);
  // No frames: nothing to write.
  CAacEditor empty;
  EXPECT_FALSE(empty.Write(path));
  // A file that has become one of another brand since it was read.
  CAacEditor editor;
  CMetaDataItemList records;
  ASSERT_TRUE(editor.Read(path, records));
  ASSERT_TRUE(editor.SetProperty(path, u"Title", 1, _variant_t(u"U")));
  const ByteVec isom = SmallFile(Item("\xA9nam", 1, Text("T")), 441000, 992, "isom");
  dir.Write("a.m4a", isom);
  EXPECT_FALSE(editor.Write(path));
  EXPECT_EQ(ReadBytes(dir.path() / "a.m4a"), isom);
  // A file gone missing.
  EXPECT_FALSE(editor.Write(dir.PathOf("gone.m4a")));
}

TEST_F(FfmpegFileTest, WrittenFilesStayPlayable) {
  struct Row {
    const char* name;
    std::string file;
    std::string args;
  };
  const Row rows[] = {
      {"moov after mdat", "late.m4a", ""},
      {"moov first", "fast.m4a", "-movflags +faststart"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const auto out = dir.path() / row.file;
    ASSERT_TRUE(RunFfmpeg(Sine(out, row.args)));
    CAacEditor editor;
    CMetaDataItemList records;
    ASSERT_TRUE(editor.Read(dir.PathOf(row.file), records));
    ASSERT_TRUE(editor.SetProperty(dir.PathOf(row.file), u"Title", 1, _variant_t(u"A much longer title than before")));
    ASSERT_TRUE(editor.SetProperty(dir.PathOf(row.file), u"Comment", 1, _variant_t(u"Grüße")));
    ASSERT_TRUE(editor.Write(dir.PathOf(row.file)));
    const std::string tags = ProbeTags(out);
    EXPECT_NE(tags.find("title=A much longer title than before"), std::string::npos) << tags;
    EXPECT_NE(tags.find("comment=Grüße"), std::string::npos) << tags;
    EXPECT_NE(tags.find("artist=A"), std::string::npos) << tags;
    EXPECT_NE(tags.find("genre=Rock"), std::string::npos) << tags;
    EXPECT_NE(tags.find("track=3/12"), std::string::npos) << tags;
    EXPECT_TRUE(DecodesCleanly(out));

    CAacEditor again;
    CMetaDataItemList reread;
    ASSERT_TRUE(again.Read(dir.PathOf(row.file), reread));
    EXPECT_EQ(Text16(Record(reread, u"Title")), u"A much longer title than before");
    EXPECT_EQ(Text16(Record(reread, u"Comment")), u"Grüße");
    EXPECT_NEAR(Record(reread, u"Duration")->value.dblVal, 3.0, 0.1);
  }
}

}  // namespace
