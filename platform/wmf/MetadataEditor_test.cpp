// The editor's picture values (WM_PICTURE in and out), writers of one file
// taking turns, and the synchronous reader's stream walk.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <future>
#include <string>
#include <thread>

#include "platform/com/comdef.h"
#include "platform/win32/fileapi.h"
#include "platform/win32/winerror.h"
#include "platform/wmf/wmsdk.h"
#include "testing/AsfBuilder.h"
#include "testing/TempDir.h"

namespace {

using vel::testing::Bytes;
using vel::testing::TempDir;
namespace asfb = vel::testing::asfb;

Bytes SmallFile() {
  return asfb::File({asfb::FileProperties(20'000'000, 0, 64000), asfb::AudioStream(1, 0x161, 2, 44100, 16000),
                     asfb::ContentDescription({u"Song", u"", u"", u"", u""})});
}

// A bare MPEG-1 layer III stream (128 kbit/s, 44.1 kHz, silent frames): what
// the MP3 back end needs to open a file.
Bytes Mp3Frames(int frames) {
  Bytes out;
  for (int frame = 0; frame < frames; ++frame) {
    const Bytes header = {0xFF, 0xFB, 0x90, 0x00};
    out.insert(out.end(), header.begin(), header.end());
    out.resize(out.size() + 413, 0);
  }
  return out;
}
Bytes Mp3File() { return Mp3Frames(40); }

// True when a writer of this module holds the file's lock (a non-blocking
// lock of it fails).
bool LockedByAWriter(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool busy = ::flock(fd, LOCK_EX | LOCK_NB) != 0;
  ::close(fd);
  return busy;
}

ComPtr<IWMHeaderInfo3> HeaderOf(IWMMetadataEditor* editor) {
  ComPtr<IWMHeaderInfo3> header;
  EXPECT_EQ(ComPtr<IWMMetadataEditor>(editor).QueryInterface(&header), S_OK);
  return header;
}

HRESULT SetText(IWMHeaderInfo3* header, const char16_t* name, const std::u16string& text) {
  Bytes value = asfb::Utf16z(text);
  return header->SetAttribute(0, name, WMT_TYPE_STRING, value.data(), static_cast<WORD>(value.size()));
}

// The text attribute's value as read by a fresh editor opened for reading;
// "(none)" when the file has no such attribute.
std::u16string TextOf(IWMMetadataEditor* editor, const char16_t* name) {
  ComPtr<IWMHeaderInfo3> header = HeaderOf(editor);
  WORD stream = 0, length = 0;
  WMT_ATTR_DATATYPE type{};
  if (FAILED(header->GetAttributeByName(&stream, name, &type, nullptr, &length))) return u"(none)";
  Bytes value(length);
  if (FAILED(header->GetAttributeByName(&stream, name, &type, value.data(), &length)) || type != WMT_TYPE_STRING)
    return u"(not text)";
  std::u16string text;
  for (std::size_t i = 0; i + 1 < value.size(); i += 2) {
    const char16_t c = static_cast<char16_t>(value[i] | (value[i + 1] << 8));
    if (c == 0) break;
    text.push_back(c);
  }
  return text;
}

// An editor opened for writing holds the file's lock from Open, before it
// reads, to Close: a second writer's Open waits and then reads the first one's
// result, so neither edit is lost; readers never wait.
TEST(MetadataEditorTest, WritersOfOneFileTakeTurnsFromOpenToClose) {
  const struct {
    const char* name;
    const char* file;
    Bytes bytes;
  } cases[] = {{"wma", "t.wma", SmallFile()}, {"mp3", "t.mp3", Mp3File()}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::u16string path = dir.Write(c.file, c.bytes);
    ComPtr<IWMMetadataEditor> first;
    ASSERT_EQ(WMCreateEditor(&first), S_OK);
    ASSERT_EQ(first->Open(path.c_str()), S_OK);
    EXPECT_TRUE(LockedByAWriter(dir.File(c.file)));

    // A reader opens and reads while the writer holds the file.
    auto reader = std::async(std::launch::async, [&] {
      ComPtr<IWMMetadataEditor2> editor;
      if (FAILED(WMCreateEditor(reinterpret_cast<IWMMetadataEditor**>(&editor)))) return std::u16string(u"(failed)");
      if (FAILED(editor->OpenEx(path.c_str(), GENERIC_READ, FILE_SHARE_READ))) return std::u16string(u"(failed)");
      std::u16string album = TextOf(editor.get(), g_wszWMAlbumTitle);
      editor->Close();
      return album;
    });
    ASSERT_EQ(reader.wait_for(std::chrono::seconds(60)), std::future_status::ready) << "a reader waited for the writer";
    EXPECT_EQ(reader.get(), u"(none)");

    std::atomic<bool> secondOpened{false};
    std::u16string titleSeenBySecond;
    HRESULT secondFlushed = E_FAIL;
    std::thread second([&] {
      ComPtr<IWMMetadataEditor> editor;
      if (FAILED(WMCreateEditor(&editor)) || FAILED(editor->Open(path.c_str()))) return;
      secondOpened = true;
      titleSeenBySecond = TextOf(editor.get(), u"Title");
      if (SUCCEEDED(SetText(HeaderOf(editor.get()).get(), g_wszWMAlbumTitle, u"Second")))
        secondFlushed = editor->Flush();
      editor->Close();
    });
    ASSERT_EQ(SetText(HeaderOf(first.get()).get(), u"Title", u"First"), S_OK);
    EXPECT_EQ(first->Flush(), S_OK);
    EXPECT_TRUE(LockedByAWriter(dir.File(c.file)));  // still held after the save
    EXPECT_FALSE(secondOpened);
    ASSERT_EQ(first->Close(), S_OK);
    second.join();
    EXPECT_TRUE(secondOpened);
    EXPECT_EQ(titleSeenBySecond, u"First");
    EXPECT_EQ(secondFlushed, S_OK);
    EXPECT_FALSE(LockedByAWriter(dir.File(c.file)));

    ComPtr<IWMMetadataEditor> check;
    ASSERT_EQ(WMCreateEditor(&check), S_OK);
    ASSERT_EQ(check->Open(path.c_str()), S_OK);
    EXPECT_EQ(TextOf(check.get(), u"Title"), u"First");
    EXPECT_EQ(TextOf(check.get(), g_wszWMAlbumTitle), u"Second");
    EXPECT_EQ(check->Close(), S_OK);
  }
}

// Released without Close, an editor lets go of the file too.
TEST(MetadataEditorTest, AWriterReleasedWithoutCloseLetsGoOfTheFile) {
  TempDir dir;
  const std::u16string path = dir.Write("r.wma", SmallFile());
  {
    ComPtr<IWMMetadataEditor> editor;
    ASSERT_EQ(WMCreateEditor(&editor), S_OK);
    ASSERT_EQ(editor->Open(path.c_str()), S_OK);
    EXPECT_TRUE(LockedByAWriter(dir.File("r.wma")));
  }
  EXPECT_FALSE(LockedByAWriter(dir.File("r.wma")));
}

// A save that fails lets the lock go: the editor's view may be stale from
// then on, so it saves nothing more (even once the file could be written) and
// another writer may come in.
TEST(MetadataEditorTest, AFailedSaveLetsGoAndSavesNothingMore) {
  TempDir dir;
  const std::u16string path = dir.Write("f.wma", SmallFile());
  const Bytes before = vel::testing::ReadBytes(dir.File("f.wma"));
  ASSERT_EQ(::chmod(dir.File("f.wma").c_str(), 0444), 0);
  ComPtr<IWMMetadataEditor> editor;
  ASSERT_EQ(WMCreateEditor(&editor), S_OK);
  ASSERT_EQ(editor->Open(path.c_str()), S_OK);
  ASSERT_EQ(SetText(HeaderOf(editor.get()).get(), u"Title", u"Other"), S_OK);
  EXPECT_EQ(editor->Flush(), HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED));
  EXPECT_FALSE(LockedByAWriter(dir.File("f.wma")));
  ASSERT_EQ(::chmod(dir.File("f.wma").c_str(), 0644), 0);
  EXPECT_EQ(editor->Flush(), NS_E_INVALID_REQUEST);
  EXPECT_EQ(editor->Close(), S_OK);
  EXPECT_EQ(vel::testing::ReadBytes(dir.File("f.wma")), before);
}

