// The audio plugin as a host sees it: libVelItems.so and libVelItemPlugins.so
// registered into a fresh registry store, audio files of every family read
// into items, validated, given storage folders, written and given pictures.
// The test runs as on a system without the Windows Media runtime (files of
// that family read as files the runtime could not open), apart from the tests
// that bring the runtime back for their own duration (WithRuntime).
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "audio/AudioPropertyMap.h"
#include "audio/ByteArray.h"
#include "contract/VelItemsLib.h"
#include "contract/VelItemPluginsLib.h"
#include "platform/com/combase.h"
#include "platform/com/comdef.h"
#include "platform/com/oleauto.h"
#include "platform/registry/store.h"
#include "platform/text.h"
#include "platform/win32/winbase.h"
#include "testing/AsfBuilder.h"
#include "testing/ModuleStore.h"
#include "testing/WithWmfRuntime.h"
#include "testing/Mp4Builder.h"
#include "testing/WaveBuilder.h"

using namespace vel::testing;

namespace {

using Bytes = std::vector<std::uint8_t>;

std::string Narrow(std::u16string_view s) { return vel::ToUtf8(std::u16string(s)); }

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteBytes(const std::string& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                               static_cast<std::streamsize>(bytes.size()));
}

using vel::testing::Append;
using vel::testing::U32;

// A WAVE header with a format chunk of fmtSize bytes (44.1 kHz, 16-bit
// stereo), the given chunks (5 bytes each) before "data", and a "data" chunk
// announcing dataSize bytes of which only a few follow.
Bytes Wave(std::uint32_t fmtSize, std::uint32_t dataSize, const std::vector<std::string>& chunksBefore = {}) {
  Bytes b = vel::testing::Header({.chunkSize = fmtSize});
  for (const std::string& name : chunksBefore) vel::testing::Chunk(b, name, 5);
  Append(b, "data");
  U32(b, dataSize);
  b.insert(b.end(), 16, 0);
  return b;
}

class AudioPlugin : public ModuleStore {
 protected:
  void SetUp() override {
    ModuleStore::SetUp();
    if (HasFatalFailure()) return;
    ASSERT_EQ(CoCreateInstance(CLSID_VelItemAudio, nullptr, CLSCTX_ALL, IID_IVelItemPlugin,
                               reinterpret_cast<void**>(&plugin_)),
              S_OK);
    ASSERT_EQ(plugin_.QueryInterface(audio_), S_OK);
  }
  void TearDown() override {
    audio_ = nullptr;
    plugin_ = nullptr;
    ModuleStore::TearDown();
  }

  std::string File(const std::string& name, const Bytes& bytes) {
    const std::string path = dir_ + "/" + name;
    WriteBytes(path, bytes);
    return path;
  }
  static _bstr_t Bstr(const std::string& path) { return _bstr_t(vel::FromUtf8(path)); }

  ComPtr<IVelItem> Read(const std::string& path) {
    ComPtr<IVelItem> item;
    EXPECT_EQ(plugin_->ReadMetadata(Bstr(path), &item), S_OK) << path;
    return item;
  }

  ComPtr<IVelItem> NewItem() {
    ComPtr<IVelItem> item;
    EXPECT_EQ(CoCreateInstance(CLSID_VelItem, nullptr, CLSCTX_ALL, IID_IVelItem, reinterpret_cast<void**>(&item)),
              S_OK);
    return item;
  }
  static void Put(IVelItem* item, const char16_t* name, const _variant_t& value, const char16_t* ns = kCoreNamespace) {
    ComPtr<IVelProperties> properties;
    ASSERT_EQ(item->get_Properties(&properties), S_OK);
    ASSERT_EQ(properties->put_Value(_bstr_t(name), _bstr_t(ns), value), S_OK);
  }

  ComPtr<IVelItemPlugin> plugin_;
  ComPtr<IVelItemAudio> audio_;
};

// Every property of an item: "{namespace}name" -> value, in order of first appearance.
struct Snapshot {
  std::vector<std::string> keys;
  std::map<std::string, _variant_t> values;
  std::string itemClass;

  bool Has(const std::string& key) const { return values.count(key) != 0; }
  const _variant_t& At(const std::string& key) const {
    static const _variant_t kError(0, VT_ERROR);
    auto it = values.find(key);
    return it == values.end() ? kError : it->second;
  }
};

