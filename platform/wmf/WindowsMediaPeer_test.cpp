// The runtime over files made by ffmpeg (MP3 with ID3v2 and a cover, WMA),
// read back by ffprobe and exiftool after a write. Skipped when a peer is
// not installed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <thread>

#include "platform/com/comdef.h"
#include "platform/win32/fileapi.h"
#include "platform/wmf/wmsdk.h"
#include "testing/AsfBuilder.h"
#include "testing/ChildProcess.h"
#include "testing/TempDir.h"
#include "testing/Tools.h"

namespace {

using vel::testing::Bytes;
using vel::testing::ReadBytes;
using vel::testing::RunCommand;
using vel::testing::TempDir;
namespace asfb = vel::testing::asfb;

std::string Quote(const std::string& path) { return "'" + path + "'"; }

std::string Trim(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
  return text;
}

std::string AudioMd5(const std::string& path) {
  return RunCommand("ffmpeg -v error -i " + Quote(path) + " -map 0:a -f md5 -").out;
}

std::string Exif(const std::string& args, const std::string& path) {
  return Trim(RunCommand("exiftool -s -s -s " + args + " " + Quote(path)).out);
}

// mutagen lives in the system's own Python.
std::string Python() { return std::filesystem::exists("/usr/bin/python3") ? "/usr/bin/python3" : "python3"; }
bool HaveMutagen() { return RunCommand(Python() + " -c 'import mutagen.id3' >/dev/null 2>&1").status == 0; }

// mutagen's reading of an MP3's ID3v2 tag: "version|title|picture bytes", or
// its error.
std::string MutagenId3(const std::string& path) {
  return Trim(RunCommand(Python() +
                         " -c \"import sys, mutagen.id3\n"
                         "t = mutagen.id3.ID3(sys.argv[1])\n"
                         "p = t.getall('APIC')\n"
                         "out = '%d|%s|%d' % (t.version[1], t['TIT2'].text[0], len(p[0].data) if p else 0)\n"
                         "sys.stdout.buffer.write(out.encode('utf-8'))\" " +
                         Quote(path) + " 2>&1")
                  .out);
}

// The whole size of the ID3v2 tag a file begins with (header, frames,
// padding, footer); 0 when it begins with none.
std::size_t Id3v2Size(const Bytes& bytes) {
  if (bytes.size() < 10 || std::memcmp(bytes.data(), "ID3", 3) != 0) return 0;
  std::size_t size = 10;
  for (int i = 6; i < 10; ++i) size += static_cast<std::size_t>(bytes[i] & 0x7F) << (7 * (9 - i));
  return size + ((bytes[5] & 0x10) != 0 ? 10 : 0);
}

// An APEv2 tag (header, items, footer) holding the given text items.
Bytes ApeTag(const std::vector<std::pair<std::string, std::string>>& items) {
  auto u32 = [](Bytes& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  };
  Bytes body;
  for (const auto& [key, value] : items) {
    u32(body, static_cast<std::uint32_t>(value.size()));
    u32(body, 0);  // UTF-8 text
    body.insert(body.end(), key.begin(), key.end());
    body.push_back(0);
    body.insert(body.end(), value.begin(), value.end());
  }
  auto frame = [&](bool header) {
    Bytes out = {'A', 'P', 'E', 'T', 'A', 'G', 'E', 'X'};
    u32(out, 2000);
    u32(out, static_cast<std::uint32_t>(body.size() + 32));  // items and footer
    u32(out, static_cast<std::uint32_t>(items.size()));
    u32(out, 0x80000000u | (header ? 0x20000000u : 0));  // has a header; this is it
    out.insert(out.end(), 8, 0);
    return out;
  };
  Bytes tag = frame(true);
  tag.insert(tag.end(), body.begin(), body.end());
  Bytes footer = frame(false);
  tag.insert(tag.end(), footer.begin(), footer.end());
  return tag;
}

struct Listed {
  std::u16string name;
  WMT_ATTR_DATATYPE type;
  Bytes value;
};

class WindowsMediaPeerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* tool : {"ffmpeg", "ffprobe", "exiftool"})
      if (!vel::testing::HaveTool(tool)) GTEST_SKIP() << tool << " is not installed";
  }

  // ffmpeg's output: a one-second tone with title, artist, album and track
  // (and for MP3 a 64x64 JPEG cover), plus extra ffmpeg options.
  std::string Make(const std::string& name, const std::string& options) {
    std::string path = dir_.File(name);
    std::string command = "ffmpeg -v error -f lavfi -i sine=d=1 ";
    // (ffmpeg refuses a cover where it writes no ID3v2 tag.)
    if (name.ends_with(".mp3") && options.find("-id3v2_version 0") != std::string::npos)
      command += "-c:a libmp3lame ";
    else if (name.ends_with(".mp3"))
      command += "-f lavfi -i color=c=red:s=64x64:d=1 -map 0 -map 1 -frames:v 1 -c:v mjpeg -disposition:v attached_pic "
                 "-c:a libmp3lame ";
    else
      command += "-c:a wmav2 ";
    command += "-metadata title=Song -metadata artist=Band -metadata album=Album -metadata track=7 " + options + " " +
               Quote(path);
    EXPECT_EQ(RunCommand(command).status, 0) << command;
    return path;
  }

  static std::vector<Listed> ReadAll(IWMHeaderInfo3* header) {
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
      EXPECT_EQ(
          header->GetAttributeByIndexEx(0, i, name.data(), &nameLength, &type, &language, value.data(), &length),
          S_OK);
      name.resize(nameLength - 1);
      out.push_back(Listed{name, type, std::move(value)});  // moved: a picture points into it
    }
    return out;
  }

  static const Listed* Find(const std::vector<Listed>& list, std::u16string_view name) {
    for (const Listed& l : list)
      if (l.name == name) return &l;
    return nullptr;
  }

  static std::uint64_t Number(const Listed* l) {
    std::uint64_t v = 0;
    for (std::size_t i = l->value.size(); i-- > 0;) v = (v << 8) | l->value[i];
    return v;
  }

  // The stream's WAVEFORMATEX, the way the audio plugin asks for it.
  static WAVEFORMATEX Wave(const std::u16string& path) {
    WAVEFORMATEX wave{};
    ComPtr<IWMSyncReader> reader;
    EXPECT_EQ(WMCreateSyncReader(nullptr, 0, &reader), S_OK);
    EXPECT_EQ(reader->Open(path.c_str()), S_OK);
    ComPtr<IWMProfile> profile;
    EXPECT_EQ(reader.QueryInterface(&profile), S_OK);
    DWORD streams = 0;
    EXPECT_EQ(profile->GetStreamCount(&streams), S_OK);
    for (DWORD i = 0; i < streams; ++i) {
      ComPtr<IWMStreamConfig> config;
      EXPECT_EQ(profile->GetStream(i, &config), S_OK);
      GUID type{};
      config->GetStreamType(&type);
      if (!IsEqualGUID(type, WMMEDIATYPE_Audio)) continue;
      ComPtr<IWMMediaProps> props;
      EXPECT_EQ(config.QueryInterface(&props), S_OK);
      DWORD size = 0;
      EXPECT_EQ(props->GetMediaType(nullptr, &size), S_OK);
      std::vector<std::uint64_t> storage(size / 8 + 1);
      auto* media = reinterpret_cast<WM_MEDIA_TYPE*>(storage.data());
      EXPECT_EQ(props->GetMediaType(media, &size), S_OK);
      EXPECT_TRUE(IsEqualGUID(media->formattype, WMFORMAT_WaveFormatEx));
      if (media->pbFormat && media->cbFormat >= 18) std::memcpy(&wave, media->pbFormat, sizeof(wave));
      break;
    }
    EXPECT_EQ(reader->Close(), S_OK);
    return wave;
  }

  static Bytes Cover(std::size_t size) {
    // A JPEG start and patterned bytes: enough for the peers to call it a picture.
    Bytes data(size);
    for (std::size_t i = 0; i < size; ++i) data[i] = static_cast<std::uint8_t>(i * 7 + 1);
    data[0] = 0xFF;
    data[1] = 0xD8;
    return data;
  }

  // Changes the title, adds a text attribute and a cover over 64 KB, and flushes.
  static void Rewrite(const std::u16string& path, const Bytes& cover) {
    ComPtr<IWMMetadataEditor> editor;
    ASSERT_EQ(WMCreateEditor(&editor), S_OK);
    ASSERT_EQ(editor->Open(path.c_str()), S_OK);
    ComPtr<IWMHeaderInfo3> header;
    ASSERT_EQ(editor.QueryInterface(&header), S_OK);
    Bytes title = asfb::Utf16z(u"Fr\u00fchling \u20ac");
    ASSERT_EQ(header->SetAttribute(0, u"Title", WMT_TYPE_STRING, title.data(), static_cast<WORD>(title.size())), S_OK);
    Bytes mood = asfb::Utf16z(u"calm");
    ASSERT_EQ(header->SetAttribute(0, u"WM/Mood", WMT_TYPE_STRING, mood.data(), static_cast<WORD>(mood.size())), S_OK);
    std::u16string mime = u"image/jpeg", description = u"Front";
    WM_PICTURE picture{mime.data(), 3, description.data(), static_cast<DWORD>(cover.size()),
                       const_cast<BYTE*>(cover.data())};
    WORD zero = 0, index = 0, count = 1;
    ASSERT_EQ(header->GetAttributeIndices(0, g_wszWMPicture, &zero, &index, &count), S_OK);
    if (count > 0)
      ASSERT_EQ(header->ModifyAttribute(0, index, WMT_TYPE_BINARY, 0, reinterpret_cast<const BYTE*>(&picture),
                                        kWmPictureLength32),
                S_OK);
    else
      ASSERT_EQ(header->SetAttribute(0, g_wszWMPicture, WMT_TYPE_BINARY, reinterpret_cast<const BYTE*>(&picture),
                                     kWmPictureLength32),
                S_OK);
    ASSERT_EQ(editor->Flush(), S_OK);
    ASSERT_EQ(editor->Close(), S_OK);
  }

  TempDir dir_;
};