// An MP3 file keeps numbers as ID3 text (read back as STRING, in decimal),
// and refuses at once what it cannot keep rather than lose it at Flush.
TEST(MetadataEditorTest, Mp3KeepsNumbersAsTextAndRefusesWhatItCannotKeep) {
  const struct {
    const char* name;
    const char16_t* attribute;
    WMT_ATTR_DATATYPE type;
    Bytes value;
    WORD stream;
    HRESULT set;
    std::u16string readBack;  // for S_OK
  } cases[] = {
      {"DWORD in a TXXX frame", u"Zandor/TrackId", WMT_TYPE_DWORD, asfb::Le(77, 4), 0, S_OK, u"77"},
      {"DWORD, all bits", u"Disk", WMT_TYPE_DWORD, asfb::Le(0xFFFFFFFFu, 4), 0, S_OK, u"4294967295"},
      {"DWORD in its own frame", g_wszWMYear, WMT_TYPE_DWORD, asfb::Le(2026, 4), 0, S_OK, u"2026"},
      {"QWORD", u"Big", WMT_TYPE_QWORD, asfb::Le(1234567890123ull, 8), 0, S_OK, u"1234567890123"},
      {"WORD", u"Small", WMT_TYPE_WORD, asfb::Le(513, 2), 0, S_OK, u"513"},
      {"BOOL", u"Flag", WMT_TYPE_BOOL, asfb::Le(1, 4), 0, S_OK, u"1"},
      {"GUID", u"Id", WMT_TYPE_GUID, Bytes(16, 7), 0, NS_E_INVALID_REQUEST, u""},
      {"bytes", u"Blob", WMT_TYPE_BINARY, Bytes{1, 2, 3}, 0, NS_E_INVALID_REQUEST, u""},
      {"a picture that is none", g_wszWMPicture, WMT_TYPE_BINARY, Bytes{1, 2, 3}, 0, NS_E_INVALID_REQUEST, u""},
      {"another stream's text", u"Title", WMT_TYPE_STRING, asfb::Utf16z(u"x"), 1, NS_E_INVALID_REQUEST, u""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::u16string path = dir.Write("n.mp3", Mp3File());
    ComPtr<IWMMetadataEditor> editor;
    ASSERT_EQ(WMCreateEditor(&editor), S_OK);
    ASSERT_EQ(editor->Open(path.c_str()), S_OK);
    ComPtr<IWMHeaderInfo3> header = HeaderOf(editor.get());
    EXPECT_EQ(header->SetAttribute(c.stream, c.attribute, c.type, c.value.data(), static_cast<WORD>(c.value.size())),
              c.set);
    WORD index = 0;
    EXPECT_EQ(header->AddAttribute(c.stream, c.attribute, &index, c.type, 0, c.value.data(),
                                   static_cast<DWORD>(c.value.size())) == NS_E_INVALID_REQUEST,
              c.set == NS_E_INVALID_REQUEST);
    EXPECT_EQ(editor->Flush(), S_OK);
    ASSERT_EQ(editor->Close(), S_OK);
    ASSERT_EQ(editor->Open(path.c_str()), S_OK);
    EXPECT_EQ(TextOf(editor.get(), c.attribute), SUCCEEDED(c.set) ? c.readBack : u"(none)");
    EXPECT_EQ(editor->Close(), S_OK);
  }
}

// A reader that opens a file it read before sees what was written since:
// the container a thread keeps is handed out only for the same version.
TEST(MetadataEditorTest, AReaderSeesWhatWasWrittenSinceItsLastRead) {
  for (const char* name : {"k.mp3", "k.wma"}) {
    SCOPED_TRACE(name);
    TempDir dir;
    const std::u16string path = dir.Write(name, std::string(name) == "k.mp3" ? Mp3File() : SmallFile());
    auto write = [&](const std::u16string& title) {
      ComPtr<IWMMetadataEditor> editor;
      ASSERT_EQ(WMCreateEditor(&editor), S_OK);
      ASSERT_EQ(editor->Open(path.c_str()), S_OK);
      ASSERT_EQ(SetText(HeaderOf(editor.get()).get(), u"Title", title), S_OK);
      ASSERT_EQ(editor->Flush(), S_OK);
      ASSERT_EQ(editor->Close(), S_OK);
    };
    auto read = [&] {
      ComPtr<IWMMetadataEditor2> reader;
      EXPECT_EQ(WMCreateEditor(reinterpret_cast<IWMMetadataEditor**>(&reader)), S_OK);
      EXPECT_EQ(reader->OpenEx(path.c_str(), GENERIC_READ, FILE_SHARE_READ), S_OK);
      const std::u16string title = TextOf(reader.get(), u"Title");
      reader->Close();
      return title;
    };
    write(u"One");
    EXPECT_EQ(read(), u"One");
    EXPECT_EQ(read(), u"One");
    write(u"Two");
    EXPECT_EQ(read(), u"Two");
  }
}

// A small MP3 is parsed from memory, a large one from the file: both read
// their tag and stream alike.
TEST(MetadataEditorTest, SmallAndLargeMp3FilesReadAlike) {
  for (const int frames : {40, 2600}) {  // 16 KiB and 1 MiB and more
    SCOPED_TRACE(frames);
    TempDir dir;
    const std::u16string path = dir.Write("s.mp3", Mp3Frames(frames));
    ComPtr<IWMMetadataEditor> editor;
    ASSERT_EQ(WMCreateEditor(&editor), S_OK);
    ASSERT_EQ(editor->Open(path.c_str()), S_OK);
    ASSERT_EQ(SetText(HeaderOf(editor.get()).get(), u"Title", u"Both"), S_OK);
    ASSERT_EQ(editor->Flush(), S_OK);
    ASSERT_EQ(editor->Close(), S_OK);

    ComPtr<IWMMetadataEditor2> reader;
    ASSERT_EQ(WMCreateEditor(reinterpret_cast<IWMMetadataEditor**>(&reader)), S_OK);
    ASSERT_EQ(reader->OpenEx(path.c_str(), GENERIC_READ, FILE_SHARE_READ), S_OK);
    EXPECT_EQ(TextOf(reader.get(), u"Title"), u"Both");
    ComPtr<IWMHeaderInfo3> header = HeaderOf(reader.get());
    WORD stream = 0, length = 8;
    WMT_ATTR_DATATYPE type{};
    std::uint64_t duration = 0;
    ASSERT_EQ(header->GetAttributeByName(&stream, g_wszWMDuration, &type, reinterpret_cast<BYTE*>(&duration), &length),
              S_OK);
    const double expected = frames * 1152.0 / 44100.0 * 1e7;  // 100 ns units
    EXPECT_NEAR(static_cast<double>(duration), expected, expected * 0.01);
    std::uint32_t bitrate = 0;
    length = 4;
    ASSERT_EQ(header->GetAttributeByName(&stream, g_wszWMBitrate, &type, reinterpret_cast<BYTE*>(&bitrate), &length),
              S_OK);
    EXPECT_EQ(bitrate, 128000u);
    EXPECT_EQ(reader->Close(), S_OK);
  }
}

struct PictureCase {
  const char* name;
  std::u16string description;
  std::size_t dataSize;
  WORD length;  // what the caller states as the value's length
};

TEST(MetadataEditorTest, PicturesTravelAsWmPicture) {
  const PictureCase cases[] = {
      {"small, 17-byte length", u"Cover", 300, kWmPictureLength32},
      {"over 64 KB, full length", u"Fr\u00fchling \u20ac", 70000, sizeof(WM_PICTURE)},
      {"no description", u"", 1, kWmPictureLength32},
  };
  for (const PictureCase& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    auto path = dir.Write("p.wma", SmallFile());
    Bytes data(c.dataSize);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 11 + 3);
    std::u16string mime = u"image/jpeg";
    std::u16string description = c.description;
    WM_PICTURE in{mime.data(), 3, description.data(), static_cast<DWORD>(data.size()), data.data()};
    {
      ComPtr<IWMMetadataEditor> editor;
      ASSERT_EQ(WMCreateEditor(&editor), S_OK);
      ASSERT_EQ(editor->Open(path.c_str()), S_OK);
      ComPtr<IWMHeaderInfo3> header;
      ASSERT_EQ(editor.QueryInterface(&header), S_OK);
      ASSERT_EQ(header->SetAttribute(0, g_wszWMPicture, WMT_TYPE_BINARY, reinterpret_cast<const BYTE*>(&in), c.length),
                S_OK);
      ASSERT_EQ(editor->Flush(), S_OK);
      ASSERT_EQ(editor->Close(), S_OK);
    }
    ComPtr<IWMMetadataEditor2> editor;
    ASSERT_EQ(WMCreateEditor(reinterpret_cast<IWMMetadataEditor**>(&editor)), S_OK);
    ComPtr<IWMMetadataEditor2> second;
    ASSERT_EQ(editor.QueryInterface(&second), S_OK);
    ASSERT_EQ(second->OpenEx(path.c_str(), 0x80000000, 5), S_OK);
    ComPtr<IWMHeaderInfo3> header;
    ASSERT_EQ(second.QueryInterface(&header), S_OK);
    WORD zero = 0, index = 0, count = 1;
    ASSERT_EQ(header->GetAttributeIndices(0, g_wszWMPicture, &zero, &index, &count), S_OK);
    ASSERT_EQ(count, 1);
    WORD nameLength = 0, language = 0;
    DWORD length = 0;
    WMT_ATTR_DATATYPE type{};
    ASSERT_EQ(header->GetAttributeByIndexEx(0, index, nullptr, &nameLength, &type, &language, nullptr, &length), S_OK);
    EXPECT_EQ(type, WMT_TYPE_BINARY);
    Bytes value(length);
    ASSERT_EQ(header->GetAttributeByIndexEx(0, index, nullptr, &nameLength, &type, &language, value.data(), &length),
              S_OK);
    WM_PICTURE out;
    std::memcpy(&out, value.data(), sizeof(out));
    // Every pointer leads into the caller's buffer.
    auto inside = [&](const void* p, std::size_t n) {
      auto* b = static_cast<const BYTE*>(p);
      return b >= value.data() && b + n <= value.data() + value.size();
    };
    ASSERT_TRUE(inside(out.pwszMIMEType, (mime.size() + 1) * 2));
    ASSERT_TRUE(inside(out.pwszDescription, (description.size() + 1) * 2));
    ASSERT_TRUE(inside(out.pbData, out.dwDataLen));
    EXPECT_EQ(std::u16string(out.pwszMIMEType), mime);
    EXPECT_EQ(std::u16string(out.pwszDescription), description);
    const BYTE pictureType = out.bPictureType;  // the structure is packed: no reference to its fields
    EXPECT_EQ(pictureType, 3);
    EXPECT_EQ(Bytes(out.pbData, out.pbData + out.dwDataLen), data);
    // OpenEx for reading only: a change is refused at Flush.
    Bytes title = asfb::Utf16z(u"x");
    ASSERT_EQ(header->SetAttribute(0, u"Title", WMT_TYPE_STRING, title.data(), static_cast<WORD>(title.size())), S_OK);
    EXPECT_EQ(second->Flush(), E_ACCESSDENIED);
  }
}