Snapshot Snap(IVelItem* item) {
  Snapshot s;
  if (!item) return s;
  _bstr_t itemClass;
  EXPECT_EQ(item->get_ItemClass(itemClass.GetAddress()), S_OK);
  s.itemClass = Narrow(itemClass.view());
  ComPtr<IVelProperties> properties;
  EXPECT_EQ(item->get_Properties(&properties), S_OK);
  ComPtr<IUnknown> unknown;
  EXPECT_EQ(properties->get__NewEnum(&unknown), S_OK);
  ComPtr<IEnumVARIANT> e;
  EXPECT_EQ(unknown.QueryInterface(e), S_OK);
  for (;;) {
    _variant_t v;
    ULONG n = 0;
    if (e->Next(1, v.GetAddress(), &n) != S_OK || n == 0) break;
    ComPtr<IVelProperty> p(static_cast<const VARIANT&>(v));
    _bstr_t name, ns;
    _variant_t value;
    p->get_Name(name.GetAddress());
    p->get_Namespace(ns.GetAddress());
    p->get_Value(value.GetAddress());
    const std::string key = "{" + Narrow(ns.view()) + "}" + Narrow(name.view());
    if (!s.values.count(key)) s.keys.push_back(key);
    s.values[key] = value;
  }
  return s;
}

std::string Core(const char* name) { return "{urn:zandor:vel:core}" + std::string(name); }
std::string Key(const AudioPropertyMapRow& row) {
  return "{" + Narrow(row.propertyNamespace) + "}" + Narrow(row.propertyName);
}