TEST_F(WindowsMediaPeerTest, Mp3TagsAndStreamAreRead) {
  struct Case {
    const char* name;
    const char* file;  // a name that says WMA: the content decides
    const char* options;
    bool vbr;
  };
  const Case cases[] = {
      {"constant bit rate", "a.mp3", "-id3v2_version 3", false},
      {"variable bit rate (Xing header)", "v.mp3", "-q:a 6", true},
      {"named .wma", "n.mp3", "", false},
  };
  for (const Case& c : cases) {
  SCOPED_TRACE(c.name);
  std::string path = Make(c.file, c.options);
  std::string name = c.file;
  if (std::string(c.name) == "named .wma") {
    std::filesystem::rename(path, dir_.File("n.wma"));
    path = dir_.File("n.wma");
    name = "n.wma";
  }
  std::u16string wpath = dir_.WFile(name);
  ComPtr<IWMMetadataEditor> editor;
  ASSERT_EQ(WMCreateEditor(&editor), S_OK);
  ASSERT_EQ(editor->Open(wpath.c_str()), S_OK);
  ComPtr<IWMHeaderInfo3> header;
  ASSERT_EQ(editor.QueryInterface(&header), S_OK);
  auto list = ReadAll(header);
  ASSERT_GE(list.size(), 4u);
  EXPECT_EQ(list[0].name, u"FileSize");
  EXPECT_EQ(Number(&list[0]), std::filesystem::file_size(path));
  struct Row {
    const char16_t* name;
    std::u16string value;
  };
  for (const Row& row : {Row{u"Title", u"Song"}, Row{u"Author", u"Band"}, Row{u"WM/AlbumTitle", u"Album"},
                         Row{u"WM/TrackNumber", u"7"}}) {
    const Listed* l = Find(list, row.name);
    ASSERT_NE(l, nullptr) << std::string(row.name, row.name + std::char_traits<char16_t>::length(row.name));
    EXPECT_EQ(l->value, asfb::Utf16z(row.value));
  }
  double seconds = std::stod(RunCommand("ffprobe -v error -show_entries format=duration -of csv=p=0 " + Quote(path)).out);
  EXPECT_NEAR(static_cast<double>(Number(Find(list, u"Duration"))) / 1e7, seconds, 0.1);
  std::uint64_t bitrate =
      std::stoull(RunCommand("ffprobe -v error -select_streams a:0 -show_entries stream=bit_rate -of csv=p=0 " +
                             Quote(path)).out);
  EXPECT_NEAR(static_cast<double>(Number(Find(list, u"Bitrate"))), static_cast<double>(bitrate), bitrate * 0.15);
  ASSERT_NE(Find(list, g_wszWMIsVBR), nullptr);
  EXPECT_EQ(Number(Find(list, g_wszWMIsVBR)), c.vbr ? 1u : 0u);

  const Listed* picture = Find(list, g_wszWMPicture);
  ASSERT_NE(picture, nullptr);
  WM_PICTURE out;
  std::memcpy(&out, picture->value.data(), sizeof(out));
  EXPECT_EQ(std::u16string(out.pwszMIMEType), u"image/jpeg");
  const DWORD dataLength = out.dwDataLen;  // the structure is packed: no reference to its fields
  ASSERT_GE(dataLength, 2u);
  EXPECT_EQ(out.pbData[0], 0xFF);
  EXPECT_EQ(out.pbData[1], 0xD8);

  WAVEFORMATEX wave = Wave(wpath);
  EXPECT_EQ(wave.wFormatTag, WAVE_FORMAT_MPEGLAYER3);
  EXPECT_EQ(wave.nSamplesPerSec, 44100u);
  EXPECT_GT(wave.nAvgBytesPerSec, 0u);
  }
}

