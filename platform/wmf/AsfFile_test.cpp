// The ASF back end through the runtime's editor: attributes in order with
// their languages, rewriting the header only, and damaged files.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>

#include "platform/com/comdef.h"
#include "platform/win32/ReplacingFile.h"
#include "platform/win32/winerror.h"
#include "platform/wmf/AsfFile.h"
#include "platform/wmf/wmsdk.h"
#include "testing/AsfBuilder.h"
#include "testing/TempDir.h"

namespace {

using vel::testing::Bytes;
using vel::testing::ReadBytes;
using vel::testing::TempDir;
namespace asfb = vel::testing::asfb;

struct Listed {
  std::u16string name;
  WMT_ATTR_DATATYPE type;
  WORD language;
  Bytes value;
};

// Every attribute of stream 0, read the way callers do: sizes first.
std::vector<Listed> ReadAll(IWMHeaderInfo3* header) {
  std::vector<Listed> out;
  WORD count = 0;
  EXPECT_EQ(header->GetAttributeCountEx(0, &count), S_OK);
  for (WORD i = 0; i < count; ++i) {
    WORD nameLength = 0, language = 0;
    DWORD length = 0;
    WMT_ATTR_DATATYPE type{};
    EXPECT_EQ(header->GetAttributeByIndexEx(0, i, nullptr, &nameLength, &type, &language, nullptr, &length), S_OK);
    std::u16string name(nameLength, u'\0');
    Bytes value(length);
    EXPECT_EQ(header->GetAttributeByIndexEx(0, i, name.data(), &nameLength, &type, &language, value.data(), &length),
              S_OK);
    name.resize(nameLength > 0 ? nameLength - 1 : 0);
    out.push_back(Listed{name, type, language, std::move(value)});  // moved: a picture points into it
  }
  return out;
}

struct Opened {
  ComPtr<IWMMetadataEditor> editor;
  ComPtr<IWMHeaderInfo3> header;
  HRESULT hr = E_FAIL;
};

Opened OpenEditor(const std::u16string& path) {
  Opened o;
  EXPECT_EQ(WMCreateEditor(&o.editor), S_OK);
  o.hr = o.editor->Open(path.c_str());
  if (SUCCEEDED(o.hr)) {
    EXPECT_EQ(o.editor->QueryInterface(&o.header), S_OK);
  }
  return o;
}

Bytes Text(const std::u16string& s) { return asfb::Utf16z(s); }

const Listed* Find(const std::vector<Listed>& list, const std::u16string& name, WORD language = 0) {
  for (const Listed& l : list)
    if (l.name == name && l.language == language) return &l;
  return nullptr;
}

Bytes SampleFile() {
  return asfb::File({
      asfb::FileProperties(30'000'000, 3000, 128000),
      asfb::AudioStream(1, 0x161, 2, 44100, 16000),
      asfb::UnknownObject(1, 33),
      asfb::ContentDescription({u"Song", u"Band", u"", u"", u""}),
      asfb::ExtendedContentDescription({{u"WM/AlbumTitle", asfb::kString, Text(u"Album")},
                                        {u"WM/TrackNumber", asfb::kDword, asfb::Le(7, 4)},
                                        {u"IsVBR", asfb::kBool, asfb::Le(1, 4)}}),
      asfb::HeaderExtension({asfb::UnknownObject(2, 17), asfb::LanguageList({u"en-us", u"de-de"}),
                             asfb::Metadata({{u"WM/Mood", asfb::kString, Text(u"calm"), 0, 0}}, false),
                             asfb::Metadata({{u"Title", asfb::kString, Text(u"Lied"), 1, 0},
                                             {u"WM/Flag", asfb::kBool, asfb::Le(1, 2), 0, 0}},
                                            true)}),
  });
}

TEST(AsfFileTest, AttributesComeInOrderWithTheirLanguages) {
  TempDir dir;
  Bytes file = SampleFile();
  auto path = dir.Write("a.wma", file);
  Opened o = OpenEditor(path);
  ASSERT_EQ(o.hr, S_OK);
  auto list = ReadAll(o.header);
  struct Row {
    std::u16string name;
    WMT_ATTR_DATATYPE type;
    WORD language;
  };
  const Row expected[] = {
      {u"FileSize", WMT_TYPE_QWORD, 0},  {u"Duration", WMT_TYPE_QWORD, 0},       {u"Bitrate", WMT_TYPE_DWORD, 0},
      {u"Is_Protected", WMT_TYPE_BOOL, 0}, {u"Title", WMT_TYPE_STRING, 0},      {u"Author", WMT_TYPE_STRING, 0},
      {u"WM/AlbumTitle", WMT_TYPE_STRING, 0}, {u"WM/TrackNumber", WMT_TYPE_DWORD, 0}, {u"IsVBR", WMT_TYPE_BOOL, 0},
      {u"WM/Mood", WMT_TYPE_STRING, 0},  {u"Title", WMT_TYPE_STRING, 1},        {u"WM/Flag", WMT_TYPE_BOOL, 0},
  };
  ASSERT_EQ(list.size(), std::size(expected));
  for (std::size_t i = 0; i < list.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(list[i].name, expected[i].name);
    EXPECT_EQ(list[i].type, expected[i].type);
    EXPECT_EQ(list[i].language, expected[i].language);
  }
  EXPECT_EQ(list[0].value, asfb::Le(file.size(), 8));
  EXPECT_EQ(list[1].value, asfb::Le(30'000'000 - 3000 * 10000, 8));
  EXPECT_EQ(list[2].value, asfb::Le(128000, 4));
  EXPECT_EQ(list[3].value, asfb::Le(0, 4));
  EXPECT_EQ(list[10].value, Text(u"Lied"));
  EXPECT_EQ(list[11].value, asfb::Le(1, 4));  // a 16-bit stored BOOL comes out as four bytes

  ComPtr<IWMLanguageList> languages;
  ASSERT_EQ(o.editor->QueryInterface(&languages), S_OK);
  WORD length = 0;
  ASSERT_EQ(languages->GetLanguageDetails(1, nullptr, &length), S_OK);
  std::u16string language(length, u'\0');
  WORD tooSmall = 2;
  EXPECT_EQ(languages->GetLanguageDetails(1, language.data(), &tooSmall), ASF_E_BUFFERTOOSMALL);
  ASSERT_EQ(languages->GetLanguageDetails(1, language.data(), &length), S_OK);
  EXPECT_EQ(language, std::u16string(u"de-de", 6));
  EXPECT_EQ(languages->GetLanguageDetails(2, nullptr, &length), E_INVALIDARG);
}

TEST(AsfFileTest, CallsFollowThePlatformPattern) {
  TempDir dir;
  auto path = dir.Write("a.wma", SampleFile());
  Opened o = OpenEditor(path);
  ASSERT_EQ(o.hr, S_OK);
  WORD nameLength = 0, language = 0;
  DWORD length = 0;
  WMT_ATTR_DATATYPE type{};
  ASSERT_EQ(o.header->GetAttributeByIndexEx(0, 4, nullptr, &nameLength, &type, &language, nullptr, &length), S_OK);
  EXPECT_EQ(nameLength, 6);  // "Title" and its terminator
  EXPECT_EQ(length, Text(u"Song").size());
  Bytes small(length - 1);
  DWORD smallLength = length - 1;
  EXPECT_EQ(o.header->GetAttributeByIndexEx(0, 4, nullptr, &nameLength, &type, &language, small.data(), &smallLength),
            ASF_E_BUFFERTOOSMALL);
  EXPECT_EQ(smallLength, length);
  EXPECT_EQ(o.header->GetAttributeByIndexEx(0, 200, nullptr, &nameLength, &type, &language, nullptr, &length),
            E_INVALIDARG);

  WORD language0 = 0, count = 0;
  ASSERT_EQ(o.header->GetAttributeIndices(0, u"Title", nullptr, nullptr, &count), S_OK);
  EXPECT_EQ(count, 2);
  std::vector<WORD> indices(count);
  WORD one = 1;
  EXPECT_EQ(o.header->GetAttributeIndices(0, u"Title", nullptr, indices.data(), &one), ASF_E_BUFFERTOOSMALL);
  ASSERT_EQ(o.header->GetAttributeIndices(0, u"Title", nullptr, indices.data(), &count), S_OK);
  EXPECT_EQ(indices, (std::vector<WORD>{4, 10}));
  count = 1;
  ASSERT_EQ(o.header->GetAttributeIndices(0, u"Title", &language0, indices.data(), &count), S_OK);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(indices[0], 4);
  count = 5;
  EXPECT_EQ(o.header->GetAttributeIndices(0, u"Nothing", &language0, indices.data(), &count), S_OK);
  EXPECT_EQ(count, 0);

  WORD stream = 0, valueLength = 0;
  ASSERT_EQ(o.header->GetAttributeByName(&stream, u"WM/AlbumTitle", &type, nullptr, &valueLength), S_OK);
  EXPECT_EQ(valueLength, Text(u"Album").size());
  Bytes album(valueLength);
  ASSERT_EQ(o.header->GetAttributeByName(&stream, u"WM/AlbumTitle", &type, album.data(), &valueLength), S_OK);
  EXPECT_EQ(album, Text(u"Album"));
  EXPECT_EQ(type, WMT_TYPE_STRING);
  EXPECT_EQ(o.header->GetAttributeByName(&stream, u"WM/Nothing", &type, nullptr, &valueLength), ASF_E_NOTFOUND);

  // The computed attributes cannot be changed.
  EXPECT_EQ(o.header->DeleteAttribute(0, 0), NS_E_INVALID_REQUEST);
  EXPECT_EQ(o.header->SetAttribute(0, u"Duration", WMT_TYPE_QWORD, asfb::Le(5, 8).data(), 8), NS_E_INVALID_REQUEST);
  // Wrong lengths for fixed-size types.
  EXPECT_EQ(o.header->SetAttribute(0, u"X", WMT_TYPE_DWORD, asfb::Le(5, 8).data(), 3), E_INVALIDARG);

  ComPtr<IWMMetadataEditor> fresh;
  ASSERT_EQ(WMCreateEditor(&fresh), S_OK);
  EXPECT_EQ(fresh->Open(dir.WFile("missing.wma").c_str()), NS_E_FILE_NOT_FOUND);
  EXPECT_EQ(fresh->Flush(), NS_E_INVALID_REQUEST);
  auto text = dir.Write("plain.wma", Bytes{'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd'});
  EXPECT_EQ(fresh->Open(text.c_str()), NS_E_INVALID_INPUT_FORMAT);
  // The content decides, not the name.
  auto named = dir.Write("looks-like.mp3", SampleFile());
  Opened byContent = OpenEditor(named);
  ASSERT_EQ(byContent.hr, S_OK);
  EXPECT_EQ(ReadAll(byContent.header).size(), 12u);
}


std::size_t FilesIn(const TempDir& dir) {
  std::size_t n = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.path())) ++n;
  return n;
}