TEST_F(AudioPlugin, WaveHeaders) {
  struct Case {
    const char* name;
    Bytes bytes;
    std::optional<double> duration;
    std::optional<int> bitrate;
    std::optional<double> rate;
  };
  Bytes truncatedFormat = Wave(16, 1764000);
  truncatedFormat.resize(12 + 8 + 15);  // one byte short of the format fields
  Bytes thirtyThree = Wave(16, 1764000);
  thirtyThree.resize(33);
  Bytes noDataHeader = Wave(16, 1764000);
  noDataHeader.resize(12 + 8 + 16 + 6);  // ends inside the "data" header
  const Case cases[] = {
      {"44.1 kHz 16-bit stereo, 1,764,000 data bytes", Wave(16, 1764000), 10.0, 1411200, 44100.0},
      {"33 bytes", thirtyThree, std::nullopt, std::nullopt, std::nullopt},
      {"14-byte format", Wave(14, 176400), 1.0, 1411200, std::nullopt},
      {"18-byte format", Wave(18, 88200), 0.5, 1411200, 44100.0},
      {"40-byte format", Wave(40, 352800), 2.0, 1411200, 44100.0},
      {"fact before data", Wave(16, 176400, {"fact"}), 1.0, 1411200, 44100.0},
      {"LIST and fact before data", Wave(18, 176400, {"LIST", "fact"}), 1.0, 1411200, 44100.0},
      {"format cut short", truncatedFormat, std::nullopt, std::nullopt, std::nullopt},
      {"no data header", noDataHeader, std::nullopt, 1411200, 44100.0},
      {"not RIFF", Bytes(40, 0x20), std::nullopt, std::nullopt, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = File("case.wav", c.bytes);
    ComPtr<IVelItem> item = Read(path);
    ASSERT_TRUE(item);
    const Snapshot s = Snap(item);
    EXPECT_EQ(s.itemClass, "Audio");
    // Exactly these properties, the three computed ones empty when not computed.
    EXPECT_EQ(s.keys.size(), 7u);
    for (const char* name : {"Size", "URI", "ItemType", "Protected", "Duration", "Bitrate", "SamplingFrequency"})
      EXPECT_TRUE(s.Has(Core(name))) << name;
    EXPECT_EQ(s.At(Core("Size")).vt, VT_I8);
    EXPECT_EQ(s.At(Core("Size")).llVal, static_cast<long long>(c.bytes.size()));
    EXPECT_EQ(Narrow(_bstr_t(s.At(Core("URI"))).view()), path);
    EXPECT_EQ(Narrow(_bstr_t(s.At(Core("ItemType"))).view()), "audio/wav");
    EXPECT_EQ(s.At(Core("Protected")).vt, VT_I2);
    EXPECT_EQ(s.At(Core("Protected")).iVal, 0);

    const _variant_t& duration = s.At(Core("Duration"));
    if (c.duration) {
      EXPECT_EQ(duration.vt, VT_R8);
      EXPECT_DOUBLE_EQ(duration.dblVal, *c.duration);
    } else {
      EXPECT_EQ(duration.vt, VT_EMPTY);
    }
    const _variant_t& bitrate = s.At(Core("Bitrate"));
    if (c.bitrate) {
      EXPECT_EQ(bitrate.vt, VT_I4);
      EXPECT_EQ(bitrate.lVal, *c.bitrate);
    } else {
      EXPECT_EQ(bitrate.vt, VT_EMPTY);
    }
    const _variant_t& rate = s.At(Core("SamplingFrequency"));
    if (c.rate) {
      EXPECT_EQ(rate.vt, VT_R8);
      EXPECT_DOUBLE_EQ(rate.dblVal, *c.rate);
    } else {
      EXPECT_EQ(rate.vt, VT_EMPTY);
    }
  }
}

// What ffmpeg writes (a LIST chunk before "data") gets its duration.
TEST_F(AudioPlugin, WaveMadeByFfmpeg) {
  if (std::system("command -v ffmpeg >/dev/null 2>&1") != 0) GTEST_SKIP() << "ffmpeg is not installed";
  const std::string path = dir_ + "/tone.wav";
  const std::string command = "ffmpeg -v error -f lavfi -i sine=frequency=440:sample_rate=8000:duration=1.5 -ac 1 "
                              "-c:a pcm_s16le -y " + path;
  ASSERT_EQ(std::system(command.c_str()), 0);
  const std::string bytes = ReadBytes(path);
  ASSERT_NE(bytes.find("LIST"), std::string::npos) << "ffmpeg wrote no LIST chunk";
  const Snapshot s = Snap(Read(path));
  EXPECT_EQ(s.At(Core("Duration")).vt, VT_R8);
  EXPECT_NEAR(s.At(Core("Duration")).dblVal, 1.5, 1e-9);
  EXPECT_EQ(s.At(Core("Bitrate")).lVal, 128000);
  EXPECT_DOUBLE_EQ(s.At(Core("SamplingFrequency")).dblVal, 8000.0);
  EXPECT_EQ(s.At(Core("Size")).llVal, static_cast<long long>(bytes.size()));
}

// Extensions are compared lower-cased; each family gets its vocabulary.
TEST_F(AudioPlugin, ItemsPerKind) {
  struct Case {
    const char* file;
    const char* itemType;
    const char* kind;  // "wm", "mp4", "wav", "none"
  };
  const Case cases[] = {
      {"a.wma", "audio/x-ms-wma", "wm"}, {"a.WMA", "audio/x-ms-wma", "wm"}, {"a.mp3", "audio/mpeg", "wm"},
      {"a.asf", "audio/asf", "wm"},      {"a.wmv", "", "wm"},               {"a.m4a", "audio/mp4", "mp4"},
      {"a.M4A", "audio/mp4", "mp4"},     {"a.aac", "audio/aac", "mp4"},     {"a.3gp", "audio/3gpp", "mp4"},
      {"a.mp4", "audio/mp4", "mp4"},     {"a.WaV", "audio/wav", "wav"},     {"a.amr", "audio/amr", "none"},
      {"a.AMR", "audio/amr", "none"},    {"a.3g2", "audio/3gpp2", "none"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    // Content no reader can use: only the vocabulary and the framework properties remain.
    const std::string path = File(c.file, Bytes(64, 0x20));
    const Snapshot s = Snap(Read(path));
    EXPECT_EQ(s.itemClass, "Audio");
    EXPECT_EQ(Narrow(_bstr_t(s.At(Core("ItemType"))).view()), c.itemType);
    EXPECT_EQ(Narrow(_bstr_t(s.At(Core("URI"))).view()), path);
    const std::string kind = c.kind;
    if (kind == "wm") {
      // URI, ItemType and all 36 rows, empty.
      EXPECT_EQ(s.keys.size(), 38u);
      for (const AudioPropertyMapRow& row : AudioPropertyMap) {
        EXPECT_TRUE(s.Has(Key(row))) << Key(row);
        EXPECT_EQ(s.At(Key(row)).vt, VT_EMPTY) << Key(row);
      }
    } else if (kind == "mp4") {
      // Rows without an MP4 item type never appear; "Protected" is VT_I2 0.
      std::size_t expected = 2;  // URI, ItemType
      for (const AudioPropertyMapRow& row : AudioPropertyMap) {
        EXPECT_EQ(s.Has(Key(row)), row.HasAtom()) << Key(row);
        if (!row.HasAtom()) continue;
        ++expected;
        if (row.propertyName == u"Protected") {
          EXPECT_EQ(s.At(Key(row)).vt, VT_I2);
          EXPECT_EQ(s.At(Key(row)).iVal, 0);
        } else {
          EXPECT_EQ(s.At(Key(row)).vt, VT_EMPTY) << Key(row);
        }
      }
      EXPECT_EQ(s.keys.size(), expected);
      for (const char* name : {"Lyricist", "VariableBitRate", "WMCollectionGroupID", "WMCollectionID", "WMContentID",
                               "Publisher", "ContentProvider", "DRMKeyID", "DRMIndividualizedVersion"})
        EXPECT_FALSE(s.Has("{urn:zandor:vel:extended}" + std::string(name))) << name;
    } else if (kind == "wav") {
      EXPECT_EQ(s.keys.size(), 7u);
    } else {
      EXPECT_EQ(s.keys.size(), 2u);  // ItemType and URI only
    }
  }
}

TEST_F(AudioPlugin, ValidateItemPerExtension) {
  struct Case {
    const char* file;
    std::optional<Bytes> content;  // nothing: the file is not there
    LONG status;
  };
  const Case cases[] = {
      {"missing.m4a", std::nullopt, EVelValidateStatus_FileMissing},
      {"missing.wav", std::nullopt, EVelValidateStatus_FileMissing},
      {"a.ogg", Bytes(16, 1), EVelValidateStatus_FileCorrupt},
      {"a.wav", Bytes(3, 0), EVelValidateStatus_OK},  // not read
      {"a.WAV", Bytes(), EVelValidateStatus_OK},
      {"a.amr", Bytes(3, 0), EVelValidateStatus_OK},
      {"a.wma", Bytes(16, 1), EVelValidateStatus_OK},  // the runtime cannot open it: logged, still 0
      {"a.mp3", Bytes(16, 1), EVelValidateStatus_OK},
      {"empty.m4a", Bytes(), EVelValidateStatus_FileCorrupt},
      {"a.m4a", Bytes(16, 1), EVelValidateStatus_OK},  // loads; the content is not examined
      {"a.AAC", Bytes(16, 1), EVelValidateStatus_OK},
      {"empty.aac", Bytes(), EVelValidateStatus_FileCorrupt},
      // The video plugin finds no video in them, so the audio plugin judges them as its own.
      {"a.mp4", Bytes(16, 1), EVelValidateStatus_OK},
      {"a.3gp", Bytes(16, 1), EVelValidateStatus_OK},
      {"a.asf", Bytes(16, 1), EVelValidateStatus_OK},  // the runtime cannot open it: logged, still 0
      {"empty.mp4", Bytes(), EVelValidateStatus_FileCorrupt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const std::string path = dir_ + "/" + c.file;
    if (c.content) WriteBytes(path, *c.content);
    ComPtr<IVelItem> item = NewItem();
    Put(item, u"URI", _variant_t(vel::FromUtf8(path)));
    LONG status = -1;
    EXPECT_EQ(plugin_->ValidateItem(item, &status), S_OK);
    EXPECT_EQ(status, c.status);
  }
}

TEST_F(AudioPlugin, ValidateItemWithoutUriFails) {
  ComPtr<IVelItem> item = NewItem();
  LONG status = 7;
  EXPECT_EQ(plugin_->ValidateItem(item, &status), VEL_HR(0x80045D53));
  EXPECT_EQ(status, 0);
  EXPECT_EQ(plugin_->ValidateItem(nullptr, &status), VEL_HR(0x80045D53));
}

TEST_F(AudioPlugin, GetItemPath) {
  struct Case {
    const char* name;
    std::vector<std::pair<const char16_t*, const char16_t*>> properties;
    std::u16string folder;
  };
  const Case cases[] = {
      {"album artist trimmed and cleaned, album cleaned",
       {{u"AlbumArtist", u"  Band/Name "}, {u"Album", u"Live\\Tour"}, {u"Artist", u"Other"}},
       u"Band_Name/Live_Tour"},
      {"no album", {{u"AlbumArtist", u"  Band/Name "}}, u"Band_Name"},
      {"artist and album", {{u"Artist", u"X"}, {u"Album", u"Y"}}, u"X/Y"},
      {"album only", {{u"Album", u"Y"}}, u"Y"},
      {"empty album", {{u"Artist", u"X"}, {u"Album", u"  "}}, u"X"},
      {"an empty album artist hides the artist", {{u"AlbumArtist", nullptr}, {u"Artist", u"X"}, {u"Album", u"Y"}},
       u"Y"},
      {"nothing", {}, u""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ComPtr<IVelItem> item = NewItem();
    for (const auto& [name, value] : c.properties) Put(item, name, value ? _variant_t(value) : _variant_t());
    _bstr_t folder;
    ASSERT_EQ(plugin_->GetItemPath(item, folder.GetAddress()), S_OK);
    EXPECT_EQ(Narrow(folder.view()), Narrow(c.folder));
  }
  BSTR none = nullptr;
  EXPECT_EQ(plugin_->GetItemPath(nullptr, &none), S_OK);
  EXPECT_EQ(SysStringLen(none), 0u);
  SysFreeString(none);
}

TEST_F(AudioPlugin, GetItemPathOfAnItemReadFromAFile) {
  const std::string path = File("a.m4a", Bytes(8, 0));
  ComPtr<IVelItem> item = Read(path);
  // Every MP4 item holds an (empty) "AlbumArtist": the artist is empty.
  Put(item, u"Artist", _variant_t(u"X"));
  Put(item, u"Album", _variant_t(u"Y"));
  _bstr_t folder;
  ASSERT_EQ(plugin_->GetItemPath(item, folder.GetAddress()), S_OK);
  EXPECT_EQ(Narrow(folder.view()), "Y");
}

TEST_F(AudioPlugin, WritePictureRejectsOtherTypes) {
  const std::string path = File("a.m4a", Bytes(8, 0));
  SetErrorInfo(0, nullptr);
  EXPECT_EQ(audio_->WritePicture(Bstr(path), _variant_t(u"not a picture")), VEL_HR(0x80045D53));
  ComPtr<IErrorInfo> info;
  ASSERT_EQ(GetErrorInfo(0, &info), S_OK);
  GUID guid{};
  info->GetGUID(&guid);
  EXPECT_TRUE(guid == IID_IVelItemAudio);
  _bstr_t description;
  info->GetDescription(description.GetAddress());
  const std::string xml = Narrow(description.view());
  EXPECT_NE(xml.find("Invalid function parameter."), std::string::npos) << xml;
  EXPECT_NE(xml.find("<errorcode>1010</errorcode>"), std::string::npos) << xml;
  EXPECT_NE(xml.find("CVelItemAudio::WritePicture"), std::string::npos) << xml;
  EXPECT_EQ(ReadBytes(path), std::string(8, '\0'));
}

// An ADTS stream of frames of one size (AAC LC, 44.1 kHz, stereo).
Bytes Adts(int frames, std::uint32_t length) {
  Bytes b;
  for (int i = 0; i < frames; ++i) {
    const Bytes header = {0xFF,
                          0xF1,
                          0x50,
                          static_cast<std::uint8_t>(0x80 | (length >> 11)),
                          static_cast<std::uint8_t>(length >> 3),
                          static_cast<std::uint8_t>(((length & 7) << 5) | 0x1F),
                          0xFC};
    b.insert(b.end(), header.begin(), header.end());
    b.resize(b.size() + length - header.size());
  }
  return b;
}

// Files that hold no tags, or that the MP4 editor does not read, are left as
// they are and the calls succeed.
TEST_F(AudioPlugin, FilesThatHoldNoTagsAreNeverWritten) {
  const Bytes wave = Wave(16, 176400);
  Bytes isom = {0, 0, 0, 16, 'f', 't', 'y', 'p', 'i', 's', 'o', 'm', 0, 0, 2, 0, 0, 0, 0, 16, 'm', 'd', 'a', 't'};
  isom.resize(32);
  const std::pair<const char*, Bytes> files[] = {
      {"a.wav", wave}, {"a.amr", wave}, {"a.3g2", wave}, {"adts.aac", Adts(3, 400)}, {"isom.m4a", isom}};
  for (const auto& [name, bytes] : files) {
    SCOPED_TRACE(name);
    const std::string path = File(name, bytes);
    const std::string before = ReadBytes(path);
    ComPtr<IVelItem> item = NewItem();
    Put(item, u"Title", _variant_t(u"New"));
    EXPECT_EQ(plugin_->WriteMetadata(Bstr(path), item), S_OK);
    SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, 3);
    VARIANT raw;
    VariantInit(&raw);
    raw.vt = VT_ARRAY | VT_UI1;
    raw.parray = array;
    const _variant_t picture(raw, false);
    EXPECT_EQ(audio_->WritePicture(Bstr(path), picture), S_OK);
    EXPECT_EQ(audio_->WritePicture(Bstr(path), _variant_t()), S_OK);
    _variant_t read;
    EXPECT_EQ(audio_->ReadPicture(Bstr(path), read.GetAddress()), S_OK);
    EXPECT_EQ(read.vt, VT_EMPTY);
    EXPECT_EQ(ReadBytes(path), before);
  }
}

// Without the runtime, Windows Media files are skipped silently.
TEST_F(AudioPlugin, WindowsMediaFilesWithoutTheRuntime) {
  const std::string path = File("a.wma", Bytes(32, 7));
  const std::string before = ReadBytes(path);
  ComPtr<IVelItem> item = NewItem();
  Put(item, u"Title", _variant_t(u"New"));
  EXPECT_EQ(plugin_->WriteMetadata(Bstr(path), item), S_OK);
  EXPECT_EQ(audio_->WritePicture(Bstr(path), _variant_t()), S_OK);
  _variant_t picture(7);
  EXPECT_EQ(audio_->ReadPicture(Bstr(path), picture.GetAddress()), S_OK);
  EXPECT_EQ(picture.vt, VT_EMPTY);
  EXPECT_EQ(ReadBytes(path), before);
}

// An MP4 layout the writer does not take on (its only udta lies beside moov,
// and a second one must not be added) fails the write and leaves the file.
TEST_F(AudioPlugin, AnMp4FileThatCannotBeWrittenFailsTheWrite) {
  const auto atom = [](const char* type, const Bytes& body) {
    Bytes out;
    const std::uint32_t size = static_cast<std::uint32_t>(body.size() + 8);
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(size >> shift));
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), body.begin(), body.end());
    return out;
  };
  const auto cat = [](std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
  };
  const Bytes title = atom("\xA9nam", atom("data", Bytes{0, 0, 0, 1, 0, 0, 0, 0, 'O', 'l', 'd'}));
  const Bytes meta = atom("meta", cat({Bytes(4, 0), atom("hdlr", Bytes(25, 0)), atom("ilst", title)}));
  const std::string path =
      File("a.m4a", cat({atom("ftyp", Bytes{'M', '4', 'A', ' ', 0, 0, 0, 0}), atom("moov", atom("mvhd", Bytes(100, 0))),
                         atom("udta", meta), atom("mdat", Bytes(16, 1))}));
  const std::string before = ReadBytes(path);
  ComPtr<IVelItem> read;
  ASSERT_EQ(plugin_->ReadMetadata(Bstr(path), &read), S_OK);
  const Snapshot snapshot = Snap(read);
  const _variant_t& oldTitle = snapshot.At(Core("Title"));
  ASSERT_EQ(oldTitle.vt, VT_BSTR);
  EXPECT_EQ(Narrow(oldTitle.bstrVal), "Old");

  ComPtr<IVelItem> item = NewItem();
  Put(item, u"Title", _variant_t(u"New"));
  SetErrorInfo(0, nullptr);
  EXPECT_EQ(plugin_->WriteMetadata(Bstr(path), item), VEL_HR(0x80045D53));
  ComPtr<IErrorInfo> info;
  ASSERT_EQ(GetErrorInfo(0, &info), S_OK);
  _bstr_t description;
  info->GetDescription(description.GetAddress());
  const std::string xml = Narrow(description.view());
  EXPECT_NE(xml.find("Error writing audio metadata."), std::string::npos) << xml;
  EXPECT_NE(xml.find("<errorcode>61004</errorcode>"), std::string::npos) << xml;
  EXPECT_NE(xml.find(path), std::string::npos) << xml;
  EXPECT_EQ(ReadBytes(path), before);
}

