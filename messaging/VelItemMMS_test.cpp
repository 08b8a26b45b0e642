// The MMS plugin as a host sees it: created through COM from a fresh registry
// store, reading messages our writer composes and real ones from the corpus,
// unpacking parts into a folder, and merging file data into the host's item.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "contract/VelItemPluginsLib.h"
#include "contract/VelItemsLib.h"
#include "messaging/MMS/MMSCodec2.h"
#include "messaging/MMS/MMSWriter.h"
#include "messaging/MMS/WspCoding.h"
#include "platform/com/combase.h"
#include "platform/com/comdef.h"
#include "platform/com/oleauto.h"
#include "platform/registry/store.h"
#include "platform/win32/winbase.h"
#include "testing/MmsBuilder.h"
#include "testing/TempDir.h"
#include "testing/TempRegistry.h"
#include "testing/Text.h"
#include "testing/TraceCapture.h"
#include "ylib/YLogging.h"

using namespace vel::testing;

namespace fs = std::filesystem;

namespace {

class MmsPlugin : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"libVelItems.so", "libVelItemPlugins.so"}) {
      ASSERT_EQ(store_.RegisterModule(name), "") << name;
    }
    ASSERT_EQ(CoCreateInstance(CLSID_VelItemMMS, nullptr, CLSCTX_ALL, IID_IVelItemPlugin,
                               reinterpret_cast<void**>(&plugin_)),
              S_OK);
    ASSERT_EQ(plugin_.QueryInterface(mms_), S_OK);
  }
  void TearDown() override {
    plugin_ = nullptr;
    mms_ = nullptr;
    store_.UnloadModules();
    vel::RegistryReset();
  }

  ComPtr<IVelItem> NewItem() {
    ComPtr<IVelItem> item;
    EXPECT_EQ(CoCreateInstance(CLSID_VelItem, nullptr, CLSCTX_ALL, IID_IVelItem, reinterpret_cast<void**>(&item)),
              S_OK);
    return item;
  }
  static void Put(IVelItem* item, const char16_t* name, const _variant_t& value) {
    ComPtr<IVelProperties> p;
    ASSERT_EQ(item->get_Properties(&p), S_OK);
    ASSERT_EQ(p->put_Value(_bstr_t(name), _bstr_t(kCoreNamespace), value), S_OK);
  }
  // The properties of an item by name: "VT:text" (VT as a number).
  static std::map<std::string, _variant_t> Props(IVelItem* item) {
    std::map<std::string, _variant_t> out;
    ComPtr<IVelProperties> p;
    EXPECT_EQ(item->get_Properties(&p), S_OK);
    ComPtr<IUnknown> unknown;
    EXPECT_EQ(p->get__NewEnum(&unknown), S_OK);
    ComPtr<IEnumVARIANT> e;
    EXPECT_EQ(unknown.QueryInterface(e), S_OK);
    for (;;) {
      _variant_t v;
      ULONG fetched = 0;
      if (e->Next(1, v.GetAddress(), &fetched) != S_OK || fetched == 0) break;
      ComPtr<IVelProperty> prop(static_cast<const VARIANT&>(v));
      _bstr_t name;
      _variant_t value;
      prop->get_Name(name.GetAddress());
      prop->get_Value(value.GetAddress());
      out[U8(name.view())] = value;
    }
    return out;
  }
  static std::string Text(const _variant_t& v) { return v.vt == VT_BSTR ? U8(_bstr_t(v).view()) : "<not text>"; }
  static std::string ClassOf(IVelItem* item) {
    _bstr_t c;
    item->get_ItemClass(c.GetAddress());
    return U8(c.view());
  }

  // A message composed by our writer: subject, From, To and the given files.
  std::string Compose(const std::string& name, const char* from, const char* to,
                      const std::vector<std::pair<std::string, std::string>>& files) {
    CMMSWriter w;
    w.SetMessageType(0x80);
    w.SetTransactionId("T1");
    w.SetSubject("Holiday");
    if (from) w.SetFrom(from);
    if (to) w.SetTo(to);
    for (const auto& [file, content] : files) {
      WriteBytes(dir_.File(file), Bytes(content.begin(), content.end()));
      const int code = CMMSWriter::ExtensionToContentType(dir_.WFile(file).c_str());
      EXPECT_EQ(w.AddPart(dir_.WFile(file).c_str(), static_cast<std::uint8_t>(code)), kMmsWriterOk) << file;
    }
    EXPECT_EQ(w.Write(dir_.WFile(name).c_str()), kMmsWriterOk);
    return dir_.File(name);
  }

  ComPtr<IVelItem> Read(const std::string& path) {
    ComPtr<IVelItem> item;
    EXPECT_EQ(plugin_->ReadMetadata(_bstr_t(U16(path)), &item), S_OK) << path;
    return item;
  }
  ComPtr<IVelEnum> Extract(const std::string& path, const std::string& folder) {
    ComPtr<IVelItem> item = NewItem();
    Put(item, u"URI", _variant_t(std::u16string_view(U16(path))));
    ComPtr<IUnknown> unknown;
    EXPECT_EQ(mms_->CreateSMIL(item, _bstr_t(U16(folder)), &unknown), S_OK) << path;
    ComPtr<IVelEnum> parts;
    if (unknown) {
      EXPECT_EQ(unknown.QueryInterface(parts), S_OK);
    }
    return parts;
  }
  static std::vector<ComPtr<IVelItem>> Items(IVelEnum* list) {
    std::vector<ComPtr<IVelItem>> out;
    LONG count = 0;
    EXPECT_EQ(list->get_Count(&count), S_OK);
    for (LONG i = 0; i < count; ++i) {
      _variant_t v;
      EXPECT_EQ(list->Item(_variant_t(static_cast<int>(i)), v.GetAddress()), S_OK);
      out.emplace_back(static_cast<const VARIANT&>(v));
    }
    return out;
  }

  TempRegistry store_{"velmms-reg"};
  TempDir dir_;
  ComPtr<IVelItemPlugin> plugin_;
  ComPtr<IVelItemMMS> mms_;
};