TEST_F(WindowsMediaPeerTest, WritesReadBackByPeers) {
  struct Case {
    const char* name;
    const char* file;
    const char* options;
    const char* version;  // the exiftool group of the ID3v2 tag that must stay
  };
  const Case cases[] = {
      {"MP3, ID3v2.3", "b.mp3", "-id3v2_version 3", "ID3v2_3"},
      {"MP3, ID3v2.4 and ID3v1", "c.mp3", "-id3v2_version 4 -write_id3v1 1", "ID3v2_4"},
      {"MP3 without tags: the new ID3v2 tag is 2.3", "e.mp3", "-id3v2_version 0", "ID3v2_3"},
      {"WMA", "d.wma", "", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string path = Make(c.file, c.options);
    std::u16string wpath = dir_.WFile(c.file);
    std::string audioBefore = AudioMd5(path);
    ASSERT_FALSE(audioBefore.empty());
    bool hadId3v1 = false;
    {
      Bytes bytes = ReadBytes(path);
      hadId3v1 = bytes.size() > 128 && std::memcmp(bytes.data() + bytes.size() - 128, "TAG", 3) == 0;
    }
    Bytes cover = Cover(70000);
    Rewrite(wpath, cover);
    EXPECT_EQ(AudioMd5(path), audioBefore);
    // (ffmpeg's WMA muxer also stores a lower-case "title" attribute, a name of its own that ffprobe prefers.)
    EXPECT_EQ(Exif("-Title", path), "Fr\xC3\xBChling \xE2\x82\xAC");
    const bool tagged = std::string(c.options).find("-id3v2_version 0") == std::string::npos;
    EXPECT_EQ(Trim(RunCommand("ffprobe -v error -show_entries format_tags=album -of csv=p=0 " + Quote(path)).out),
              tagged ? "Album" : "");
    std::string picture = RunCommand("exiftool -b -Picture " + Quote(path)).out;
    EXPECT_EQ(Bytes(picture.begin(), picture.end()), cover);
    if (c.version) {
      EXPECT_EQ(Exif(std::string("-") + c.version + ":Title", path), "Fr\xC3\xBChling \xE2\x82\xAC");
      EXPECT_NE(Exif("-UserDefinedText", path).find("calm"), std::string::npos);
      Bytes bytes = ReadBytes(path);
      bool hasId3v1 = bytes.size() > 128 && std::memcmp(bytes.data() + bytes.size() - 128, "TAG", 3) == 0;
      EXPECT_EQ(hasId3v1, hadId3v1);
      if (hadId3v1) {
        EXPECT_EQ(Exif("-ID3v1:Album", path), "Album");
      }
    } else {
      EXPECT_NE(RunCommand("exiftool -s -s -s -ASF:all " + Quote(path)).out.find("calm"), std::string::npos);
    }
    // Read back through the runtime too.
    ComPtr<IWMMetadataEditor> editor;
    ASSERT_EQ(WMCreateEditor(&editor), S_OK);
    ASSERT_EQ(editor->Open(wpath.c_str()), S_OK);
    ComPtr<IWMHeaderInfo3> header;
    ASSERT_EQ(editor.QueryInterface(&header), S_OK);
    auto list = ReadAll(header);
    ASSERT_NE(Find(list, u"WM/Mood"), nullptr);
    EXPECT_EQ(Find(list, u"WM/Mood")->value, asfb::Utf16z(u"calm"));
    EXPECT_EQ(Number(Find(list, u"FileSize")), std::filesystem::file_size(path));
    std::size_t entries = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir_.path())) ++entries;
    EXPECT_EQ(entries, static_cast<std::size_t>(&c - cases + 1));  // no temporary file left
  }
}