TEST(AsfFileTest, FlushRewritesOnlyTheHeader) {
  TempDir dir;
  Bytes original = SampleFile();
  auto path = dir.Write("a.wma", original);
  std::uint64_t oldHeader = LoadU64Unchecked(original.data() + 16, vel::ByteOrder::kLittle);
  {
    Opened o = OpenEditor(path);
    ASSERT_EQ(o.hr, S_OK);
    Bytes title = Text(u"New title");
    ASSERT_EQ(o.header->SetAttribute(0, u"Title", WMT_TYPE_STRING, title.data(), static_cast<WORD>(title.size())),
              S_OK);
    Bytes big(70000);
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<std::uint8_t>(i * 3);
    WORD index = 0;
    ASSERT_EQ(o.header->AddAttribute(0, u"WM/Big", &index, WMT_TYPE_BINARY, 0, big.data(), big.size()), S_OK);
    Bytes id(16, 0x42);
    ASSERT_EQ(o.header->AddAttribute(0, u"WM/SomeID", &index, WMT_TYPE_GUID, 0, id.data(), 16), S_OK);
    WORD count = 1, mood = 0;
    WORD zero = 0;
    ASSERT_EQ(o.header->GetAttributeIndices(0, u"WM/Mood", &zero, &mood, &count), S_OK);
    ASSERT_EQ(count, 1);
    ASSERT_EQ(o.header->DeleteAttribute(0, mood), S_OK);
    ComPtr<IWMLanguageList> languages;
    ASSERT_EQ(o.editor->QueryInterface(&languages), S_OK);
    WORD french = 0, again = 0;
    ASSERT_EQ(languages->AddLanguageByRFC1766String(u"fr-fr", &french), S_OK);
    EXPECT_EQ(french, 2);
    ASSERT_EQ(languages->AddLanguageByRFC1766String(u"DE-de", &again), S_OK);
    EXPECT_EQ(again, 1);  // already listed
    Bytes titre = Text(u"Chanson");
    ASSERT_EQ(o.header->AddAttribute(0, u"Title", &index, WMT_TYPE_STRING, french, titre.data(), titre.size()), S_OK);
    EXPECT_EQ(o.header->AddAttribute(0, u"Title", &index, WMT_TYPE_STRING, 9, titre.data(), titre.size()), E_INVALIDARG);
    ASSERT_EQ(o.editor->Flush(), S_OK);
    ASSERT_EQ(o.editor->Close(), S_OK);
  }
  Bytes now = ReadBytes(dir.File("a.wma"));
  std::uint64_t newHeader = LoadU64Unchecked(now.data() + 16, vel::ByteOrder::kLittle);
  // The data and index objects are copied unchanged.
  ASSERT_GE(now.size(), newHeader);
  EXPECT_EQ(Bytes(now.begin() + static_cast<long>(newHeader), now.end()),
            Bytes(original.begin() + static_cast<long>(oldHeader), original.end()));
  // Unknown objects are kept byte for byte, at the top level and in the header extension.
  for (const Bytes& unknown : {asfb::UnknownObject(1, 33), asfb::UnknownObject(2, 17)})
    EXPECT_NE(std::search(now.begin(), now.end(), unknown.begin(), unknown.end()), now.end());

  Opened o = OpenEditor(path);
  ASSERT_EQ(o.hr, S_OK);
  auto list = ReadAll(o.header);
  EXPECT_EQ(list[0].value, asfb::Le(now.size(), 8));  // the File Properties size follows the new header
  ASSERT_NE(Find(list, u"Title"), nullptr);
  EXPECT_EQ(Find(list, u"Title")->value, Text(u"New title"));
  EXPECT_EQ(Find(list, u"Title", 1)->value, Text(u"Lied"));
  ASSERT_NE(Find(list, u"Title", 2), nullptr);
  EXPECT_EQ(Find(list, u"Title", 2)->value, Text(u"Chanson"));
  EXPECT_EQ(Find(list, u"WM/Mood"), nullptr);
  ASSERT_NE(Find(list, u"WM/Big"), nullptr);
  EXPECT_EQ(Find(list, u"WM/Big")->value.size(), 70000u);
  EXPECT_EQ(Find(list, u"WM/Big")->value[69999], static_cast<std::uint8_t>(69999 * 3));
  ASSERT_NE(Find(list, u"WM/SomeID"), nullptr);
  EXPECT_EQ(Find(list, u"WM/SomeID")->type, WMT_TYPE_GUID);
  EXPECT_EQ(Find(list, u"WM/TrackNumber")->value, asfb::Le(7, 4));
  EXPECT_EQ(Find(list, u"WM/Flag")->value, asfb::Le(1, 4));
  EXPECT_EQ(FilesIn(dir), 1u);  // no temporary file left
}