// Setting the cover an MP4 file already has leaves the file as it is (not
// even rewritten); a different cover of the same size, differing only past
// the first megabyte, is written. Covers of a few megabytes: the file is
// mapped, and the comparison goes over several pieces.
TEST_F(AudioPlugin, Mp4CoverSetAgainLeavesTheFileAndAnotherOfTheSameSizeIsWritten) {
  Bytes cover(3 * 1024 * 1024 + 5);
  for (std::size_t i = 0; i < cover.size(); ++i) cover[i] = static_cast<std::uint8_t>(i * 31 + i / 509);
  cover[0] = 0xFF;
  cover[1] = 0xD8;
  Bytes other = cover;
  other[2 * 1024 * 1024 + 11] ^= 0x01;
  const auto picture = [](const Bytes& bytes) { return MakeByteArrayVariant(bytes.data(), bytes.size()); };
  const std::string path =
      File("c.m4a", vel::testing::SmallFile(vel::testing::Cat({vel::testing::Item("\xA9nam", 1, vel::testing::Text("Song")),
                                                                  vel::testing::Item("covr", 13, cover)})));
  struct stat before {};
  ASSERT_EQ(stat(path.c_str(), &before), 0);
  const std::string bytes = ReadBytes(path);

  ASSERT_EQ(audio_->WritePicture(Bstr(path), picture(cover)), S_OK);
  struct stat after {};
  ASSERT_EQ(stat(path.c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino) << "the file was replaced";
  EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
  EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
  EXPECT_EQ(ReadBytes(path), bytes);

  ASSERT_EQ(audio_->WritePicture(Bstr(path), picture(other)), S_OK);
  ASSERT_EQ(stat(path.c_str(), &after), 0);
  EXPECT_NE(after.st_ino, before.st_ino) << "the file was not rewritten";
  _variant_t read;
  ASSERT_EQ(audio_->ReadPicture(Bstr(path), read.GetAddress()), S_OK);
  EXPECT_TRUE(read == picture(other));
  EXPECT_EQ(Narrow(_bstr_t(Snap(Read(path)).At(Core("Title"))).view()), "Song") << "other tags stay";

  // The cover just written, set again: untouched once more.
  const std::string written = ReadBytes(path);
  ASSERT_EQ(stat(path.c_str(), &before), 0);
  ASSERT_EQ(audio_->WritePicture(Bstr(path), picture(other)), S_OK);
  ASSERT_EQ(stat(path.c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(ReadBytes(path), written);
}

TEST_F(AudioPlugin, MissingFilesFail) {
  const std::string path = dir_ + "/missing.wav";
  ComPtr<IVelItem> item = NewItem();
  IVelItem* out = reinterpret_cast<IVelItem*>(1);
  EXPECT_EQ(plugin_->ReadMetadata(Bstr(path), &out), VEL_HR(0x80045D53));
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(plugin_->WriteMetadata(Bstr(dir_ + "/missing.m4a"), item), VEL_HR(0x80045D53));
  _variant_t picture;
  EXPECT_EQ(audio_->ReadPicture(Bstr(dir_ + "/missing.m4a"), picture.GetAddress()), VEL_HR(0x80045D53));
  EXPECT_EQ(audio_->WritePicture(Bstr(dir_ + "/missing.m4a"), _variant_t()), VEL_HR(0x80045D53));
  // No item: nothing to write, not even a missing file is looked at.
  EXPECT_EQ(plugin_->WriteMetadata(Bstr(dir_ + "/missing.m4a"), nullptr), S_OK);
}

// A Windows Media file made by ffmpeg: 1.5 s of WMA 2 with a title, an
// artist and an album.
std::string MakeWma(const std::string& dir) {
  const std::string path = dir + "/song.wma";
  const std::string command = "ffmpeg -v error -f lavfi -i sine=frequency=440:sample_rate=22050:duration=1.5 -ac 1 "
                              "-c:a wmav2 -b:a 32k -metadata title=Old -metadata artist=Band -metadata album=LP -y " +
                              path;
  if (std::system(command.c_str()) != 0) return {};
  return path;
}

// An attached-picture body: JPEG, front cover, no description, the bytes given.
_variant_t PictureBody(const Bytes& image) {
  Bytes body = {0};
  for (char c : std::string("image/jpeg")) body.push_back(static_cast<std::uint8_t>(c));
  body.insert(body.end(), {0, 3, 0});
  body.insert(body.end(), image.begin(), image.end());
  SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(body.size()));
  std::copy(body.begin(), body.end(), static_cast<std::uint8_t*>(array->pvData));
  VARIANT raw;
  VariantInit(&raw);
  raw.vt = VT_ARRAY | VT_UI1;
  raw.parray = array;
  return _variant_t(raw, false);
}

TEST_F(AudioPlugin, WindowsMediaItemsHoldEveryRow) {
  if (std::system("command -v ffmpeg >/dev/null 2>&1") != 0) GTEST_SKIP() << "ffmpeg is not installed";
  WithRuntime runtime;
  const std::string path = MakeWma(dir_);
  ASSERT_FALSE(path.empty());
  const Snapshot s = Snap(Read(path));
  for (const AudioPropertyMapRow& row : AudioPropertyMap) {
    const std::string key = "{" + Narrow(row.propertyNamespace) + "}" + Narrow(row.propertyName);
    EXPECT_TRUE(s.Has(key)) << key;
  }
  EXPECT_EQ(Narrow(_bstr_t(s.At(Core("Title"))).view()), "Old");
  EXPECT_EQ(Narrow(_bstr_t(s.At(Core("Artist"))).view()), "Band");
  EXPECT_EQ(Narrow(_bstr_t(s.At(Core("Author"))).view()), "Band");
  EXPECT_EQ(s.At(Core("SamplingFrequency")).vt, VT_R4);
  EXPECT_EQ(s.At(Core("Duration")).vt, VT_R8);
  EXPECT_EQ(s.At("{urn:zandor:vel:extended}Picture").vt, VT_EMPTY) << "read leaves the picture out";
}

TEST_F(AudioPlugin, WindowsMediaWritesAndPictures) {
  if (std::system("command -v ffmpeg >/dev/null 2>&1") != 0) GTEST_SKIP() << "ffmpeg is not installed";
  WithRuntime runtime;
  const std::string path = MakeWma(dir_);
  ASSERT_FALSE(path.empty());
  const auto album = [&] { return Snap(Read(path)).At(Core("Album")); };

  // An empty text is not written; VT_EMPTY deletes.
  ComPtr<IVelItem> item = NewItem();
  Put(item, u"Album", _variant_t(u""));
  EXPECT_EQ(plugin_->WriteMetadata(Bstr(path), item), S_OK);
  EXPECT_EQ(Narrow(_bstr_t(album()).view()), "LP");
  item = NewItem();
  Put(item, u"Album", _variant_t());
  EXPECT_EQ(plugin_->WriteMetadata(Bstr(path), item), S_OK);
  EXPECT_EQ(album().vt, VT_EMPTY);

  // A picture over 64 KB is written whole and read back as it was given.
  Bytes image(70000);
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 7);
  image[0] = 0xFF;
  image[1] = 0xD8;
  const _variant_t body = PictureBody(image);
  ASSERT_EQ(audio_->WritePicture(Bstr(path), body), S_OK);
  _variant_t read;
  ASSERT_EQ(audio_->ReadPicture(Bstr(path), read.GetAddress()), S_OK);
  EXPECT_TRUE(read == body);

  // VT_EMPTY through WriteMetadata cannot be compared with the stored picture.
  item = NewItem();
  Put(item, u"Picture", _variant_t(), kExtendedNamespace);
  EXPECT_EQ(plugin_->WriteMetadata(Bstr(path), item), VEL_HR(0x80045D53));
  ASSERT_EQ(audio_->ReadPicture(Bstr(path), read.GetAddress()), S_OK);
  EXPECT_EQ(read.vt, VT_ARRAY | VT_UI1) << "the failed write changed nothing";

  // Either kind of "no picture" through WritePicture removes it.
  for (VARTYPE none : {VT_NULL, VT_EMPTY}) {
    ASSERT_EQ(audio_->WritePicture(Bstr(path), body), S_OK);
    _variant_t clear;
    clear.vt = none;
    EXPECT_EQ(audio_->WritePicture(Bstr(path), clear), S_OK) << none;
    ASSERT_EQ(audio_->ReadPicture(Bstr(path), read.GetAddress()), S_OK);
    EXPECT_EQ(read.vt, VT_EMPTY) << none;
  }
  EXPECT_EQ(Narrow(_bstr_t(Snap(Read(path)).At(Core("Title"))).view()), "Old") << "other tags stay";
}

// A protected file gives the key ID and security version of its rights
// header (read through the runtime's DRM editor) and reads as protected; an
// unprotected one gives neither.
TEST_F(AudioPlugin, WindowsMediaRightsHeadersGiveTheDrmRecords) {
  namespace asfb = vel::testing::asfb;
  WithRuntime runtime;
  struct Row {
    const char* name;
    std::vector<Bytes> protection;  // the header objects that protect the file
    VARIANT_BOOL isProtected;
    const char16_t* keyId;            // null: no record value
    const char16_t* securityVersion;  // null: no record value
  };
  const Row rows[] = {
      {"not protected", {}, VARIANT_FALSE, nullptr, nullptr},
      {"protected, with the extended rights header",
       {asfb::ContentEncryption("KID1"), asfb::ExtendedContentEncryption(u"2.2")}, VARIANT_TRUE, u"KID1", u"2.2"},
      {"protected, no extended rights header", {asfb::ContentEncryption("KeyOfSeven")}, VARIANT_TRUE, u"KeyOfSeven",
       nullptr},
  };
  const std::string keyId = "{" + Narrow(kExtendedNamespace) + "}DRMKeyID";
  const std::string version = "{" + Narrow(kExtendedNamespace) + "}DRMIndividualizedVersion";
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::vector<Bytes> objects = {asfb::FileProperties(20'000'000, 0, 64000), asfb::AudioStream(1, 0x161, 2, 44100, 16000),
                                  asfb::ContentDescription({u"Song", u"", u"", u"", u""})};
    objects.insert(objects.end(), row.protection.begin(), row.protection.end());
    const std::string path = File("rights.wma", asfb::File(objects));
    const Snapshot s = Snap(Read(path));
    EXPECT_EQ(Narrow(_bstr_t(s.At(Core("Title"))).view()), "Song") << "the file was read";
    ASSERT_EQ(s.At(Core("Protected")).vt, VT_BOOL);
    EXPECT_EQ(s.At(Core("Protected")).boolVal, row.isProtected);
    for (const auto& [key, want] : {std::pair{keyId, row.keyId}, std::pair{version, row.securityVersion}}) {
      const _variant_t& value = s.At(key);
      if (want == nullptr) {
        EXPECT_EQ(value.vt, VT_EMPTY) << key;
        continue;
      }
      ASSERT_EQ(value.vt, VT_BSTR) << key;
      EXPECT_EQ(std::u16string(_bstr_t(value).view()), want) << key;
    }
  }
}