TEST_F(MmsPlugin, ReadMetadataGivesTheEnvelope) {
  struct Case {
    const char* row;
    const char* from;
    const char* to;
    const char* sender;  // null: no "Sender"
    const char* toWhom;  // null: no "ToWhom"
    bool received;
  };
  const Case cases[] = {
      {"from and two recipients", "+4911/TYPE=PLMN", "+4922/TYPE=PLMN%+4933/TYPE=PLMN", "+4911", "+4922; +4933", true},
      {"from without to", "anna@example.org", nullptr, "anna@example.org", nullptr, true},
      {"to without from", nullptr, "+4922", nullptr, "+4922", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.row);
    ComPtr<IVelItem> item = Read(Compose("m.mms", c.from, c.to, {{"a.txt", "hello"}}));
    ASSERT_TRUE(item);
    EXPECT_EQ(ClassOf(item), "Message");
    auto p = Props(item);
    EXPECT_EQ(Text(p["ItemType"]), "application/vnd.zandor.vexa.mms");
    EXPECT_EQ(Text(p["Title"]), "Holiday");
    if (c.sender) {
      EXPECT_EQ(Text(p["Sender"]), c.sender);
    } else {
      EXPECT_EQ(p.count("Sender"), 0u);
    }
    if (c.toWhom) {
      EXPECT_EQ(Text(p["ToWhom"]), c.toWhom);
    } else {
      EXPECT_EQ(p.count("ToWhom"), 0u);
    }
    ASSERT_EQ(p["Received"].vt, VT_BOOL);
    EXPECT_EQ(p["Received"].boolVal, c.received ? VARIANT_TRUE : VARIANT_FALSE);
    EXPECT_EQ(p.count("URI"), 0u);
  }
}

TEST_F(MmsPlugin, ReadMetadataOfAFileThatIsNoMessageGivesTheClassOnly) {
  WriteBytes(dir_.File("junk.mms"), B({"this is not a message"}));
  for (const std::string& path : {dir_.File("junk.mms"), dir_.File("missing.mms")}) {
    ComPtr<IVelItem> item = Read(path);
    ASSERT_TRUE(item) << path;
    EXPECT_EQ(ClassOf(item), "Message");
    EXPECT_TRUE(Props(item).empty()) << path;
  }
}