TEST(AsfFileTest, FlushWithoutChangeLeavesTheFileAlone) {
  TempDir dir;
  auto path = dir.Write("a.wma", SampleFile());
  struct stat before {};
  ASSERT_EQ(::stat(dir.File("a.wma").c_str(), &before), 0);
  Opened o = OpenEditor(path);
  ASSERT_EQ(o.hr, S_OK);
  Bytes same = Text(u"Song");
  WORD index = 4;
  ASSERT_EQ(o.header->ModifyAttribute(0, index, WMT_TYPE_STRING, 0, same.data(), same.size()), S_OK);
  ASSERT_EQ(o.editor->Flush(), S_OK);
  struct stat after {};
  ASSERT_EQ(::stat(dir.File("a.wma").c_str(), &after), 0);
  EXPECT_EQ(before.st_ino, after.st_ino);  // a rewrite would have renamed a new file over it
  EXPECT_EQ(ReadBytes(dir.File("a.wma")), SampleFile());
}

TEST(AsfFileTest, ReadOnlyFileIsRefusedAndUntouched) {
  TempDir dir;
  auto path = dir.Write("a.wma", SampleFile());
  ASSERT_EQ(::chmod(dir.File("a.wma").c_str(), 0444), 0);
  Opened o = OpenEditor(path);
  ASSERT_EQ(o.hr, S_OK);
  Bytes title = Text(u"Other");
  ASSERT_EQ(o.header->SetAttribute(0, u"Title", WMT_TYPE_STRING, title.data(), static_cast<WORD>(title.size())), S_OK);
  EXPECT_EQ(o.editor->Flush(), HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED));
  EXPECT_EQ(ReadBytes(dir.File("a.wma")), SampleFile());
  EXPECT_EQ(FilesIn(dir), 1u);
}

