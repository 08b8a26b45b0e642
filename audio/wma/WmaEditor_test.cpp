#include "audio/wma/WmaEditor.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "audio/ByteArray.h"
#include "contract/PictureBody.h"
#include "contract/VelItemsLib.h"
#include "platform/com/oleauto.h"
#include "platform/text.h"
#include "testing/ReportMatchers.h"
#include "testing/TempDir.h"
#include "testing/servers/FakeWmEditor.h"

namespace {

using vel::testing::FakeWmFile;
using vel::testing::MakeFakeWmEditor;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint64_t kFileBytes = 1000;

_variant_t NullVariant() {
  _variant_t v;
  v.vt = VT_NULL;
  return v;
}

// A language source for a system whose language is language.
CWmaEditor::LanguageSource System(std::u16string language) {
  return [language] { return language; };
}

class WmaEditorTest : public ::testing::Test {
 protected:
  WmaEditorTest() : path_(dir_.Write("song.wma", Bytes(kFileBytes, 0x11))) {
    file_->AddNumber(u"FileSize", WMT_TYPE_QWORD, kFileBytes, true);
  }

  // ReadAll on the fake with a system of that language; the records.
  CMetaDataItemList Read(std::u16string language = u"en", bool* ok = nullptr) {
    editor_ = std::make_unique<CWmaEditor>(System(std::move(language)));
    CMetaDataItemList records;
    const bool done = editor_->ReadAll(path_, MakeFakeWmEditor(file_), records);
    if (ok) *ok = done;
    return records;
  }

  // ReadAll, then one write through the same editor, as the plugin does.
  bool Write(std::u16string_view name, std::u16string_view ns, const VARIANT& value) {
    CMetaDataItemList records = Read();
    ComPtr<IWMMetadataEditor> editor = MakeFakeWmEditor(file_);
    ComPtr<IWMHeaderInfo3> header;
    EXPECT_TRUE(SUCCEEDED(editor.QueryInterface(header)));
    records.clear();
    EXPECT_TRUE(editor_->ReadAll(path_, editor, records));
    return editor_->WriteAttribute(header, path_, name, ns, value);
  }

  static const CMetaDataItem* Find(const CMetaDataItemList& records, std::u16string_view name) {
    for (const CMetaDataItem& r : records) {
      if (r.name == name) return &r;
    }
    return nullptr;
  }
  static int Count(const CMetaDataItemList& records, std::u16string_view name) {
    int n = 0;
    for (const CMetaDataItem& r : records) n += r.name == name;
    return n;
  }
  static std::string Text(const CMetaDataItem* r) {
    if (!r) return "<none>";
    if (r->value.vt != VT_BSTR) return "<vt " + std::to_string(r->value.vt) + ">";
    return vel::ToUtf8(r->value.bstrVal ? r->value.bstrVal : u"");
  }