TEST_F(MmsPlugin, ValidateItemReportsCorruptForEverythingThatDoesNotDecode) {
  const std::string good = Compose("good.mms", "+1", "+2", {{"a.txt", "x"}});
  WriteBytes(dir_.File("corrupt.mms"), B({0x8C, 0x80, 0x98, "no end"}));
  WriteBytes(dir_.File("empty.mms"), {});
  struct Case {
    const char* row;
    const char* uri;  // null: no "URI" property
    LONG status;
  };
  const std::string corrupt = dir_.File("corrupt.mms"), empty = dir_.File("empty.mms"),
                    missing = dir_.File("missing.mms");
  const Case cases[] = {{"good", good.c_str(), EVelValidateStatus_OK},
                        {"missing file", missing.c_str(), EVelValidateStatus_FileCorrupt},
                        {"corrupt", corrupt.c_str(), EVelValidateStatus_FileCorrupt},
                        {"empty", empty.c_str(), EVelValidateStatus_FileCorrupt},
                        {"no URI", nullptr, EVelValidateStatus_FileCorrupt}};
  for (const Case& c : cases) {
    ComPtr<IVelItem> item = NewItem();
    if (c.uri) Put(item, u"URI", _variant_t(std::u16string_view(U16(c.uri))));
    LONG status = -1;
    EXPECT_EQ(plugin_->ValidateItem(item, &status), S_OK) << c.row;
    EXPECT_EQ(status, c.status) << c.row;
  }
  LONG status = -1;
  EXPECT_EQ(plugin_->ValidateItem(nullptr, &status), static_cast<HRESULT>(0x80045D53));
}

TEST_F(MmsPlugin, WriteMetadataMergesIntoTheHostItemAndLeavesTheFileAlone) {
  const std::string path = Compose("m.mms", "+4911", "+4922", {{"a.txt", "hello"}});
  const Bytes before = ReadBytes(path);
  struct stat st {};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  const auto mtime = st.st_mtim;

  ComPtr<IVelItem> host = NewItem();
  host->put_ItemClass(_bstr_t(u"Old"));
  Put(host, u"Title", _variant_t(u"Stale title"));
  Put(host, u"Rating", _variant_t(5));
  Put(host, u"URI", _variant_t(std::u16string_view(U16(path))));
  ASSERT_EQ(plugin_->WriteMetadata(_bstr_t(U16(path)), host), S_OK);

  EXPECT_EQ(ClassOf(host), "Message");
  auto p = Props(host);
  EXPECT_EQ(Text(p["Title"]), "Holiday");  // the file wins
  EXPECT_EQ(Text(p["Sender"]), "+4911");
  EXPECT_EQ(Text(p["ToWhom"]), "+4922");
  ASSERT_EQ(p["Rating"].vt, VT_I4);  // host-only properties survive
  EXPECT_EQ(p["Rating"].lVal, 5);
  EXPECT_EQ(Text(p["URI"]), path);

  EXPECT_EQ(ReadBytes(path), before);
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mtim.tv_sec, mtime.tv_sec);
  EXPECT_EQ(st.st_mtim.tv_nsec, mtime.tv_nsec);

  EXPECT_EQ(plugin_->WriteMetadata(_bstr_t(U16(path)), nullptr), static_cast<HRESULT>(0x80045D53));
}

TEST_F(MmsPlugin, CreateSmilWritesEveryPartWithItsType) {
  const std::string path = Compose("m.mms", "+1", "+2",
                                   {{"note.txt", "hello"}, {"pic.jpg", "\xFF\xD8\xFF not really"},
                                    {"show.smil", "<smil><body><par><text src=\"note.txt\"/></par></body></smil>"}});
  const std::string folder = dir_.File("out");
  fs::create_directory(folder);
  ComPtr<IVelEnum> list = Extract(path, folder);
  ASSERT_TRUE(list);
  std::map<std::string, std::string> types;  // file name -> ItemType
  for (const auto& item : Items(list)) {
    auto p = Props(item);
    // The URI joins folder and name with the platform's separator, which names the same file here.
    std::string uri = Text(p["URI"]);
    std::replace(uri.begin(), uri.end(), '\\', '/');
    ASSERT_TRUE(fs::exists(uri)) << uri;
    EXPECT_EQ(fs::path(uri).parent_path(), fs::path(folder));
    ASSERT_EQ(p["Size"].vt, VT_INT);
    EXPECT_EQ(static_cast<std::uintmax_t>(p["Size"].intVal), fs::file_size(uri));
    EXPECT_EQ(p["LastModifiedDate"].vt, VT_DATE);
    EXPECT_GT(p["LastModifiedDate"].date, 40000.0);
    types[fs::path(uri).filename().string()] = Text(p["ItemType"]);
  }
  const std::map<std::string, std::string> expected = {
      {"note.txt", "text/plain"}, {"pic.jpg", "image/jpeg"}, {"pres.smil", "application/smil"}};
  EXPECT_EQ(types, expected);
  EXPECT_EQ(ReadBytes(folder + "/note.txt"), B({"hello"}));
}