TEST(AsfFileTest, EveryPrefixReadsWhatItHoldsAndIsNeverSaved) {
  Bytes file = SampleFile();
  std::uint64_t headerSize = LoadU64Unchecked(file.data() + 16, vel::ByteOrder::kLittle);
  auto full = vel::wmf::AsfFile::Parse(std::span(file).first(headerSize), file.size());
  ASSERT_TRUE(full->complete());
  for (std::size_t n = 0; n < headerSize; ++n) {
    SCOPED_TRACE(n);
    Bytes prefix(file.begin(), file.begin() + static_cast<long>(n));
    auto part = vel::wmf::AsfFile::Parse(prefix, prefix.size());
    EXPECT_FALSE(part->complete());
    // What was read is the start of the full list.
    const auto& got = part->attributes();
    ASSERT_LE(got.size(), full->attributes().size());
    for (std::size_t i = 0; i < got.size(); ++i) EXPECT_EQ(got[i], full->attributes()[i]);
    part->ComputedAttributes();
    vel::ReplacingFile writer(u"/nonexistent/never-written.wma");
    EXPECT_EQ(part->Save(writer), NS_E_INVALID_DATA);
  }
}

// A whole header over a file that holds less than its objects claim: read,
// but a write leaves the file byte for byte as it was. A header with nothing
// after it claims nothing and is saved.
TEST(AsfFileTest, AFileShorterThanItsClaimsIsNeverSaved) {
  const Bytes file = SampleFile();
  const std::size_t headerSize = static_cast<std::size_t>(LoadU64Unchecked(file.data() + 16, vel::ByteOrder::kLittle));
  // Where File Properties keeps the file's size.
  std::size_t sizeAt = 0;
  for (std::size_t at = 30; at + 24 <= headerSize;) {
    vel::ByteReader r(std::span<const std::uint8_t>(file).subspan(at), vel::ByteOrder::kLittle);
    const GUID id = vel::wmf::asf::ReadGuid(r);
    if (id == vel::wmf::asf::kFileProperties) sizeAt = at + 24 + 16;
    at += static_cast<std::size_t>(r.U64());
  }
  ASSERT_NE(sizeAt, 0u);
  auto patched = [&](std::size_t at, std::uint64_t value) {
    Bytes out = file;
    vel::ByteWriter(out, vel::ByteOrder::kLittle).PatchU64(at, value);
    return out;
  };
  auto cut = [&](std::size_t n) { return Bytes(file.begin(), file.begin() + static_cast<long>(n)); };
  Bytes headerOnly = patched(sizeAt, headerSize);
  headerOnly.resize(headerSize);
  const struct {
    const char* name;
    Bytes bytes;
    HRESULT flushed;
  } cases[] = {
      {"cut in data", cut(headerSize + 100), NS_E_INVALID_DATA},
      {"cut in the data object's header", cut(headerSize + 10), NS_E_INVALID_DATA},
      {"data object larger than the file", patched(headerSize + 16, file.size()), NS_E_INVALID_DATA},
      {"File Properties size past the end", patched(sizeAt, file.size() + 1), NS_E_INVALID_DATA},
      {"header only", headerOnly, S_OK},
      {"whole", file, S_OK},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    auto path = dir.Write("a.wma", c.bytes);
    Opened o = OpenEditor(path);
    ASSERT_EQ(o.hr, S_OK);
    EXPECT_NE(Find(ReadAll(o.header), u"WM/AlbumTitle"), nullptr);
    Bytes title = Text(u"Other");
    ASSERT_EQ(o.header->SetAttribute(0, u"Title", WMT_TYPE_STRING, title.data(), static_cast<WORD>(title.size())),
              S_OK);
    EXPECT_EQ(o.editor->Flush(), c.flushed);
    EXPECT_EQ(o.editor->Close(), S_OK);
    if (FAILED(c.flushed)) {
      EXPECT_EQ(ReadBytes(dir.File("a.wma")), c.bytes);
    } else {
      EXPECT_NE(ReadBytes(dir.File("a.wma")), c.bytes);
    }
  }
}

