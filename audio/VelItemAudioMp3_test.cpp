// The audio plugin writing every writable property of the vocabulary into an
// MP3 file through the Windows Media runtime, with its natural VARTYPE, and
// reading it back: each comes back as it does from a WMA file, or the write
// fails and leaves the file as it was. Both files are built in the test.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "audio/AudioPropertyMap.h"
#include "contract/VelItemsLib.h"
#include "contract/VelItemPluginsLib.h"
#include "platform/com/combase.h"
#include "platform/com/comdef.h"
#include "platform/com/oleauto.h"
#include "platform/text.h"
#include "testing/AsfBuilder.h"
#include "testing/ModuleStore.h"
#include "testing/WithWmfRuntime.h"

using namespace vel::testing;

namespace {

std::string Narrow(std::u16string_view s) { return vel::ToUtf8(std::u16string(s)); }

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const std::string& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                               static_cast<std::streamsize>(bytes.size()));
}

// A bare MPEG-1 layer III stream: 40 silent frames, 128 kbit/s, 44.1 kHz.
Bytes Mp3() {
  Bytes out;
  for (int frame = 0; frame < 40; ++frame) {
    out.insert(out.end(), {0xFF, 0xFB, 0x90, 0x00});
    out.resize(out.size() + 413, 0);
  }
  return out;
}

// A WMA header with File Properties and one audio stream, then data.
Bytes Wma() {
  return asfb::File({asfb::FileProperties(20'000'000, 0, 64000), asfb::AudioStream(1, 0x161, 2, 44100, 16000)});
}

_variant_t ByteArray(const Bytes& bytes) {
  SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
  void* data = nullptr;
  SafeArrayAccessData(array, &data);
  std::copy(bytes.begin(), bytes.end(), static_cast<std::uint8_t*>(data));
  SafeArrayUnaccessData(array);
  VARIANT raw;
  VariantInit(&raw);
  raw.vt = VT_ARRAY | VT_UI1;
  raw.parray = array;
  return _variant_t(raw, false);
}

// An attached-picture body: JPEG, front cover, no description, a few bytes.
_variant_t PictureBody() {
  Bytes body = {0};
  for (char c : std::string("image/jpeg")) body.push_back(static_cast<std::uint8_t>(c));
  body.insert(body.end(), {0, 3, 0, 0xFF, 0xD8, 0xFF, 0xE0, 1, 2, 3, 0xFF, 0xD9});
  return ByteArray(body);
}

class AudioPluginMp3 : public ModuleStore {
 protected:
  void SetUp() override {
    ModuleStore::SetUp();
    if (HasFatalFailure()) return;
    ASSERT_EQ(CoCreateInstance(CLSID_VelItemAudio, nullptr, CLSCTX_ALL, IID_IVelItemPlugin,
                               reinterpret_cast<void**>(&plugin_)),
              S_OK);
  }
  void TearDown() override {
    plugin_ = nullptr;
    ModuleStore::TearDown();
  }

  static _bstr_t Bstr(const std::string& path) { return _bstr_t(vel::FromUtf8(path)); }

  // Writes one property into the file: the plugin's answer.
  HRESULT Write(const std::string& path, const AudioPropertyMapRow& row, const _variant_t& value) {
    ComPtr<IVelItem> item;
    EXPECT_EQ(CoCreateInstance(CLSID_VelItem, nullptr, CLSCTX_ALL, IID_IVelItem, reinterpret_cast<void**>(&item)),
              S_OK);
    ComPtr<IVelProperties> properties;
    EXPECT_EQ(item->get_Properties(&properties), S_OK);
    const std::u16string name(row.propertyName), ns(row.propertyNamespace);
    EXPECT_EQ(properties->put_Value(_bstr_t(name), _bstr_t(ns), value), S_OK);
    return plugin_->WriteMetadata(Bstr(path), item);
  }

  // The property as the plugin reads it (the picture through ReadPicture:
  // an item leaves it out); VT_ERROR when the item lacks it.
  _variant_t Read(const std::string& path, const AudioPropertyMapRow& row) {
    const std::u16string name(row.propertyName), ns(row.propertyNamespace);
    _variant_t value;
    if (name == u"Picture") {
      ComPtr<IVelItemAudio> audio;
      EXPECT_EQ(plugin_.QueryInterface(audio), S_OK);
      EXPECT_EQ(audio->ReadPicture(Bstr(path), value.GetAddress()), S_OK);
      return value;
    }
    ComPtr<IVelItem> item;
    EXPECT_EQ(plugin_->ReadMetadata(Bstr(path), &item), S_OK);
    if (!item) return _variant_t(0, VT_ERROR);
    ComPtr<IVelProperties> properties;
    EXPECT_EQ(item->get_Properties(&properties), S_OK);
    if (FAILED(properties->get_Value(_bstr_t(name), _bstr_t(ns), value.GetAddress()))) return _variant_t(0, VT_ERROR);
    return value;
  }

  std::string Fresh(const std::string& name, const Bytes& bytes) {
    const std::string path = dir_ + "/" + name;
    WriteFile(path, bytes);
    return path;
  }