// The new file is the new ID3v2 tag, the original's bytes after the old one
// and the updated ID3v1 tag: whether the tag grows past its padding, shrinks
// or is new, the audio decodes the same, mutagen reads the tag, and what lies
// between (an APEv2 tag before the ID3v1 tag) stays byte for byte.
TEST_F(WindowsMediaPeerTest, Mp3TagsAreRewrittenAroundTheKeptAudio) {
  if (!HaveMutagen()) GTEST_SKIP() << "mutagen is not installed";
  const Bytes ape = ApeTag({{"Artist", "Ape band"}, {"Custom", "kept as it is"}});
  enum class Change { kGrow, kShrink, kNew, kApe };
  struct Case {
    const char* name;
    const char* options;
    Change change;
    const char* version;  // the ID3v2 version mutagen must find
  };
  const Case cases[] = {
      {"ID3v2.3 grows past its padding", "-id3v2_version 3", Change::kGrow, "3"},
      {"ID3v2.4 shrinks", "-id3v2_version 4", Change::kShrink, "4"},
      {"no ID3v2 tag: a 2.3 tag is added", "-id3v2_version 0", Change::kNew, "3"},
      {"APEv2 and ID3v1 at the end", "-id3v2_version 3 -write_id3v1 1", Change::kApe, "3"},
  };
  const std::string title = "Fr\xC3\xBChling \xE2\x82\xAC";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string file = std::string("l") + std::to_string(&c - cases) + ".mp3";
    std::string path = Make(file, c.options);
    const std::u16string wpath = dir_.WFile(file);
    if (c.change == Change::kApe) {
      Bytes bytes = ReadBytes(path);
      ASSERT_GT(bytes.size(), 128u);
      ASSERT_EQ(std::memcmp(bytes.data() + bytes.size() - 128, "TAG", 3), 0);
      bytes.insert(bytes.end() - 128, ape.begin(), ape.end());
      dir_.Write(file, bytes);
    }
    if (c.change == Change::kShrink) Rewrite(wpath, Cover(150000));
    const std::string audioBefore = AudioMd5(path);
    ASSERT_FALSE(audioBefore.empty());
    const Bytes before = ReadBytes(path);
    const Bytes cover = Cover(c.change == Change::kShrink ? 2000 : 150000);
    Rewrite(wpath, cover);
    const Bytes after = ReadBytes(path);

    const std::size_t tagBefore = Id3v2Size(before), tagAfter = Id3v2Size(after);
    ASSERT_GT(tagAfter, 0u);
    EXPECT_EQ(after[3], c.version[0] - '0');
    switch (c.change) {
      case Change::kGrow:
      case Change::kApe:
        EXPECT_GT(tagAfter, tagBefore + 100000);
        break;
      case Change::kShrink:
        EXPECT_LT(tagAfter + 100000, tagBefore);
        break;
      case Change::kNew:
        EXPECT_EQ(tagBefore, 0u);
        break;
    }
    // Everything after the ID3v2 tag is the original's, but for the ID3v1 tag.
    const bool id3v1 = c.change == Change::kApe;
    const std::size_t v1 = id3v1 ? 128 : 0;
    ASSERT_EQ(after.size() - tagAfter, before.size() - tagBefore);
    EXPECT_TRUE(std::equal(after.begin() + static_cast<std::ptrdiff_t>(tagAfter), after.end() - v1,
                           before.begin() + static_cast<std::ptrdiff_t>(tagBefore), before.end() - v1));
    if (id3v1) {
      EXPECT_TRUE(std::equal(ape.begin(), ape.end(), after.end() - static_cast<std::ptrdiff_t>(128 + ape.size())));
      EXPECT_EQ(std::memcmp(after.data() + after.size() - 128, "TAG", 3), 0);
      // Updated from the attributes: "Song" gave way to a title Latin-1 cannot hold, which ID3v1 leaves empty.
      EXPECT_EQ(Exif("-ID3v1:Title", path), "");
      EXPECT_EQ(Exif("-ID3v1:Album", path), "Album");
      EXPECT_EQ(Exif("-APE:Custom", path), "kept as it is");
    }
    EXPECT_EQ(AudioMd5(path), audioBefore);
    EXPECT_EQ(MutagenId3(path), std::string(c.version) + "|" + title + "|" + std::to_string(cover.size()));
  }
}