TEST(AsfFileTest, DamagedObjectsYieldWhatCouldBeRead) {
  auto patchSize = [](Bytes object, std::uint64_t size) {
    vel::ByteWriter(object, vel::ByteOrder::kLittle).PatchU64(16, size);
    return object;
  };
  Bytes description = asfb::ContentDescription({u"Song", u"", u"", u"", u""});
  Bytes extended = asfb::ExtendedContentDescription({{u"WM/AlbumTitle", asfb::kString, Text(u"Album")}});
  Bytes overCount = extended;
  vel::ByteWriter(overCount, vel::ByteOrder::kLittle).PatchU16(24, 500);
  struct Case {
    const char* name;
    Bytes damaged;
    bool titleRead;
  };
  const Case cases[] = {
      {"size 0", patchSize(extended, 0), true},
      {"size past the header", patchSize(extended, 100000), true},
      {"size past the file", patchSize(extended, 1ull << 40), true},
      {"size below its own header", patchSize(extended, 10), true},
      {"count larger than the object", overCount, true},
      {"description lengths past the object", patchSize(description, 30), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    std::vector<Bytes> children = {asfb::FileProperties(10'000'000, 0, 1000)};
    if (std::string(c.name).find("description") == std::string::npos) children.push_back(description);
    children.push_back(c.damaged);
    Bytes file = asfb::File(children);
    auto path = dir.Write("d.asf", file);
    Opened o = OpenEditor(path);
    ASSERT_EQ(o.hr, S_OK);
    auto list = ReadAll(o.header);
    EXPECT_EQ(Find(list, u"Title") != nullptr, c.titleRead);
    Bytes title = Text(u"Changed");
    ASSERT_EQ(o.header->SetAttribute(0, u"Title", WMT_TYPE_STRING, title.data(), static_cast<WORD>(title.size())),
              S_OK);
    EXPECT_EQ(o.editor->Flush(), NS_E_INVALID_DATA);
    EXPECT_EQ(ReadBytes(dir.File("d.asf")), file);
  }
}

TEST(AsfFileTest, RandomBytesNeverCrash) {
  Bytes file = SampleFile();
  std::uint32_t state = 12345;
  auto next = [&] { return state = state * 1103515245u + 12345u; };
  for (int round = 0; round < 300; ++round) {
    Bytes mutated = file;
    for (int k = 0; k < 8; ++k) mutated[(next() >> 8) % mutated.size()] = static_cast<std::uint8_t>(next() >> 16);
    auto parsed = vel::wmf::AsfFile::Parse(mutated, mutated.size());
    parsed->ComputedAttributes();
    parsed->Streams();
    if (parsed->complete()) {
      EXPECT_FALSE(parsed->BuildHeader(100).empty());
    }
  }
}

TEST(AsfFileTest, FilesOver4GiBKeepTheirSize) {
  TempDir dir;
  Bytes file = SampleFile();
  std::uint64_t big = (5ull << 30) + 123;
  auto path = dir.Write("big.wmv", file);
  ASSERT_EQ(::truncate(dir.File("big.wmv").c_str(), static_cast<off_t>(big)), 0);
  Opened o = OpenEditor(path);
  ASSERT_EQ(o.hr, S_OK);
  auto list = ReadAll(o.header);
  ASSERT_FALSE(list.empty());
  // The header states the size it was built with; the real size is what a header without one gives.
  EXPECT_EQ(list[0].value, asfb::Le(file.size(), 8));
  Bytes noSize = asfb::File({asfb::ContentDescription({u"T", u"", u"", u"", u""})});
  auto path2 = dir.Write("big2.wmv", noSize);
  ASSERT_EQ(::truncate(dir.File("big2.wmv").c_str(), static_cast<off_t>(big)), 0);
  Opened o2 = OpenEditor(path2);
  ASSERT_EQ(o2.hr, S_OK);
  EXPECT_EQ(ReadAll(o2.header)[0].value, asfb::Le(big, 8));
}

// A write that runs out of room (a file size limit stands in for a full
// disk) fails with the writer's Win32 error and leaves the file as it was.
TEST(AsfFileTest, AFailedWriteLeavesTheFileAlone) {
  TempDir dir;
  std::vector<Bytes> children = {asfb::FileProperties(10'000'000, 0, 1000),
                                 asfb::ContentDescription({u"Song", u"", u"", u"", u""})};
  Bytes file = asfb::File(children, 200000);
  auto path = dir.Write("full.wma", file);
  Opened o = OpenEditor(path);
  ASSERT_EQ(o.hr, S_OK);
  Bytes title = Text(u"Other");
  ASSERT_EQ(o.header->SetAttribute(0, u"Title", WMT_TYPE_STRING, title.data(), static_cast<WORD>(title.size())), S_OK);

  struct rlimit before {};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &before), 0);
  auto previous = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit limited = before;
  limited.rlim_cur = 100000;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
  HRESULT hr = o.editor->Flush();
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &before), 0);
  std::signal(SIGXFSZ, previous);

  EXPECT_TRUE(FAILED(hr));
  EXPECT_EQ(HRESULT_FACILITY(hr), static_cast<unsigned>(FACILITY_WIN32)) << std::hex << hr;
  EXPECT_EQ(ReadBytes(dir.File("full.wma")), file);
  EXPECT_EQ(FilesIn(dir), 1u);
}

}  // namespace