// A header that cannot be written back fails the write with the file's path.
TEST_F(AudioPlugin, WindowsMediaFlushFailureIsReported) {
  if (std::system("command -v ffmpeg >/dev/null 2>&1") != 0) GTEST_SKIP() << "ffmpeg is not installed";
  WithRuntime runtime;
  const std::string path = MakeWma(dir_);
  ASSERT_FALSE(path.empty());
  const std::string before = ReadBytes(path);
  ASSERT_EQ(chmod(path.c_str(), 0444), 0);
  ComPtr<IVelItem> item = NewItem();
  Put(item, u"Title", _variant_t(u"New"));
  SetErrorInfo(0, nullptr);
  const HRESULT hr = plugin_->WriteMetadata(Bstr(path), item);
  chmod(path.c_str(), 0644);
  EXPECT_EQ(hr, VEL_HR(0x80045D53));
  ComPtr<IErrorInfo> info;
  ASSERT_EQ(GetErrorInfo(0, &info), S_OK);
  _bstr_t description;
  info->GetDescription(description.GetAddress());
  const std::string xml = Narrow(description.view());
  EXPECT_NE(xml.find("Error writing audio metadata."), std::string::npos) << xml;
  EXPECT_NE(xml.find("<errorcode>61004</errorcode>"), std::string::npos) << xml;
  EXPECT_NE(xml.find(path), std::string::npos) << xml;
  EXPECT_EQ(ReadBytes(path), before);
}

}  // namespace