  WithRuntime runtime_;
  ComPtr<IVelItemPlugin> plugin_;
};

// Every writable row with the VARTYPE the plugin reads it as from a WMA file.
struct RowValue {
  const char16_t* property;
  _variant_t value;
  bool mp3Stores = true;  // false: the MP3 runtime works the value out itself
};

std::vector<RowValue> NaturalValues() {
  return {
      {u"Title", _variant_t(u"A Title")},
      {u"Artist", _variant_t(u"An Artist")},
      {u"Track", _variant_t(7, VT_I4)},
      {u"Comment", _variant_t(u"A comment")},
      {u"Lyrics", _variant_t(u"La la la")},
      {u"Lyricist", _variant_t(u"A Writer")},
      {u"Disk", _variant_t(2, VT_I4)},
      {u"Genre", _variant_t(u"Jazz")},
      {u"Year", _variant_t(u"2026")},
      // IsVBR is the stream's own on MP3 (a computed attribute): no write changes it.
      {u"VariableBitRate", _variant_t(true), false},
      {u"Album", _variant_t(u"An Album")},
      {u"AlbumArtist", _variant_t(u"Various")},
      {u"Composer", _variant_t(u"A Composer")},
      {u"MCDI", ByteArray({0x01, 0x02, 0x03, 0x04, 0x05})},
      {u"Rating", _variant_t(50, VT_I4)},
      {u"Author", _variant_t(u"An Author")},
      {u"Copyright", _variant_t(u"(c) 2026")},
      {u"Description", _variant_t(u"Described")},
      {u"OriginalArtist", _variant_t(u"Originally")},
      {u"ShopTrackId", _variant_t(77, VT_I4)},
      {u"ShopAlbumId", _variant_t(123456, VT_I4)},
      {u"ShopArtistId", _variant_t(-5, VT_I4)},
      {u"ShopGenreId", _variant_t(0, VT_I4)},
      {u"Picture", PictureBody()},
  };
}

std::string VtText(const _variant_t& v) { return std::to_string(v.vt); }

TEST_F(AudioPluginMp3, EveryWritableRowRoundTripsAsOnWma) {
  const std::vector<RowValue> values = NaturalValues();
  for (const AudioPropertyMapRow& row : AudioPropertyMap) {
    if (row.readOnly) continue;
    const std::string name = Narrow(row.propertyName);
    SCOPED_TRACE(name);
    const RowValue* given = nullptr;
    for (const RowValue& v : values)
      if (row.propertyName == v.property) given = &v;
    if (given == nullptr) {
      ADD_FAILURE() << "no value in the table for the writable row " << name;
      continue;
    }
    const std::string wma = Fresh("row.wma", Wma());
    ASSERT_EQ(Write(wma, row, given->value), S_OK);
    const _variant_t fromWma = Read(wma, row);
    EXPECT_TRUE(fromWma == given->value) << "WMA gives VARTYPE " << VtText(fromWma);

    const std::string mp3 = Fresh("row.mp3", Mp3());
    const std::string before = ReadText(mp3);
    const HRESULT hr = Write(mp3, row, given->value);
    if (given->mp3Stores) {
      EXPECT_EQ(hr, S_OK);
      const _variant_t fromMp3 = Read(mp3, row);
      EXPECT_EQ(fromMp3.vt, fromWma.vt);
      EXPECT_TRUE(fromMp3 == fromWma) << "MP3 gives VARTYPE " << VtText(fromMp3);
    } else {
      EXPECT_TRUE(FAILED(hr)) << "a value the file cannot keep is no success";
      EXPECT_TRUE(ReadText(mp3) == before) << "the file changed";
    }
  }
}

// A value an MP3 file cannot keep (bytes other than a picture or MCDI) fails
// the write and leaves the file as it was; the same value in a WMA file lands.
TEST_F(AudioPluginMp3, AValueTheFileCannotKeepFailsTheWrite) {
  const AudioPropertyMapRow* title = FindAudioPropertyByNameAndNamespace(u"Title", kCoreNamespace);
  const AudioPropertyMapRow* comment = FindAudioPropertyByNameAndNamespace(u"Comment", kCoreNamespace);
  ASSERT_NE(title, nullptr);
  ASSERT_NE(comment, nullptr);
  const _variant_t bytes = ByteArray({1, 2, 3});
  const std::string mp3 = Fresh("bytes.mp3", Mp3());
  ASSERT_EQ(Write(mp3, *title, _variant_t(u"Kept")), S_OK);
  const std::string before = ReadText(mp3);
  // (The file has no comment yet: nothing to compare the bytes with.)
  EXPECT_TRUE(FAILED(Write(mp3, *comment, bytes)));
  EXPECT_TRUE(ReadText(mp3) == before) << "the file changed";
  EXPECT_EQ(Read(mp3, *comment).vt, VT_EMPTY);
  EXPECT_EQ(Narrow(_bstr_t(Read(mp3, *title)).view()), "Kept");

  const std::string wma = Fresh("bytes.wma", Wma());
  EXPECT_EQ(Write(wma, *comment, bytes), S_OK);
  EXPECT_TRUE(Read(wma, *comment) == bytes);
}

}  // namespace