TEST_F(WindowsMediaPeerTest, WmaStreamIsDescribed) {
  std::string path = Make("e.wma", "");
  WAVEFORMATEX wave = Wave(dir_.WFile("e.wma"));
  EXPECT_EQ(wave.wFormatTag, 0x161);
  EXPECT_EQ(wave.nSamplesPerSec, 44100u);
  std::string bitrate = RunCommand("ffprobe -v error -select_streams a:0 -show_entries stream=bit_rate -of csv=p=0 " +
                                   Quote(path)).out;
  EXPECT_EQ(wave.nAvgBytesPerSec * 8, std::stoul(bitrate));
}

// A video file: the video stream comes first and is not audio.
TEST_F(WindowsMediaPeerTest, WmvStreamsAreWalkedInOrder) {
  std::string path = dir_.File("v.wmv");
  ASSERT_EQ(RunCommand("ffmpeg -v error -f lavfi -i color=c=blue:s=64x48:d=1 -f lavfi -i sine=d=1 -map 0 -map 1 "
                       "-c:v wmv2 -c:a wmav2 " + Quote(path)).status,
            0);
  ComPtr<IWMSyncReader> reader;
  ASSERT_EQ(WMCreateSyncReader(nullptr, 0, &reader), S_OK);
  ASSERT_EQ(reader->Open(dir_.WFile("v.wmv").c_str()), S_OK);
  ComPtr<IWMProfile> profile;
  ASSERT_EQ(reader.QueryInterface(&profile), S_OK);
  DWORD streams = 0;
  ASSERT_EQ(profile->GetStreamCount(&streams), S_OK);
  ASSERT_EQ(streams, 2u);
  const GUID* expected[] = {&WMMEDIATYPE_Video, &WMMEDIATYPE_Audio};
  for (DWORD i = 0; i < streams; ++i) {
    ComPtr<IWMStreamConfig> config;
    ASSERT_EQ(profile->GetStream(i, &config), S_OK);
    GUID type{};
    ASSERT_EQ(config->GetStreamType(&type), S_OK);
    EXPECT_TRUE(IsEqualGUID(type, *expected[i])) << i;
  }
  EXPECT_EQ(Wave(dir_.WFile("v.wmv")).wFormatTag, 0x161);
}

