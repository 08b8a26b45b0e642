// The video plugin as a host sees it: libVelItems.so, libVelItemPlugins.so
// and a media graph registered into a fresh registry store. Most tests put
// the scripted graph (libVelScriptedGraph.so) in the real graph's place, so
// every branch of the reading and validation runs on answers the test chose;
// one test keeps the real graph for a file it cannot read.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <utime.h>

#include <cstdint>
#include <ctime>
#include <fstream>
#include <iterator>
#include <optional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "contract/VelItemsLib.h"
#include "contract/VelItemPluginsLib.h"
#include "platform/com/combase.h"
#include "platform/com/comdef.h"
#include "platform/com/oleauto.h"
#include "platform/text.h"
#include "platform/win32/winbase.h"
#include "testing/ModuleStore.h"

using namespace vel::testing;

namespace {

std::string Narrow(std::u16string_view s) { return vel::ToUtf8(std::u16string(s)); }
_bstr_t Bstr(const std::string& text) { return _bstr_t(vel::FromUtf8(text)); }

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The error report of the thread's last failed call, as XML.
std::string ErrorXml() {
  ComPtr<IErrorInfo> info;
  if (GetErrorInfo(0, &info) != S_OK || !info) return "<no error info>";
  _bstr_t description;
  info->GetDescription(description.GetAddress());
  return Narrow(description.view());
}

// Every property of an item in order: name -> value.
using Properties = std::vector<std::pair<std::string, _variant_t>>;
Properties PropertiesOf(IVelItem* item) {
  Properties out;
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
    _bstr_t name;
    _variant_t value;
    EXPECT_EQ(p->get_Name(name.GetAddress()), S_OK);
    EXPECT_EQ(p->get_Value(value.GetAddress()), S_OK);
    out.emplace_back(Narrow(name.view()), value);
  }
  return out;
}

std::vector<std::string> Names(const Properties& properties) {
  std::vector<std::string> names;
  for (const auto& [name, value] : properties) names.push_back(name);
  return names;
}

const _variant_t* Find(const Properties& properties, const std::string& name) {
  for (const auto& [n, value] : properties)
    if (n == name) return &value;
  return nullptr;
}

DATE Date(int year, int month, int day) {
  SYSTEMTIME st{};
  st.wYear = static_cast<WORD>(year);
  st.wMonth = static_cast<WORD>(month);
  st.wDay = static_cast<WORD>(day);
  st.wHour = 12;
  DATE date = 0;
  SystemTimeToVariantTime(&st, &date);
  return date;
}

class VideoPlugin : public ModuleStore {
 protected:
  void SetUp() override {
    ModuleStore::SetUp();
    if (HasFatalFailure()) return;
    ASSERT_EQ(CoCreateInstance(CLSID_VelItemVideo, nullptr, CLSCTX_ALL, IID_IVelItemPlugin,
                               reinterpret_cast<void**>(&plugin_)),
              S_OK);
  }
  void TearDown() override {
    plugin_ = nullptr;
    ModuleStore::TearDown();
  }

  ComPtr<IVelItem> NewItem() {
    ComPtr<IVelItem> item;
    EXPECT_EQ(CoCreateInstance(CLSID_VelItem, nullptr, CLSCTX_ALL, IID_IVelItem, reinterpret_cast<void**>(&item)),
              S_OK);
    return item;
  }
  static void Put(IVelItem* item, const char16_t* name, const _variant_t& value) {
    ComPtr<IVelProperties> properties;
    ASSERT_EQ(item->get_Properties(&properties), S_OK);
    ASSERT_EQ(properties->put_Value(_bstr_t(name), _bstr_t(kCoreNamespace), value), S_OK);
  }
  ComPtr<IVelItem> ItemFor(const std::string& path) {
    ComPtr<IVelItem> item = NewItem();
    Put(item, u"URI", _variant_t(vel::FromUtf8(path)));
    return item;
  }

  ComPtr<IVelItemPlugin> plugin_;
};