TEST_F(MmsPlugin, CreateSmilOfAFileThatIsNoMessageGivesAnEmptyList) {
  WriteBytes(dir_.File("junk.mms"), B({"junk"}));
  ComPtr<IVelEnum> list = Extract(dir_.File("junk.mms"), dir_.path());
  ASSERT_TRUE(list);
  EXPECT_TRUE(Items(list).empty());
}

// Parts typed by text the table lacks get their type from the name's extension
// (letter case counts), and names from the message never leave the folder.
TEST_F(MmsPlugin, CreateSmilNamesAndTypesPartsSafely) {
  struct Case {
    const char* location;
    const char* type;  // a text type (code 0), or null for text/plain (0x83)
    const char* file;
    const char* itemType;
    const char* data = "payload";
  };
  const Case cases[] = {
      {"clip.3gp", "video/3gpp", "clip.3gp", "video/3gpp"},
      {"clip.3GP", "video/3gpp", "clip.3GP", ""},
      {"voice.amr", "audio/amr", "voice.amr", "audio/AMR"},
      {"wide.awb", "audio/amr-wb", "wide.awb", "audio/AMR-WB"},
      {"show.smil", "application/x-smil", "show.smil", "application/smil"},
      {"old.smi", "application/x-smil", "old.smi", "application/smil"},
      {"../escape.txt", nullptr, "escape.txt", "text/plain"},
      {"/etc/passwd-copy", nullptr, "passwd-copy", "text/plain"},
      {"a\\..\\..\\b.txt", nullptr, "b.txt", "text/plain"},
      {"..", nullptr, "part9.asc", "text/plain"},
      {"", "video/3gpp", "part10.3gp", "video/3gpp"},
      // A part without data still gets its (empty) file and its item.
      {"empty.txt", nullptr, "empty.txt", "text/plain", ""},
  };
  Bytes body = B({static_cast<int>(std::size(cases))});
  for (const Case& c : cases) {
    const Bytes headers = c.type ? B({static_cast<int>(std::string_view(c.type).size() + 1), c.type, 0, 0x8E,
                                      c.location, 0})
                                 : B({0x83, 0x8E, c.location, 0});
    // The general form: a value length, then the type text.
    body = B({body, Entry(headers, B({c.data}))});
  }
  WriteBytes(dir_.File("names.mms"), B({0x8C, 0x80, 0x8D, 0x90, 0x84, 0xA3, body}));
  const std::string folder = dir_.File("parts");
  fs::create_directory(folder);

  ComPtr<IVelEnum> list = Extract(dir_.File("names.mms"), folder);
  ASSERT_TRUE(list);
  const auto items = Items(list);
  ASSERT_EQ(items.size(), std::size(cases));
  for (std::size_t i = 0; i < items.size(); ++i) {
    auto p = Props(items[i]);
    std::string uri = Text(p["URI"]);
    std::replace(uri.begin(), uri.end(), '\\', '/');
    EXPECT_EQ(uri, folder + "/" + cases[i].file) << cases[i].location;
    EXPECT_EQ(Text(p["ItemType"]), cases[i].itemType) << cases[i].location;
    ASSERT_EQ(p["Size"].vt, VT_INT) << cases[i].location;
    EXPECT_EQ(static_cast<std::size_t>(p["Size"].intVal), std::string_view(cases[i].data).size()) << cases[i].location;
    EXPECT_EQ(p["LastModifiedDate"].vt, VT_DATE) << cases[i].location;
  }
  for (const auto& e : fs::recursive_directory_iterator(dir_.path())) {
    if (e.is_regular_file()) {
      const std::string name = e.path().filename().string();
      EXPECT_TRUE(e.path().parent_path() == fs::path(folder) || name == "names.mms") << e.path();
    }
  }
  EXPECT_FALSE(fs::exists(fs::path(dir_.path()).parent_path() / "escape.txt"));
}