// Cut and scrambled copies of real files: opening yields what could be read
// or a failure, a write either works or leaves the file as it was.
TEST_F(WindowsMediaPeerTest, DamagedFilesNeverBreakTheRuntime) {
  for (const char* name : {"f.mp3", "g.wma"}) {
    SCOPED_TRACE(name);
    Make(name, "");
    Bytes original = ReadBytes(dir_.File(name));
    std::vector<Bytes> damaged;
    for (std::size_t n = 0; n < original.size(); n += (n < 1024 ? 13 : 401))
      damaged.emplace_back(original.begin(), original.begin() + static_cast<long>(n));
    std::uint32_t state = 99;
    for (int round = 0; round < 40; ++round) {
      Bytes mutated = original;
      for (int k = 0; k < 6; ++k) {
        state = state * 1103515245u + 12345u;
        std::size_t at = (state >> 8) % (mutated.size() < 2048 ? mutated.size() : 2048);
        mutated[at] = static_cast<std::uint8_t>(state >> 20);
      }
      damaged.push_back(std::move(mutated));
    }
    for (std::size_t i = 0; i < damaged.size(); ++i) {
      SCOPED_TRACE(i);
      auto path = dir_.Write("damaged", damaged[i]);
      ComPtr<IWMMetadataEditor> editor;
      ASSERT_EQ(WMCreateEditor(&editor), S_OK);
      if (FAILED(editor->Open(path.c_str()))) {
        EXPECT_EQ(ReadBytes(dir_.File("damaged")), damaged[i]);
        continue;
      }
      ComPtr<IWMHeaderInfo3> header;
      ASSERT_EQ(editor.QueryInterface(&header), S_OK);
      ReadAll(header);
      Bytes title = asfb::Utf16z(u"Cut");
      ASSERT_EQ(header->SetAttribute(0, u"Title", WMT_TYPE_STRING, title.data(), static_cast<WORD>(title.size())),
                S_OK);
      if (FAILED(editor->Flush())) {
        EXPECT_EQ(ReadBytes(dir_.File("damaged")), damaged[i]);
      }
      EXPECT_EQ(editor->Close(), S_OK);
    }
  }
}

// A file cut short is read as far as it goes, but a write leaves it byte for
// byte as it was: an MP3 cut inside its ID3v2 tag, a WMA cut inside its header
// or inside its data object.
TEST_F(WindowsMediaPeerTest, AWriteLeavesACutFileUnchanged) {
  Make("c.mp3", "");
  Make("c.wma", "");
  const Bytes mp3 = ReadBytes(dir_.File("c.mp3"));
  const Bytes wma = ReadBytes(dir_.File("c.wma"));
  ASSERT_GT(mp3.size(), 10u);
  ASSERT_GT(wma.size(), 30u);
  std::size_t tagSize = 10;
  for (int i = 6; i < 10; ++i) tagSize += static_cast<std::size_t>(mp3[i] & 0x7F) << (7 * (9 - i));
  std::size_t headerSize = 0;
  for (int i = 7; i >= 0; --i) headerSize = headerSize << 8 | wma[16 + i];
  ASSERT_LT(tagSize, mp3.size());
  ASSERT_LT(headerSize + 100, wma.size());
  const struct {
    const char* name;
    const char* file;
    Bytes bytes;
  } cases[] = {
      {"cut in tag", "cut.mp3", Bytes(mp3.begin(), mp3.begin() + static_cast<long>(tagSize / 2))},
      {"cut in header", "cut.wma", Bytes(wma.begin(), wma.begin() + static_cast<long>(headerSize - 8))},
      {"cut in data", "cut.wma", Bytes(wma.begin(), wma.begin() + static_cast<long>((headerSize + wma.size()) / 2))},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::u16string path = dir_.Write(c.file, c.bytes);
    ComPtr<IWMMetadataEditor> editor;
    ASSERT_EQ(WMCreateEditor(&editor), S_OK);
    ASSERT_EQ(editor->Open(path.c_str()), S_OK);
    ComPtr<IWMHeaderInfo3> header;
    ASSERT_EQ(editor.QueryInterface(&header), S_OK);
    Bytes title = asfb::Utf16z(u"Cut");
    ASSERT_EQ(header->SetAttribute(0, u"Title", WMT_TYPE_STRING, title.data(), static_cast<WORD>(title.size())), S_OK);
    EXPECT_EQ(editor->Flush(), NS_E_INVALID_DATA);
    EXPECT_EQ(editor->Close(), S_OK);
    EXPECT_EQ(ReadBytes(dir_.File(c.file)), c.bytes);
  }
}