  vel::testing::TempDir dir_{"wma-editor"};
  std::u16string path_;
  std::shared_ptr<FakeWmFile> file_ = std::make_shared<FakeWmFile>();
  std::unique_ptr<CWmaEditor> editor_;
};

TEST_F(WmaEditorTest, ByteOrderFollowsTheFileSizeAttribute) {
  struct Row {
    const char* name;
    Bytes fileSize;  // the attribute's bytes; empty: no attribute
    bool readable;
    int swapBytes;
  };
  const auto be = [](std::uint64_t v) {
    Bytes b(8);
    for (int i = 0; i < 8; ++i) b[7 - i] = static_cast<std::uint8_t>(v >> (8 * i));
    return b;
  };
  const auto le = [&](std::uint64_t v) {
    Bytes b = be(v);
    return Bytes(b.rbegin(), b.rend());
  };
  const Row rows[] = {
      {"little-endian size (every ordinary file)", le(kFileBytes), true, 1},
      {"big-endian size, exact", be(kFileBytes), true, 0},
      {"big-endian size, 8 above", be(kFileBytes + 8), true, 0},
      {"big-endian size, 9 above", be(kFileBytes + 9), true, 1},
      {"big-endian size, 8 below", be(kFileBytes - 8), true, 0},
      {"big-endian size, 9 below", be(kFileBytes - 9), true, 1},
      {"negative read big-endian", be(0x8000000000000000ull), true, 1},
      {"size near the top of the range", be(0x7FFFFFFFFFFFFFFFull), true, 1},
      {"no FileSize attribute", {}, false, 0},
      {"FileSize of four bytes", {0, 0, 3, 0xE8}, false, 0},
  };
  for (const Row& row : rows) {
    file_ = std::make_shared<FakeWmFile>();
    if (!row.fileSize.empty()) file_->AddBytes(u"FileSize", WMT_TYPE_QWORD, row.fileSize);
    // A number in the order the size says, so the read shows the order too.
    file_->AddNumber(u"Bitrate", WMT_TYPE_DWORD, 128000, row.swapBytes == 1);
    bool ok = false;
    const CMetaDataItemList records = Read(u"en", &ok);
    EXPECT_EQ(ok, row.readable) << row.name;
    if (!row.readable) continue;
    EXPECT_EQ(editor_->swapBytes(), row.swapBytes) << row.name;
    const CMetaDataItem* bitrate = Find(records, u"Bitrate");
    ASSERT_NE(bitrate, nullptr) << row.name;
    EXPECT_EQ(bitrate->value.vt, VT_I4) << row.name;
    EXPECT_EQ(bitrate->value.lVal, 128000) << row.name;
  }
}

TEST_F(WmaEditorTest, TheSystemLanguageChoosesBetweenTwoAttributes) {
  struct Row {
    const char* name;
    std::u16string system;
    bool germanFirst;
    std::string want;
  };
  const Row rows[] = {
      {"German system, German second", u"de", false, "Titel"},
      {"German system, German first", u"de", true, "Titel"},
      {"French system: the first", u"fr", false, "Title"},
      {"French system, German first: the first", u"fr", true, "Titel"},
      {"no system language: the first", u"", false, "Title"},
  };
  for (const Row& row : rows) {
    file_ = std::make_shared<FakeWmFile>();
    file_->AddNumber(u"FileSize", WMT_TYPE_QWORD, kFileBytes, true);
    file_->languages = {u"", u"en-us", u"DE-de"};
    file_->AddText(u"Comment", u"c");
    if (row.germanFirst) file_->AddText(u"Title", u"Titel", 2);
    file_->AddText(u"Title", u"Title", 1);
    if (!row.germanFirst) file_->AddText(u"Title", u"Titel", 2);
    const CMetaDataItemList records = Read(row.system);
    EXPECT_EQ(editor_->preferredLanguage(), row.system) << row.name;
    EXPECT_EQ(Count(records, u"Title"), 1) << row.name;
    EXPECT_EQ(Text(Find(records, u"Title")), row.want) << row.name;
    EXPECT_EQ(Text(Find(records, u"Comment")), "c") << row.name;
  }
}

TEST_F(WmaEditorTest, AuthorGivesArtistAndAuthorOnceEach) {
  struct Row {
    const char* name;
    std::u16string system;
    std::string want;
  };
  for (const Row& row : {Row{"German system: the German author replaces both", u"de", "Autor"},
                         Row{"French system: the first stays", u"fr", "Author"}}) {
    file_ = std::make_shared<FakeWmFile>();
    file_->AddNumber(u"FileSize", WMT_TYPE_QWORD, kFileBytes, true);
    file_->languages = {u"", u"en-us", u"de-de"};
    file_->AddText(u"Author", u"Author", 1);
    file_->AddText(u"Author", u"Autor", 2);
    const CMetaDataItemList records = Read(row.system);
    EXPECT_EQ(Count(records, u"Artist"), 1) << row.name;
    EXPECT_EQ(Count(records, u"Author"), 1) << row.name;
    EXPECT_EQ(Text(Find(records, u"Artist")), row.want) << row.name;
    EXPECT_EQ(Text(Find(records, u"Author")), row.want) << row.name;
    EXPECT_EQ(Find(records, u"Author")->namespaceUri, kCoreNamespace) << row.name;
  }
  file_ = std::make_shared<FakeWmFile>();
  file_->AddNumber(u"FileSize", WMT_TYPE_QWORD, kFileBytes, true);
  file_->AddText(u"Author", u"X");
  const CMetaDataItemList records = Read();
  EXPECT_EQ(Text(Find(records, u"Artist")), "X");
  EXPECT_EQ(Text(Find(records, u"Author")), "X");
}

TEST_F(WmaEditorTest, ValuesBecomeTheirProperties) {
  const Bytes id = {0x33, 0x22, 0x11, 0x00, 0x55, 0x44, 0x77, 0x66, 0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF};
  struct Row {
    const char* name;
    std::u16string attribute;
    WMT_ATTR_DATATYPE type;
    Bytes bytes;
    std::u16string property;
    VARTYPE vt;
    std::string want;  // text of the value
    int dataType;
  };
  const auto text = [](std::u16string_view t) {
    Bytes b;
    for (char16_t c : t) {
      b.push_back(static_cast<std::uint8_t>(c));
      b.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    b.push_back(0);
    b.push_back(0);
    return b;
  };
  const Row rows[] = {
      {"rating digits", u"Rating", WMT_TYPE_STRING, text(u"42"), u"Rating", VT_I4, "42", 1},
      {"rating text", u"Rating", WMT_TYPE_STRING, text(u"abc"), u"Rating", VT_INT, "0", 1},
      {"rating empty", u"Rating", WMT_TYPE_STRING, text(u""), u"Rating", VT_INT, "0", 1},
      {"rating any case", u"rating", WMT_TYPE_STRING, text(u"7"), u"Rating", VT_I4, "7", 1},
      {"track 07", u"WM/TrackNumber", WMT_TYPE_STRING, text(u"07"), u"Track", VT_I4, "7", 1},
      {"track 7/12", u"WM/TrackNumber", WMT_TYPE_STRING, text(u"7/12"), u"Track", VT_I4, "7", 1},
      {"track as number", u"WM/TrackNumber", WMT_TYPE_DWORD, {9, 0, 0, 0}, u"Track", VT_I4, "9", 0},
      {"duration in seconds", u"Duration", WMT_TYPE_QWORD, {0xD2, 0x02, 0x96, 0x49, 0, 0, 0, 0}, u"Duration", VT_R8,
       "123.456789", 4},
      {"content ID", u"WM/WMContentID", WMT_TYPE_GUID, id, u"WMContentID", VT_BSTR,
       "{00112233-4455-6677-8899-aabbccddeeff}", 1},
      {"collection ID of 15 bytes", u"WM/WMCollectionID", WMT_TYPE_GUID, Bytes(id.begin(), id.end() - 1),
       u"WMCollectionID", VT_BSTR, "", 1},
      {"protected flag", u"Is_Protected", WMT_TYPE_BOOL, {1, 0, 0, 0}, u"Protected", VT_BOOL, "-1", 3},
      {"album", u"WM/AlbumTitle", WMT_TYPE_STRING, text(u"LP"), u"Album", VT_BSTR, "LP", 1},
  };
  for (const Row& row : rows) {
    file_ = std::make_shared<FakeWmFile>();
    file_->AddNumber(u"FileSize", WMT_TYPE_QWORD, kFileBytes, true);
    file_->AddBytes(u"Unmapped/Name", WMT_TYPE_STRING, text(u"x"));
    file_->AddBytes(row.attribute, row.type, row.bytes);
    const CMetaDataItemList records = Read();
    ASSERT_EQ(records.size(), 1u) << row.name << ": only the mapped attribute";
    EXPECT_EQ(records[0].name, row.property) << row.name;
    EXPECT_EQ(records[0].value.vt, row.vt) << row.name;
    _variant_t shown;
    shown.ChangeType(VT_BSTR, &records[0].value);
    std::string got = vel::ToUtf8(shown.bstrVal ? shown.bstrVal : u"");
    EXPECT_EQ(got, row.want) << row.name;
    EXPECT_EQ(records[0].dataType, row.dataType) << row.name;
  }
}

TEST_F(WmaEditorTest, ShortValuesAreDropped) {
  file_->AddBytes(u"Bitrate", WMT_TYPE_DWORD, {1, 2, 3});
  file_->AddBytes(u"Duration", WMT_TYPE_QWORD, {1, 2, 3, 4, 5, 6, 7});
  file_->AddBytes(u"WM/Picture", WMT_TYPE_BINARY, Bytes(sizeof(WM_PICTURE) - 1, 0));
  file_->AddText(u"Title", u"kept");
  bool ok = false;
  const CMetaDataItemList records = Read(u"en", &ok);
  EXPECT_TRUE(ok);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(Text(&records[0]), "kept");
}

TEST_F(WmaEditorTest, PicturesReadAsAttachedPictureBodies) {
  const Bytes data = {0xFF, 0xD8, 0xFF, 0xE0, 0x00};
  struct Row {
    const char* name;
    std::u16string description;
  };
  for (const Row& row : {Row{"Latin description", u"Cover"}, Row{"wide description", u"\u20AC"},
                         Row{"no description", u""}}) {
    file_ = std::make_shared<FakeWmFile>();
    file_->AddNumber(u"FileSize", WMT_TYPE_QWORD, kFileBytes, true);
    file_->AddPicture(u"image/jpeg", 3, row.description, data);
    const CMetaDataItemList records = Read();
    const CMetaDataItem* picture = Find(records, u"Picture");
    ASSERT_NE(picture, nullptr) << row.name;
    EXPECT_EQ(picture->namespaceUri, kExtendedNamespace) << row.name;
    std::vector<std::uint8_t> bytes;
    ASSERT_TRUE(GetByteArrayContent(picture->value, bytes)) << row.name;
    EXPECT_EQ(bytes, vel::wma::EncodePictureBody(u"image/jpeg", 3, row.description, data)) << row.name;
  }
}

TEST_F(WmaEditorTest, PicturePointersOutsideTheirBufferAreRefused) {
  // The structure, then "a" and its terminator, then two data bytes.
  Bytes buffer(sizeof(WM_PICTURE) + 6, 0);
  std::uint8_t* base = buffer.data();
  const std::size_t text = sizeof(WM_PICTURE);
  buffer[text] = 'a';
  std::uint8_t elsewhere[8] = {};
  struct Row {
    const char* name;
    const std::uint8_t* mime;
    const std::uint8_t* description;
    const std::uint8_t* data;
    DWORD dataLength;
    bool accepted;
  };
  const Row rows[] = {
      {"inside", base + text, nullptr, base + text + 4, 2, true},
      {"data running past the end", base + text, nullptr, base + text + 4, 3, false},
      {"data in another buffer", base + text, nullptr, elsewhere, 1, false},
      {"data missing", base + text, nullptr, nullptr, 1, false},
      {"text past the end", base + buffer.size(), nullptr, nullptr, 0, false},
      {"text without terminator inside", nullptr, base + buffer.size() - 1, nullptr, 0, false},
  };
  for (const Row& row : rows) {
    WM_PICTURE picture{};
    picture.pwszMIMEType = reinterpret_cast<LPWSTR>(const_cast<std::uint8_t*>(row.mime));
    picture.pwszDescription = reinterpret_cast<LPWSTR>(const_cast<std::uint8_t*>(row.description));
    picture.pbData = const_cast<std::uint8_t*>(row.data);
    picture.dwDataLen = row.dataLength;
    if (row.accepted) {
      std::vector<std::uint8_t> body;
      ASSERT_TRUE(GetByteArrayContent(CWmaEditor::FromWMPicture(picture, buffer), body)) << row.name;
      EXPECT_EQ(body, (Bytes{0, 'a', 0, 0, 0, 0, 0})) << row.name;
    } else {
      vel::testing::ExpectCode([&] { CWmaEditor::FromWMPicture(picture, buffer); }, 1006, row.name);
    }
  }
}

TEST_F(WmaEditorTest, WritesChangeTheAttributesAsDescribed) {
  file_->AddText(u"Title", u"Old");
  file_->AddText(u"Author", u"Someone");
  struct Row {
    const char* name;
    std::u16string property;
    std::u16string ns;
    _variant_t value;
    bool answer;
    std::u16string attribute;
    int present;     // how many attributes of that name afterwards
    Bytes stored;    // the first one's bytes when present
  };
  const Bytes seven = {'7', 0, 0, 0};
  const Row rows[] = {
      {"text replaces", u"Title", kCoreNamespace, _variant_t(u"New"), true, u"Title", 1, {'N', 0, 'e', 0, 'w', 0, 0, 0}},
      {"empty text changes nothing", u"Title", kCoreNamespace, _variant_t(u""), false, u"Title", 1,
       {'O', 0, 'l', 0, 'd', 0, 0, 0}},
      {"VT_EMPTY deletes", u"Title", kCoreNamespace, _variant_t(), true, u"Title", 0, {}},
      {"VT_NULL deletes", u"Artist", kCoreNamespace, NullVariant(), true, u"Author", 0, {}},
      {"VT_EMPTY of an absent attribute", u"Composer", kCoreNamespace, _variant_t(), true, u"WM/Composer", 0, {}},
      {"track number becomes text", u"Track", kCoreNamespace, _variant_t(7, VT_I4), true, u"WM/TrackNumber", 1, seven},
      {"rating becomes text", u"Rating", kCoreNamespace, _variant_t(static_cast<short>(7)), true, u"Rating", 1, seven},
      {"boolean: one byte", u"VariableBitRate", kExtendedNamespace, _variant_t(true), true, u"IsVBR", 1, {1}},
      {"number in the file's order", u"Disk", kExtendedNamespace, _variant_t(2, VT_I4), true, u"Disk", 1, {2, 0, 0, 0}},
      {"wrong namespace", u"Title", kExtendedNamespace, _variant_t(u"X"), false, u"Title", 1,
       {'O', 0, 'l', 0, 'd', 0, 0, 0}},
      {"no such property", u"Nothing", kCoreNamespace, _variant_t(u"X"), false, u"Nothing", 0, {}},
      {"unsupported type", u"Comment", kCoreNamespace, _variant_t(1.5), false, u"Comment", 0, {}},
  };
  for (const Row& row : rows) {
    file_ = std::make_shared<FakeWmFile>();
    file_->AddNumber(u"FileSize", WMT_TYPE_QWORD, kFileBytes, true);
    file_->AddText(u"Title", u"Old");
    file_->AddText(u"Author", u"Someone");
    EXPECT_EQ(Write(row.property, row.ns, row.value), row.answer) << row.name;
    EXPECT_EQ(file_->CountOf(row.attribute), static_cast<std::size_t>(row.present)) << row.name;
    if (row.present > 0) {
      EXPECT_EQ(file_->Find(row.attribute)->value, row.stored) << row.name;
    }
  }
}

TEST_F(WmaEditorTest, ReadOnlyPropertiesNeverReachTheRuntime) {
  for (const char16_t* name : {u"Duration", u"Bitrate", u"SamplingFrequency", u"Protected", u"DRM"}) {
    file_ = std::make_shared<FakeWmFile>();
    file_->AddNumber(u"FileSize", WMT_TYPE_QWORD, kFileBytes, true);
    EXPECT_FALSE(Write(name, kCoreNamespace, _variant_t(5, VT_I4))) << vel::ToUtf8(name);
    EXPECT_EQ(file_->changes, 0) << vel::ToUtf8(name);
  }
  file_ = std::make_shared<FakeWmFile>();
  file_->AddNumber(u"FileSize", WMT_TYPE_QWORD, kFileBytes, true);
  EXPECT_FALSE(Write(u"DRMKeyID", kExtendedNamespace, _variant_t(u"k")));
  EXPECT_EQ(file_->changes, 0);
}

TEST_F(WmaEditorTest, LongValuesAreNeverCut) {
  const std::u16string longText(40000, u'x');  // 80,002 bytes with its terminator
  // No attribute yet: the call that creates one has 16 bits of length.
  EXPECT_FALSE(Write(u"Lyrics", kExtendedNamespace, _variant_t(std::u16string_view(longText))));
  EXPECT_EQ(file_->CountOf(u"WM/Lyrics"), 0u);
  // An attribute that is there is changed through a call with 32 bits.
  file_->AddText(u"WM/Lyrics", u"short");
  EXPECT_TRUE(Write(u"Lyrics", kExtendedNamespace, _variant_t(std::u16string_view(longText))));
  EXPECT_EQ(file_->Find(u"WM/Lyrics")->value.size(), 2 * longText.size() + 2);

  // A picture keeps its 32-bit length whichever call carries it.
  const Bytes image(200000, 0x7E);
  const Bytes body = vel::wma::EncodePictureBody(u"image/png", 3, u"", image);
  for (bool present : {false, true}) {
    file_ = std::make_shared<FakeWmFile>();
    file_->AddNumber(u"FileSize", WMT_TYPE_QWORD, kFileBytes, true);
    if (present) file_->AddPicture(u"image/gif", 0, u"old", {1});
    EXPECT_TRUE(Write(u"Picture", kExtendedNamespace, MakeByteArrayVariant(body.data(), body.size())));
    ASSERT_EQ(file_->CountOf(u"WM/Picture"), 1u);
    const auto* stored = file_->Find(u"WM/Picture");
    EXPECT_EQ(stored->pictureData, image) << (present ? "modified" : "created");
    EXPECT_EQ(stored->mimeType, u"image/png");
    // Read back through the editor: the same body.
    const CMetaDataItemList records = Read();
    std::vector<std::uint8_t> back;
    ASSERT_TRUE(GetByteArrayContent(Find(records, u"Picture")->value, back));
    EXPECT_EQ(back, body);
  }
}

TEST_F(WmaEditorTest, PictureBodiesWrittenByEncoding) {
  const Bytes data = {1, 2, 3};
  struct Row {
    const char* name;
    Bytes head;  // everything before the data
    bool accepted;
    std::u16string mime;
    BYTE type;
    std::u16string description;
  };
  const Row rows[] = {
      {"encoding 0", {0, 'i', '/', 'p', 0, 3, 'C', 0}, true, u"i/p", 3, u"C"},
      {"encoding 1, FF FE", {1, 'i', 0, 4, 0xFF, 0xFE, 0xAC, 0x20, 0, 0}, true, u"i", 4, u"\u20AC"},
      {"encoding 1, FE FF", {1, 'i', 0, 4, 0xFE, 0xFF, 0x20, 0xAC, 0, 0}, true, u"i", 4, u"\u20AC"},
      {"encoding 1, no mark, empty", {1, 'i', 0, 4, 0, 0}, true, u"i", 4, u""},
      {"encoding 2", {2, 'i', 0, 5, 0, 'D', 0, 0}, true, u"i", 5, u"D"},
      {"encoding 3 (UTF-8) refused", {3, 'i', 0, 4, 'D', 0}, false, u"", 0, u""},
      {"encoding 1 with a bad mark refused", {1, 'i', 0, 4, 0x12, 0x34, 0, 0}, false, u"", 0, u""},
      {"unknown encoding refused", {7, 'i', 0, 4, 0}, false, u"", 0, u""},
  };
  for (const Row& row : rows) {
    file_ = std::make_shared<FakeWmFile>();
    file_->AddNumber(u"FileSize", WMT_TYPE_QWORD, kFileBytes, true);
    Bytes body = row.head;
    body.insert(body.end(), data.begin(), data.end());
    const _variant_t value = MakeByteArrayVariant(body.data(), body.size());
    if (!row.accepted) {
      vel::testing::ExpectCode([&] { Write(u"Picture", kExtendedNamespace, value); }, 1006, row.name);
      EXPECT_EQ(file_->CountOf(u"WM/Picture"), 0u) << row.name;
      continue;
    }
    EXPECT_TRUE(Write(u"Picture", kExtendedNamespace, value)) << row.name;
    const auto* stored = file_->Find(u"WM/Picture");
    ASSERT_NE(stored, nullptr) << row.name;
    EXPECT_EQ(stored->mimeType, row.mime) << row.name;
    EXPECT_EQ(stored->pictureType, row.type) << row.name;
    EXPECT_EQ(stored->description, row.description) << row.name;
    EXPECT_EQ(stored->pictureData, data) << row.name;
  }
}

TEST_F(WmaEditorTest, ABooleanWrittenTrueReadsBackTrue) {
  EXPECT_TRUE(Write(u"VariableBitRate", kExtendedNamespace, _variant_t(true)));
  EXPECT_EQ(file_->Find(u"IsVBR")->value, Bytes{1});
  const CMetaDataItemList records = Read();
  const CMetaDataItem* vbr = Find(records, u"VariableBitRate");
  ASSERT_NE(vbr, nullptr);
  EXPECT_EQ(vbr->value.vt, VT_BOOL);
  EXPECT_EQ(vbr->value.boolVal, VARIANT_TRUE);
}

}  // namespace