// Extraction into a folder that already holds things touches none of them: a
// link named like a part is not followed, an existing file is not replaced,
// and parts of one message with the same name get files of their own.
TEST_F(MmsPlugin, CreateSmilNeverTouchesWhatIsInTheFolderAlready) {
  const std::pair<const char*, const char*> parts[] = {{"same.txt", "one"}, {"same.txt", "two"}, {"SAME.TXT", "three"}};
  Bytes body = B({static_cast<int>(std::size(parts))});
  for (const auto& [location, data] : parts) body = B({body, Entry(B({0x83, 0x8E, location, 0}), B({data}))});
  WriteBytes(dir_.File("same.mms"), B({0x8C, 0x80, 0x8D, 0x90, 0x84, 0xA3, body}));
  const std::string folder = dir_.File("parts");
  fs::create_directory(folder);
  WriteBytes(dir_.File("outside.txt"), B({"outside"}));
  fs::create_symlink(dir_.File("outside.txt"), folder + "/same.txt");
  WriteBytes(folder + "/SAME.TXT", B({"keep"}));

  ComPtr<IVelEnum> list = Extract(dir_.File("same.mms"), folder);
  ASSERT_TRUE(list);
  std::vector<std::string> uris;
  for (const auto& item : Items(list)) uris.push_back(Text(Props(item)["URI"]));
  const std::vector<std::string> expected = {folder + "/same (2).txt", folder + "/same (3).txt",
                                             folder + "/SAME (2).TXT"};
  EXPECT_EQ(uris, expected);
  for (std::size_t i = 0; i < expected.size() && i < uris.size(); ++i)
    EXPECT_EQ(ReadText(uris[i]), parts[i].second) << uris[i];
  EXPECT_EQ(ReadText(dir_.File("outside.txt")), "outside");
  EXPECT_TRUE(fs::is_symlink(folder + "/same.txt"));
  EXPECT_EQ(ReadText(folder + "/SAME.TXT"), "keep");
}

TEST_F(MmsPlugin, CreateMmsComposesFromItemsAndFilesAndReadsBack) {
  for (const char* name : {"a.jpg", "b.cid", "c.txt", "noext"}) WriteBytes(dir_.File(name), B({"data of ", name}));
  const std::string folder = dir_.File("out");
  fs::create_directory(folder);
  ComPtr<IVelItem> sender = NewItem();
  Put(sender, u"Number", _variant_t(u"+4911"));
  ComPtr<IVelEnum> recipients;
  ASSERT_EQ(CoCreateInstance(CLSID_VelEnum, nullptr, CLSCTX_ALL, IID_IVelEnum, reinterpret_cast<void**>(&recipients)),
            S_OK);
  for (const char16_t* title : {u"Anna", u""}) {
    ComPtr<IVelItem> r = NewItem();
    Put(r, u"Title", _variant_t(title));
    Put(r, u"Number", _variant_t(u"+4933"));
    _variant_t missing(static_cast<int>(DISP_E_PARAMNOTFOUND), VT_ERROR);
    ASSERT_EQ(recipients->Add(_variant_t(static_cast<IUnknown*>(r.get())), missing), S_OK);
  }
  std::vector<std::u16string> files;
  for (const char* name : {"a.jpg", "b.cid", "c.txt", "noext"}) files.push_back(dir_.WFile(name));
  const _variant_t list = [&] {
    SAFEARRAY* sa = SafeArrayCreateVector(VT_BSTR, 0, static_cast<ULONG>(files.size()));
    for (LONG i = 0; i < static_cast<LONG>(files.size()); ++i) {
      _bstr_t text{std::u16string_view(files[static_cast<std::size_t>(i)])};
      SafeArrayPutElement(sa, &i, static_cast<BSTR>(text));
    }
    VARIANT v;
    v.vt = VT_ARRAY | VT_BSTR;
    v.parray = sa;
    return _variant_t(v, false);
  }();

  struct Case {
    const char16_t* title;
    const char* file;
  };
  // A title that names a path keeps only its last part; one that leaves nothing gets a plain name.
  const Case cases[] = {{u"Holiday", "Holiday.mms"}, {u"../../Escape", "Escape.mms"}, {u"", "message.mms"}};
  for (const Case& c : cases) {
    ComPtr<IVelItem> item = NewItem();
    Put(item, u"Title", _variant_t(c.title));
    BSTR path = nullptr;
    ASSERT_EQ(mms_->CreateMMS(item, sender, recipients, list, _bstr_t(U16(folder)), &path), S_OK) << c.file;
    std::string written = U8(_bstr_t(path, false).view());
    std::replace(written.begin(), written.end(), '\\', '/');
    EXPECT_EQ(written, folder + "/" + c.file);
    ASSERT_TRUE(fs::exists(written)) << written;

    auto p = Props(Read(written));
    EXPECT_EQ(Text(p["Sender"]), "+4911");
    EXPECT_EQ(Text(p["ToWhom"]), "Anna; +4933");
    CMMSCodec2 codec;
    ASSERT_EQ(codec.ParseMmsMessage(U16(written)), 0);
    const CMultipartContainer& parts = *codec.GetContainer();
    ASSERT_EQ(parts.Count(), 2u) << "b.cid and the file without extension are left out";
    EXPECT_EQ(std::string(vel::wsp::ContentTypeToText(parts.At(0)->contentType)), "image/jpeg");
    EXPECT_EQ(std::string(vel::wsp::ContentTypeToText(parts.At(1)->contentType)), "text/plain");
    EXPECT_EQ(parts.At(1)->data, B({"data of c.txt"}));
  }
  for (const auto& e : fs::recursive_directory_iterator(dir_.path())) {
    EXPECT_TRUE(e.path().parent_path() == fs::path(folder) || e.path().parent_path() == fs::path(dir_.path()))
        << e.path();
  }
  BSTR path = nullptr;
  EXPECT_EQ(mms_->CreateMMS(nullptr, nullptr, nullptr, list, _bstr_t(U16(folder)), &path),
            static_cast<HRESULT>(0x80045D53));
  EXPECT_EQ(path, nullptr);
}