// Several threads reading the same files at once see the same attributes.
TEST_F(WindowsMediaPeerTest, ParallelReadsAgree) {
  Make("h.mp3", "");
  Make("i.wma", "");
  for (const char* name : {"h.mp3", "i.wma"}) {
    SCOPED_TRACE(name);
    std::u16string path = dir_.WFile(name);
    auto readOnce = [&] {
      std::vector<Listed> list;
      // Opened for reading: writers would take turns on the file's lock.
      ComPtr<IWMMetadataEditor2> editor;
      if (FAILED(WMCreateEditor(reinterpret_cast<IWMMetadataEditor**>(&editor))) ||
          FAILED(editor->OpenEx(path.c_str(), GENERIC_READ, FILE_SHARE_READ)))
        return list;
      ComPtr<IWMHeaderInfo3> header;
      if (SUCCEEDED(editor.QueryInterface(&header))) list = ReadAll(header);
      editor->Close();
      return list;
    };
    auto expected = readOnce();
    ASSERT_FALSE(expected.empty());
    std::vector<std::vector<Listed>> results(4);
    std::vector<std::thread> threads;
    for (auto& result : results)
      threads.emplace_back([&] {
        for (int i = 0; i < 5; ++i) result = readOnce();
      });
    for (auto& t : threads) t.join();
    for (const auto& result : results) {
      ASSERT_EQ(result.size(), expected.size());
      for (std::size_t i = 0; i < result.size(); ++i) {
        EXPECT_EQ(result[i].name, expected[i].name);
        // A picture's pointers lead into each caller's own buffer; every other value is plain bytes.
        if (result[i].name != g_wszWMPicture) {
          EXPECT_EQ(result[i].value, expected[i].value);
        }
      }
    }
  }
}

// Every row the ID3 table names is written to its frame and reads back.
TEST_F(WindowsMediaPeerTest, EveryMp3RowRoundTrips) {
  struct Row {
    const char16_t* attribute;
    std::u16string value;
    const char* exifTag;  // the frame's exiftool name, or null when not checked there
    std::string exifValue;
  };
  const Row rows[] = {
      {u"Title", u"T1", "Title", "T1"},
      {u"Author", u"A1", "Artist", "A1"},
      {u"WM/AlbumTitle", u"Al", "Album", "Al"},
      {u"WM/TrackNumber", u"3", "Track", "3"},
      {u"WM/Year", u"1999", nullptr, ""},
      {u"WM/Genre", u"Jazz", "Genre", "Jazz"},
      {u"Description", u"About", "Comment", "About"},
      {u"Copyright", u"(c) Me", "Copyright", "(c) Me"},
      {u"WM/AlbumArtist", u"AA", "Band", "AA"},
      {u"WM/Composer", u"Co", "Composer", "Co"},
      {u"WM/Writer", u"Wr", "Lyricist", "Wr"},
      {u"WM/Publisher", u"Pu", "Publisher", "Pu"},
      {u"WM/OriginalArtist", u"OA", "OriginalArtist", "OA"},
      {u"WM/PartOfSet", u"1/2", "PartOfSet", "1/2"},
      {u"WM/Lyrics", u"La la", "Lyrics", "La la"},
      {u"Rating", u"4", nullptr, ""},
  };
  const Bytes mcdi = {0x00, 0x12, 0x01, 0x01, 0x00, 0x10, 0x00, 0x00, 0x00, 0x00};
  for (const char* options : {"-id3v2_version 3", "-id3v2_version 4"}) {
    SCOPED_TRACE(options);
    std::string name = std::string("r") + options[sizeof("-id3v2_version ") - 1] + ".mp3";
    std::string path = Make(name, options);
    std::u16string wpath = dir_.WFile(name);
    {
      ComPtr<IWMMetadataEditor> editor;
      ASSERT_EQ(WMCreateEditor(&editor), S_OK);
      ASSERT_EQ(editor->Open(wpath.c_str()), S_OK);
      ComPtr<IWMHeaderInfo3> header;
      ASSERT_EQ(editor.QueryInterface(&header), S_OK);
      for (const Row& row : rows) {
        Bytes value = asfb::Utf16z(row.value);
        ASSERT_EQ(header->SetAttribute(0, row.attribute, WMT_TYPE_STRING, value.data(), static_cast<WORD>(value.size())),
                  S_OK);
      }
      ASSERT_EQ(header->SetAttribute(0, g_wszWMMCDI, WMT_TYPE_BINARY, mcdi.data(), static_cast<WORD>(mcdi.size())), S_OK);
      ASSERT_EQ(editor->Flush(), S_OK);
    }
    ComPtr<IWMMetadataEditor> editor;
    ASSERT_EQ(WMCreateEditor(&editor), S_OK);
    ASSERT_EQ(editor->Open(wpath.c_str()), S_OK);
    ComPtr<IWMHeaderInfo3> header;
    ASSERT_EQ(editor.QueryInterface(&header), S_OK);
    auto list = ReadAll(header);
    for (const Row& row : rows) {
      std::string label(row.attribute, row.attribute + std::char_traits<char16_t>::length(row.attribute));
      const Listed* l = Find(list, row.attribute);
      ASSERT_NE(l, nullptr) << label;
      EXPECT_EQ(l->value, asfb::Utf16z(row.value)) << label;
      if (row.exifTag) {
        EXPECT_EQ(Exif(std::string("-") + row.exifTag, path), row.exifValue) << label;
      }
    }
    ASSERT_NE(Find(list, g_wszWMMCDI), nullptr);
    EXPECT_EQ(Find(list, g_wszWMMCDI)->value, mcdi);
  }
}