TEST(MetadataEditorTest, SyncReaderDescribesTheAudioStream) {
  TempDir dir;
  auto path = dir.Write("s.wma", SmallFile());
  ComPtr<IWMSyncReader> reader;
  ASSERT_EQ(WMCreateSyncReader(nullptr, 0, &reader), S_OK);
  ComPtr<IWMProfile> profile;
  ASSERT_EQ(reader.QueryInterface(&profile), S_OK);
  DWORD streams = 0;
  EXPECT_EQ(profile->GetStreamCount(&streams), NS_E_INVALID_REQUEST);
  ASSERT_EQ(reader->Open(path.c_str()), S_OK);
  ASSERT_EQ(profile->GetStreamCount(&streams), S_OK);
  ASSERT_EQ(streams, 1u);
  ComPtr<IWMStreamConfig> config;
  ASSERT_EQ(profile->GetStream(0, &config), S_OK);
  GUID type{};
  ASSERT_EQ(config->GetStreamType(&type), S_OK);
  EXPECT_TRUE(IsEqualGUID(type, WMMEDIATYPE_Audio));
  ComPtr<IWMMediaProps> props;
  ASSERT_EQ(config.QueryInterface(&props), S_OK);
  DWORD size = 0;
  ASSERT_EQ(props->GetMediaType(nullptr, &size), S_OK);
  ASSERT_GE(size, sizeof(WM_MEDIA_TYPE) + sizeof(WAVEFORMATEX));
  std::vector<std::uint64_t> storage(size / 8 + 1);
  auto* media = reinterpret_cast<WM_MEDIA_TYPE*>(storage.data());
  DWORD small = size - 1;
  EXPECT_EQ(props->GetMediaType(media, &small), ASF_E_BUFFERTOOSMALL);
  ASSERT_EQ(props->GetMediaType(media, &size), S_OK);
  EXPECT_TRUE(IsEqualGUID(media->formattype, WMFORMAT_WaveFormatEx));
  EXPECT_EQ(media->subtype.Data1, 0x161u);
  ASSERT_GE(media->cbFormat, 18u);
  auto* base = reinterpret_cast<BYTE*>(storage.data());
  ASSERT_TRUE(media->pbFormat >= base && media->pbFormat + media->cbFormat <= base + size);
  WAVEFORMATEX wave;
  std::memcpy(&wave, media->pbFormat, sizeof(wave));
  EXPECT_EQ(wave.nSamplesPerSec, 44100u);
  EXPECT_EQ(wave.nAvgBytesPerSec, 16000u);
  EXPECT_EQ(wave.nChannels, 2);
  EXPECT_EQ(profile->GetStream(1, &config), E_INVALIDARG);
  EXPECT_EQ(reader->Close(), S_OK);

  BOOL isProtected = TRUE;
  EXPECT_EQ(WMIsContentProtected(path.c_str(), &isProtected), S_FALSE);
  EXPECT_EQ(isProtected, FALSE);
}