std::vector<fs::path> CorpusFiles() {
  const char* source = std::getenv("VEL_SOURCE_DIR");
  if (source == nullptr) return {};
  const fs::path dir = fs::path(source) / ".." / "shared" / "corpus" / "mms";
  std::error_code error;
  if (!fs::is_directory(dir, error)) return {};
  std::vector<fs::path> files;
  for (const auto& e : fs::directory_iterator(dir, error)) {
    if (e.is_regular_file()) files.push_back(e.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

TEST_F(MmsPlugin, EveryCorpusMessageReadsAndUnpacksWithItsTypes) {
  const auto files = CorpusFiles();
  if (files.empty()) GTEST_SKIP() << "MMS corpus not found at $VEL_SOURCE_DIR/../shared/corpus/mms: skipped";
  for (const fs::path& file : files) {
    SCOPED_TRACE(file.filename().string());
    ComPtr<IVelItem> item = Read(file.string());
    ASSERT_TRUE(item);
    EXPECT_EQ(Text(Props(item)["ItemType"]), "application/vnd.zandor.vexa.mms");
    LONG status = -1;
    Put(item, u"URI", _variant_t(std::u16string_view(U16(file.string()))));
    EXPECT_EQ(plugin_->ValidateItem(item, &status), S_OK);
    EXPECT_EQ(status, EVelValidateStatus_OK);

    // What each part should be typed as, from the decoder itself.
    CMMSCodec2 codec;
    ASSERT_EQ(codec.ParseMmsMessage(U16(file.string())), 0);
    const CMultipartContainer& parts = *codec.GetContainer();

    TempDir out;
    ComPtr<IVelEnum> list = Extract(file.string(), out.path());
    ASSERT_TRUE(list);
    const auto items = Items(list);
    ASSERT_EQ(items.size(), parts.Count());
    for (std::size_t i = 0; i < items.size(); ++i) {
      const CMultipartFile& part = *parts.At(i);
      auto p = Props(items[i]);
      std::string uri = Text(p["URI"]);
      std::replace(uri.begin(), uri.end(), '\\', '/');
      EXPECT_EQ(fs::path(uri).parent_path(), fs::path(out.path())) << uri;
      ASSERT_TRUE(fs::exists(uri)) << uri;
      const std::string type = Text(p["ItemType"]);
      // A part typed by the table carries that type; one typed by a text the
      // table lacks gets a type only from its file name.
      if (part.contentType != 0) {
        EXPECT_EQ(type, vel::wsp::ContentTypeToText(part.contentType)) << uri;
      }
      if (part.contentType == 0x7D) {
        EXPECT_EQ(type, "application/smil");
      }
      std::printf("[ corpus ] %s: %s %s\n", file.filename().string().c_str(), fs::path(uri).filename().c_str(),
                  type.c_str());
    }
  }
}

}  // namespace