TEST_F(WindowsMediaPeerTest, ReadOnlyFilesAreRefusedAndUntouched) {
  for (const char* name : {"ro.mp3", "ro.wma"}) {
    SCOPED_TRACE(name);
    std::string path = Make(name, "");
    Bytes before = ReadBytes(path);
    std::filesystem::permissions(path, std::filesystem::perms::owner_read | std::filesystem::perms::group_read);
    ComPtr<IWMMetadataEditor> editor;
    ASSERT_EQ(WMCreateEditor(&editor), S_OK);
    ASSERT_EQ(editor->Open(dir_.WFile(name).c_str()), S_OK);
    ComPtr<IWMHeaderInfo3> header;
    ASSERT_EQ(editor.QueryInterface(&header), S_OK);
    Bytes title = asfb::Utf16z(u"Changed");
    ASSERT_EQ(header->SetAttribute(0, u"Title", WMT_TYPE_STRING, title.data(), static_cast<WORD>(title.size())), S_OK);
    EXPECT_EQ(editor->Flush(), HRESULT_FROM_WIN32(5));  // ERROR_ACCESS_DENIED
    EXPECT_EQ(ReadBytes(path), before);
  }
  std::size_t entries = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir_.path())) ++entries;
  EXPECT_EQ(entries, 2u);
}

// An MP3 with only an ID3v1 tag: its fields are the attributes, and a write
// adds an ID3v2.3 tag and updates the ID3v1 tag in place of dropping it.
TEST_F(WindowsMediaPeerTest, Id3v1FieldsAreReadAndKeptUpToDate) {
  std::string path = Make("v1.mp3", "-id3v2_version 0");
  auto field = [](const std::string& text, std::size_t size) {
    Bytes out(size, 0);
    std::memcpy(out.data(), text.data(), std::min(text.size(), size));
    return out;
  };
  Bytes tag = {'T', 'A', 'G'};
  for (const Bytes& part : {field("Old song", 30), field("Old band", 30), field("Old album", 30), field("1987", 4),
                            field("Remark", 28), Bytes{0, 5, 8}})  // track 5, genre 8 (Jazz)
    tag.insert(tag.end(), part.begin(), part.end());
  ASSERT_EQ(tag.size(), 128u);
  Bytes bytes = ReadBytes(path);
  bytes.insert(bytes.end(), tag.begin(), tag.end());
  std::u16string wpath = dir_.Write("v1.mp3", bytes);

  ComPtr<IWMMetadataEditor> editor;
  ASSERT_EQ(WMCreateEditor(&editor), S_OK);
  ASSERT_EQ(editor->Open(wpath.c_str()), S_OK);
  ComPtr<IWMHeaderInfo3> header;
  ASSERT_EQ(editor.QueryInterface(&header), S_OK);
  auto list = ReadAll(header);
  struct Row {
    const char16_t* name;
    std::u16string value;
  };
  for (const Row& row : {Row{u"Title", u"Old song"}, Row{u"Author", u"Old band"}, Row{u"WM/AlbumTitle", u"Old album"},
                         Row{u"WM/Year", u"1987"}, Row{u"Description", u"Remark"}, Row{u"WM/TrackNumber", u"5"},
                         Row{u"WM/Genre", u"Jazz"}}) {
    const Listed* l = Find(list, row.name);
    ASSERT_NE(l, nullptr) << std::string(row.name, row.name + std::char_traits<char16_t>::length(row.name));
    EXPECT_EQ(l->value, asfb::Utf16z(row.value));
  }
  Bytes title = asfb::Utf16z(u"New song");
  ASSERT_EQ(header->SetAttribute(0, u"Title", WMT_TYPE_STRING, title.data(), static_cast<WORD>(title.size())), S_OK);
  ASSERT_EQ(editor->Flush(), S_OK);
  EXPECT_EQ(Exif("-ID3v2_3:Title", path), "New song");
  EXPECT_EQ(Exif("-ID3v2_3:Album", path), "Old album");
  EXPECT_EQ(Exif("-ID3v1:Title", path), "New song");
  EXPECT_EQ(Exif("-ID3v1:Album", path), "Old album");
}

}  // namespace