TEST(MetadataEditorTest, ProtectedFilesShowTheirRightsHeader) {
  TempDir dir;
  auto path = dir.Write("p.wma", asfb::File({asfb::FileProperties(1, 0, 1), asfb::ContentEncryption("KID1"),
                                             asfb::ExtendedContentEncryption(u"2.2")}));
  BOOL isProtected = FALSE;
  EXPECT_EQ(WMIsContentProtected(path.c_str(), &isProtected), S_OK);
  EXPECT_EQ(isProtected, TRUE);
  ComPtr<IWMMetadataEditor> editor;
  ASSERT_EQ(WMCreateEditor(&editor), S_OK);
  ASSERT_EQ(editor->Open(path.c_str()), S_OK);
  ComPtr<IWMDRMEditor> drm;
  ASSERT_EQ(editor.QueryInterface(&drm), S_OK);
  struct Row {
    const char16_t* name;
    std::u16string value;
  };
  for (const Row& row : {Row{u"DRMHeader.KID", u"KID1"}, Row{u"DRMHeader.SECURITYVERSION", u"2.2"}}) {
    WMT_ATTR_DATATYPE type{};
    WORD length = 0;
    ASSERT_EQ(drm->GetDRMProperty(row.name, &type, nullptr, &length), S_OK);
    Bytes value(length);
    ASSERT_EQ(drm->GetDRMProperty(row.name, &type, value.data(), &length), S_OK);
    EXPECT_EQ(type, WMT_TYPE_STRING);
    EXPECT_EQ(value, asfb::Utf16z(row.value)) << static_cast<int>(row.value.size());
  }
  WMT_ATTR_DATATYPE type{};
  WORD length = 0;
  EXPECT_EQ(drm->GetDRMProperty(u"DRMHeader.Other", &type, nullptr, &length), ASF_E_NOTFOUND);
}

}  // namespace