// The video plugin over the scripted graph.
class ScriptedVideoPlugin : public VideoPlugin {
 protected:
  void SetUp() override {
    VideoPlugin::SetUp();
    if (HasFatalFailure()) return;
    ASSERT_EQ(store_->RegisterModule("libVelScriptedGraph.so"), "");
    graph_ = LoadLibraryW(vel::FromUtf8(TestBinDir() + "/libVelScriptedGraph.so").c_str());
    ASSERT_NE(graph_, nullptr);
    live_ = reinterpret_cast<LONG (*)()>(GetProcAddress(graph_, "ScriptedGraphLiveObjects"));
    handedOut_ = reinterpret_cast<LONG (*)()>(GetProcAddress(graph_, "ScriptedGraphMediaTypesHandedOut"));
    ASSERT_TRUE(live_ && handedOut_);
  }
  void TearDown() override {
    if (graph_) FreeLibrary(graph_);
    VideoPlugin::TearDown();
  }

  // A file whose first line scripts the graph, padded to size bytes.
  std::string Scripted(const std::string& name, const std::string& script, std::size_t size = 0) {
    std::string bytes = "#scripted-graph " + script + "\n";
    if (bytes.size() < size) bytes.resize(size, 'x');
    const std::string path = dir_ + "/" + name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }

  HMODULE graph_ = nullptr;
  LONG (*live_)() = nullptr;
  LONG (*handedOut_)() = nullptr;
};

// A figure expected in the item: its name and value (VT_R8 values within 1e-9).
struct Figure {
  const char* name;
  VARTYPE vt;
  double value;
};

TEST_F(ScriptedVideoPlugin, ReadMetadataTakesTheGraphsFigures) {
  struct Case {
    const char* name;
    const char* script;
    std::size_t size;
    std::vector<Figure> figures;  // after ItemType, in this order
  };
  const Case cases[] = {
      {"every figure from the graph", "duration=80000000 bitrate=500000 width=640 height=360 avgtime=0.04", 0,
       {{"Duration", VT_R8, 8.0}, {"Width", VT_I4, 640}, {"Height", VT_I4, 360}, {"Bitrate", VT_I4, 500000},
        {"Framerate", VT_R8, 25.0}}},
      {"bit rate from the file size", "duration=80000000 width=176 height=144 avgtime=0.1", 1000000,
       {{"Duration", VT_R8, 8.0}, {"Width", VT_I4, 176}, {"Height", VT_I4, 144}, {"Bitrate", VT_I4, 1000000},
        {"Framerate", VT_R8, 10.0}}},
      {"bit rate from the file size, truncated", "duration=30000000", 1000,
       {{"Duration", VT_R8, 3.0}, {"Bitrate", VT_I4, 2666}}},
      // 8,000,000 bits in a microsecond: far beyond a VT_I4, so no bit rate at all.
      {"bogus short duration overflows the bit rate", "duration=10 avgtime=0.04", 1000000,
       {{"Duration", VT_R8, 1e-6}, {"Framerate", VT_R8, 25.0}}},
      {"frame rate from the frame count", "duration=80000000 bitrate=64000 frameformat=0 frames=200", 0,
       {{"Duration", VT_R8, 8.0}, {"Bitrate", VT_I4, 64000}, {"Framerate", VT_R8, 25.0}}},
      {"no frame time format: no frame rate", "duration=80000000 bitrate=64000 frameformat=1 frames=200", 0,
       {{"Duration", VT_R8, 8.0}, {"Bitrate", VT_I4, 64000}}},
      {"frame time format refused: no frame rate",
       "duration=80000000 bitrate=64000 frameformat=0 settimeformat=0x80004005 frames=200", 0,
       {{"Duration", VT_R8, 8.0}, {"Bitrate", VT_I4, 64000}}},
      {"no duration: nothing derived from it", "duration=0 width=320 frameformat=0 frames=200", 5000,
       {{"Width", VT_I4, 320}}},
      {"failing IBasicVideo getters leave zeros", "duration=20000000 videohr=0x80004002 width=640 height=360 "
       "bitrate=9 avgtime=0.5", 1000,
       {{"Duration", VT_R8, 2.0}, {"Bitrate", VT_I4, 4000}}},
      {"negative figures are left out", "duration=-5 width=-1 height=-1 bitrate=-7 avgtime=-0.04", 0, {}},
      // Only a video stream without a decoder makes the file unreadable.
      {"audio not rendered", "render=0x00040258 duration=10000000 width=64 height=48", 90,
       {{"Duration", VT_R8, 1.0}, {"Width", VT_I4, 64}, {"Height", VT_I4, 48}, {"Bitrate", VT_I4, 8 * 90}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = Scripted("clip.mp4", c.script, c.size);
    ComPtr<IVelItem> item;
    ASSERT_EQ(plugin_->ReadMetadata(Bstr(path), &item), S_OK) << ErrorXml();
    ASSERT_TRUE(item);
    _bstr_t itemClass;
    EXPECT_EQ(item->get_ItemClass(itemClass.GetAddress()), S_OK);
    EXPECT_EQ(Narrow(itemClass.view()), "Video");
    const Properties properties = PropertiesOf(item);
    std::vector<std::string> expectedNames{"ItemType"};
    for (const Figure& figure : c.figures) expectedNames.push_back(figure.name);
    EXPECT_EQ(Names(properties), expectedNames);
    if (const _variant_t* type = Find(properties, "ItemType")) {
      EXPECT_EQ(type->vt, VT_BSTR);
      EXPECT_EQ(Narrow(_bstr_t(*type).view()), "video/mp4");
    }
    for (const Figure& figure : c.figures) {
      const _variant_t* value = Find(properties, figure.name);
      if (!value) continue;
      EXPECT_EQ(value->vt, figure.vt) << figure.name;
      if (figure.vt == VT_I4) {
        EXPECT_EQ(value->lVal, static_cast<LONG>(figure.value)) << figure.name;
      } else {
        EXPECT_NEAR(value->dblVal, figure.value, 1e-9) << figure.name;
      }
    }
    EXPECT_EQ(live_(), 0) << "the graph was not released";
  }
}

TEST_F(ScriptedVideoPlugin, ItemTypeFollowsTheRegisteredExtension) {
  const std::pair<const char*, const char*> cases[] = {
      {"a.3gp", "video/3gpp"}, {"a.3G2", "video/3gpp2"}, {"a.wmv", "video/x-ms-wmv"}, {"a.mpeg", "video/mpeg"},
      {"a.avi", "video/avi"},  {"a.xyz", ""},
  };
  for (const auto& [file, mime] : cases) {
    SCOPED_TRACE(file);
    ComPtr<IVelItem> item;
    ASSERT_EQ(plugin_->ReadMetadata(Bstr(Scripted(file, "duration=10000000")), &item), S_OK) << ErrorXml();
    const Properties properties = PropertiesOf(item);
    const _variant_t* type = Find(properties, "ItemType");
    ASSERT_NE(type, nullptr);
    EXPECT_EQ(type->vt, VT_BSTR);
    EXPECT_EQ(Narrow(_bstr_t(*type).view()), mime);
  }
}

TEST_F(ScriptedVideoPlugin, ReadMetadataFailures) {
  struct Case {
    const char* name;
    std::optional<std::string> script;  // nothing: no file
    const char* description;
    const char* code;
  };
  const Case cases[] = {
      {"video not rendered", "render=0x00040257", "Error reading video metadata.", "61006"},
      {"unknown file type", "render=0x80040240", "VFW_E_UNKNOWN_FILE_TYPE", "-2147220928"},
      {"nothing renders", "render=0x80040218", "VFW_E_CANNOT_RENDER", "-2147220968"},
      {"a code the name table lacks", "render=0x80041234", "Unknown", "-2147216844"},
      {"missing file", std::nullopt, "ERROR_FILE_NOT_FOUND", "-2147024894"},
      {"no IMediaSeeking", "duration=10000000 noseeking=1", "", "-2147467262"},
      {"no IBasicVideo", "duration=10000000 novideo=1", "", "-2147467262"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = c.script ? Scripted("clip.mp4", *c.script) : dir_ + "/none.mp4";
    SetErrorInfo(0, nullptr);
    ComPtr<IVelItem> item = NewItem();  // a stale value the call must clear
    EXPECT_EQ(plugin_->ReadMetadata(Bstr(path), &item), VEL_HR(0x80045D53));
    EXPECT_FALSE(item);
    const std::string xml = ErrorXml();
    if (*c.description) {
      EXPECT_NE(xml.find(std::string("<description>") + c.description + "</description>"), std::string::npos) << xml;
    }
    EXPECT_NE(xml.find(std::string("<errorcode>") + c.code + "</errorcode>"), std::string::npos) << xml;
    EXPECT_NE(xml.find("<sourcefunction>CVelItemVideo::ReadMetadataImpl</sourcefunction>"), std::string::npos) << xml;
    EXPECT_EQ(live_(), 0) << "the graph was not released";
  }
}

TEST_F(ScriptedVideoPlugin, ValidateItemLooksForVideoInContainersThatMayHoldAudioOnly) {
  struct Case {
    const char* name;
    const char* file;                   // nullptr: no URI property at all
    std::optional<std::string> script;  // nothing: a file of plain text, or none when the name has no extension
    LONG status;
    LONG typesWalked;  // media types the plugin was handed (and must free)
  };
  const Case cases[] = {
      {"no URI", nullptr, std::nullopt, EVelValidateStatus_FileMissing, 0},
      {"empty URI", "", std::nullopt, EVelValidateStatus_FileMissing, 0},
      {"missing file", "gone", std::nullopt, EVelValidateStatus_FileMissing, 0},
      {"audio-only .mp4", "a.mp4", "pins=out:auds", EVelValidateStatus_FileCorrupt, 1},
      {"audio-only, upper-case .MP4", "a.MP4", "pins=out:auds", EVelValidateStatus_FileCorrupt, 1},
      {"the same audio named .avi", "a.avi", "pins=out:auds", EVelValidateStatus_OK, 0},
      {"video .mp4", "v.mp4", "pins=out:auds,out:vids", EVelValidateStatus_OK, 2},
      {"video as a pin's second type (.3gp)", "v.3gp", "pins=out:auds|vids", EVelValidateStatus_OK, 2},
      {"video found first, the rest still walked", "v.mpg4", "pins=out:vids|auds,out:auds|strm",
       EVelValidateStatus_OK, 4},
      {"video on an input pin only (.asf)", "v.asf", "pins=in:vids,out:auds", EVelValidateStatus_FileCorrupt, 1},
      {"other streams only (.3g2)", "v.3g2", "pins=out:strm", EVelValidateStatus_FileCorrupt, 1},
      {"no pins at all (.mp4)", "e.mp4", "", EVelValidateStatus_FileCorrupt, 0},
      {"source filter refuses (.mp4)", "bad.mp4", "source=0x8004022F pins=out:vids", EVelValidateStatus_FileCorrupt,
       0},
      {"source filter refuses (.avi)", "bad.avi", "source=0x80040240", EVelValidateStatus_FileCorrupt, 0},
      {"not a file the graph reads (.wmv)", "bad.wmv", std::nullopt, EVelValidateStatus_FileCorrupt, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ComPtr<IVelItem> item = NewItem();
    if (c.file) {
      const std::string name = c.file;
      std::string path = name.empty() ? "" : dir_ + "/" + name;
      if (c.script)
        path = Scripted(name, *c.script);
      else if (name.find('.') != std::string::npos)
        std::ofstream(path) << "plain text";
      Put(item, u"URI", _variant_t(vel::FromUtf8(path)));
    }
    const LONG before = handedOut_();
    LONG status = -1;
    ASSERT_EQ(plugin_->ValidateItem(item, &status), S_OK) << ErrorXml();
    EXPECT_EQ(status, c.status);
    EXPECT_EQ(handedOut_() - before, c.typesWalked);
    EXPECT_EQ(live_(), 0) << "a graph object or a media type was not released";
  }
}

TEST_F(ScriptedVideoPlugin, ValidateItemFailsOnlyForTheHostsCalls) {
  LONG status = 7;
  EXPECT_EQ(plugin_->ValidateItem(nullptr, &status), VEL_HR(0x80045D53));
  EXPECT_EQ(status, 0);
  ComPtr<IVelItem> item = ItemFor(Scripted("a.mp4", "pins=out:vids"));
  EXPECT_EQ(plugin_->ValidateItem(item, nullptr), VEL_HR(0x80045D53));
  // A URI that is no text counts as none.
  ComPtr<IVelItem> number = NewItem();
  Put(number, u"URI", _variant_t(42));
  ASSERT_EQ(plugin_->ValidateItem(number, &status), S_OK);
  EXPECT_EQ(status, EVelValidateStatus_FileMissing);
}

TEST_F(ScriptedVideoPlugin, WriteMetadataRefreshesTheItemAndLeavesTheFile) {
  const std::string path = Scripted("clip.mp4", "duration=80000000 bitrate=500000 width=640 height=360 avgtime=0.04");
  const std::time_t old = 1200000000;
  utimbuf times{old, old};
  ASSERT_EQ(utime(path.c_str(), &times), 0);
  const std::string bytes = ReadBytes(path);

  ComPtr<IVelItem> item = ItemFor(path);
  Put(item, u"CreationDate", _variant_t(Date(2008, 10, 15), VT_DATE));
  Put(item, u"Title", _variant_t(u"Holiday"));
  Put(item, u"Width", _variant_t(1));  // stale: the file's value wins
  ASSERT_EQ(plugin_->WriteMetadata(Bstr(path), item), S_OK) << ErrorXml();

  const Properties after = PropertiesOf(item);
  const auto expect = [&](const char* name, VARTYPE vt) -> const _variant_t* {
    const _variant_t* value = Find(after, name);
    EXPECT_NE(value, nullptr) << name;
    if (value) {
      EXPECT_EQ(value->vt, vt) << name;
    }
    return value;
  };
  if (auto* v = expect("CreationDate", VT_DATE)) {
    EXPECT_EQ(v->date, Date(2008, 10, 15));
  }
  if (auto* v = expect("Title", VT_BSTR)) {
    EXPECT_EQ(Narrow(_bstr_t(*v).view()), "Holiday");
  }
  if (auto* v = expect("Width", VT_I4)) {
    EXPECT_EQ(v->lVal, 640);
  }
  if (auto* v = expect("Height", VT_I4)) {
    EXPECT_EQ(v->lVal, 360);
  }
  if (auto* v = expect("Duration", VT_R8)) {
    EXPECT_DOUBLE_EQ(v->dblVal, 8.0);
  }
  if (auto* v = expect("ItemType", VT_BSTR)) {
    EXPECT_EQ(Narrow(_bstr_t(*v).view()), "video/mp4");
  }
  _bstr_t itemClass;
  EXPECT_EQ(item->get_ItemClass(itemClass.GetAddress()), S_OK);
  EXPECT_EQ(Narrow(itemClass.view()), "Video");

  EXPECT_EQ(ReadBytes(path), bytes);
  struct stat st {};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mtime, old);
}

TEST_F(ScriptedVideoPlugin, WriteMetadataFailureLeavesTheItem) {
  struct Case {
    const char* name;
    const char* script;
  };
  const Case cases[] = {{"video not rendered", "render=0x00040257"}, {"unknown file type", "render=0x80040240"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = Scripted("clip.mp4", c.script);
    ComPtr<IVelItem> item = ItemFor(path);
    Put(item, u"Width", _variant_t(1));
    const Properties before = PropertiesOf(item);
    EXPECT_EQ(plugin_->WriteMetadata(Bstr(path), item), VEL_HR(0x80045D53));
    const Properties after = PropertiesOf(item);
    EXPECT_EQ(Names(after), Names(before));
    const _variant_t* width = Find(after, "Width");
    ASSERT_NE(width, nullptr);
    EXPECT_EQ(width->lVal, 1);
  }
  EXPECT_EQ(plugin_->WriteMetadata(Bstr(Scripted("ok.mp4", "duration=1")), nullptr), VEL_HR(0x80045D53));
}

TEST_F(ScriptedVideoPlugin, GetItemPathFilesByDate) {
  // Mid-month at noon: the local time of any zone stays in the same month.
  const std::time_t march2007 = 1173700800;  // 2007-03-12 12:00 UTC
  struct Case {
    const char* name;
    const char* script;
    std::optional<DATE> creationDate;
    const char* expected;
  };
  const Case cases[] = {
      // The item's date decides; the file is not even read (it would fail).
      {"creation date", "render=0x80040240", Date(2008, 10, 15), "2008-10"},
      {"creation date in January", "render=0x80040240", Date(1999, 1, 2), "1999-01"},
      // No date: the file is read again, and without a date there, its last write time counts.
      {"file time", "duration=10000000", std::nullopt, "2007-03"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = Scripted("clip.mp4", c.script);
    utimbuf times{march2007, march2007};
    ASSERT_EQ(utime(path.c_str(), &times), 0);
    ComPtr<IVelItem> item = ItemFor(path);
    if (c.creationDate) Put(item, u"CreationDate", _variant_t(*c.creationDate, VT_DATE));
    const std::vector<std::string> before = Names(PropertiesOf(item));
    _bstr_t folder;
    ASSERT_EQ(plugin_->GetItemPath(item, folder.GetAddress()), S_OK) << ErrorXml();
    EXPECT_EQ(Narrow(folder.view()), c.expected);
    EXPECT_EQ(Names(PropertiesOf(item)), before) << "the caller's item changed";
  }
}

TEST_F(ScriptedVideoPlugin, GetItemPathReportsAFailedReRead) {
  ComPtr<IVelItem> item = ItemFor(Scripted("clip.mp4", "render=0x00040257"));
  SetErrorInfo(0, nullptr);
  _bstr_t folder(u"stale");
  EXPECT_EQ(plugin_->GetItemPath(item, folder.GetAddress()), VEL_HR(0x80045D53));
  EXPECT_EQ(folder.length(), 0u);
  const std::string xml = ErrorXml();
  EXPECT_NE(xml.find("<errorcode>61006</errorcode>"), std::string::npos) << xml;
  EXPECT_NE(xml.find("CVelItemVideo::GetItemPath"), std::string::npos) << xml;
}

// The real graph: a file of random bytes is no media file. No byte is 0xFF,
// so no stray audio frame sync makes the bytes look like an MPEG stream.
TEST_F(VideoPlugin, RealGraphNamesTheErrorOfAnUnreadableFile) {
  const std::string path = dir_ + "/noise.mp4";
  std::mt19937 random(1);
  std::string noise(4096, '\0');
  for (char& c : noise) c = static_cast<char>(random() % 0xFF);
  std::ofstream(path, std::ios::binary) << noise;
  SetErrorInfo(0, nullptr);
  ComPtr<IVelItem> item;
  EXPECT_EQ(plugin_->ReadMetadata(Bstr(path), &item), VEL_HR(0x80045D53));
  const std::string xml = ErrorXml();
  EXPECT_NE(xml.find("<description>VFW_E_UNKNOWN_FILE_TYPE</description>"), std::string::npos) << xml;
  EXPECT_NE(xml.find("<errorcode>-2147220928</errorcode>"), std::string::npos) << xml;
  LONG status = -1;
  ASSERT_EQ(plugin_->ValidateItem(ItemFor(path), &status), S_OK);
  EXPECT_EQ(status, EVelValidateStatus_FileCorrupt);
}

}  // namespace
