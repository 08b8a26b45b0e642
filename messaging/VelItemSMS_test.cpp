// The SMS plugin as a host sees it: libVelItems.so and libVelItemPlugins.so
// registered into a fresh registry store, ".vmg" files read into message
// items and merged into host items.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "framework/VelItems.h"
#include "module/VelItemPluginsLib.h"
#include "platform/com/combase.h"
#include "platform/com/comdef.h"
#include "platform/com/oleauto.h"
#include "platform/registry/store.h"
#include "platform/text.h"
#include "platform/win32/winbase.h"
#include "testing/ModuleStore.h"

using namespace vel::testing;

namespace {


std::string Narrow(std::u16string_view s) { return vel::ToUtf8(std::u16string(s)); }

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// A property's value, VT_EMPTY when the item lacks it (VT_ERROR when the
// host call fails).
_variant_t Get(IVelItem* item, const char16_t* name) {
  ComPtr<IVelProperties> properties;
  if (FAILED(item->get_Properties(&properties)) || !properties) return _variant_t(0, VT_ERROR);
  VARIANT_BOOL exists = VARIANT_FALSE;
  const _bstr_t n(name), ns(kCoreNamespace);
  if (FAILED(properties->Exists(n, ns, &exists))) return _variant_t(0, VT_ERROR);
  if (exists != VARIANT_TRUE) return _variant_t();
  _variant_t value;
  if (FAILED(properties->get_Value(n, ns, value.GetAddress()))) return _variant_t(0, VT_ERROR);
  return value;
}

std::string Text(IVelItem* item, const char16_t* name) {
  const _variant_t v = Get(item, name);
  if (v.vt == VT_EMPTY) return "<absent>";
  if (v.vt != VT_BSTR) return "<vt " + std::to_string(v.vt) + ">";
  return Narrow(v.bstrVal ? v.bstrVal : u"");
}

DATE Date(int y, int mo, int d, int h, int mi, int s) {
  SYSTEMTIME st{};
  st.wYear = static_cast<WORD>(y);
  st.wMonth = static_cast<WORD>(mo);
  st.wDay = static_cast<WORD>(d);
  st.wHour = static_cast<WORD>(h);
  st.wMinute = static_cast<WORD>(mi);
  st.wSecond = static_cast<WORD>(s);
  DOUBLE date = 0;
  SystemTimeToVariantTime(&st, &date);
  return date;
}

std::u16string Join(const std::vector<std::u16string>& lines) {
  std::u16string text;
  for (const auto& l : lines) text += l + u"\r\n";
  return text;
}

class SmsPlugin : public ModuleStore {
 protected:
  void SetUp() override {
    // Message dates are UTC; with the zone at UTC local time equals them.
    setenv("TZ", "UTC", 1);
    tzset();
    setenv("LC_ALL", "en_US.UTF-8", 1);
    ModuleStore::SetUp();
    if (HasFatalFailure()) return;
    ASSERT_EQ(CoCreateInstance(CLSID_VelItemSMS, nullptr, CLSCTX_ALL, IID_IVelItemPlugin,
                               reinterpret_cast<void**>(&plugin_)),
              S_OK);
  }
  void TearDown() override {
    plugin_ = nullptr;
    ModuleStore::TearDown();
    unsetenv("LC_ALL");
  }
  std::string WriteFile(const std::string& name, const std::u16string& text) {
    const std::string path = dir_ + "/" + name;
    std::ofstream(path, std::ios::binary) << vel::ToUtf8(text);
    return path;
  }
  ComPtr<IVelItem> Read(const std::string& path) {
    ComPtr<IVelItem> item;
    EXPECT_EQ(plugin_->ReadMetadata(_bstr_t(vel::FromUtf8(path).c_str()), &item), S_OK) << path;
    return item;
  }

  ComPtr<IVelItemPlugin> plugin_;
};

TEST_F(SmsPlugin, ReadsTheSample) {
  const char* source = std::getenv("VEL_SOURCE_DIR");
  ASSERT_NE(source, nullptr);
  ComPtr<IVelItem> item = Read(std::string(source) + "/samples/hello.vmg");
  ASSERT_TRUE(item);
  _bstr_t itemClass;
  ASSERT_EQ(item->get_ItemClass(itemClass.GetAddress()), S_OK);
  EXPECT_EQ(Narrow(itemClass.view()), "Message");
  EXPECT_EQ(Text(item, u"ItemType"), "application/vnd.zandor.vexa.sms");
  EXPECT_EQ(Text(item, u"Sender"), "Berg;Anna <+4915112345678>");
  EXPECT_EQ(Text(item, u"Title"), "Berg;Anna <+4915112345678>");
  EXPECT_EQ(Text(item, u"ToWhom"), "<absent>");
  EXPECT_EQ(Text(item, u"MessageText"), "Hello from the sample!\r\nSee you at eight.");
  const _variant_t received = Get(item, u"Received");
  EXPECT_EQ(received.vt, VT_BOOL);
  EXPECT_EQ(received.boolVal, VARIANT_TRUE);
  const _variant_t date = Get(item, u"CreationDate");
  ASSERT_EQ(date.vt, VT_DATE);
  // en-US reads neither "10.12.2026" form; with slashes it is month/day.
  EXPECT_NEAR(date.date, Date(2026, 10, 12, 7, 35, 48), 1e-6);
}

TEST_F(SmsPlugin, PartiesAndDatesTable) {
  struct Row {
    const char* name;
    const char* locale;
    std::vector<std::u16string> envelope;  // between the header and END:VMSG
    std::u16string date;                   // the Date line's value, none when empty
    std::string sender, toWhom, title;
    int received;  // -1 absent
    DATE creation;  // 0 absent
  };
  const std::vector<std::u16string> two = {u"BEGIN:VENV",  u"BEGIN:VCARD", u"N:Bo",      u"TEL:111",
                                           u"END:VCARD",   u"BEGIN:VCARD", u"N:Cy",      u"TEL:222",
                                           u"END:VCARD",   u"BEGIN:VENV",  u"BEGIN:VBODY"};
  const Row rows[] = {
      {"sent to two, ISO date", "en_US.UTF-8", two, u"2026/12/10 07:35:48", "<absent>", "Bo;Cy <111;222>",
       "Bo;Cy <111;222>", 0, Date(2026, 12, 10, 7, 35, 48)},
      {"dotted date read by a dotted locale", "de_DE.UTF-8", two, u"10.12.2026 07:35:48", "<absent>",
       "Bo;Cy <111;222>", "Bo;Cy <111;222>", 0, Date(2026, 12, 10, 7, 35, 48)},
      {"no date", "en_US.UTF-8", two, u"", "<absent>", "Bo;Cy <111;222>", "Bo;Cy <111;222>", 0, 0},
      {"date that is none", "en_US.UTF-8", two, u"tomorrow", "<absent>", "Bo;Cy <111;222>", "Bo;Cy <111;222>", 0, 0},
      {"number only", "en_US.UTF-8",
       {u"BEGIN:VCARD", u"N:", u"TEL:+4930", u"END:VCARD", u"BEGIN:VENV", u"BEGIN:VBODY"},
       u"", "+4930", "<absent>", "+4930", 1, 0},
      {"both parties", "en_US.UTF-8",
       {u"BEGIN:VCARD", u"N:Al", u"TEL:1", u"END:VCARD", u"BEGIN:VENV", u"BEGIN:VCARD", u"N:Bo", u"TEL:2",
        u"END:VCARD", u"BEGIN:VENV", u"BEGIN:VBODY"},
       u"", "Al <1>", "Bo <2>", "Bo <2>", 0, 0},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    setenv("LC_ALL", r.locale, 1);
    std::vector<std::u16string> lines = {u"BEGIN:VMSG", u"VERSION:1.1", u"X-IRMC-STATUS:SENT"};
    lines.insert(lines.end(), r.envelope.begin(), r.envelope.end());
    if (!r.date.empty()) lines.push_back(u"Date:" + r.date);
    for (const char16_t* l : {u"Line one", u"Line two", u"END:VBODY", u"END:VENV", u"END:VENV", u"END:VMSG"})
      lines.push_back(l);
    ComPtr<IVelItem> item = Read(WriteFile("m.vmg", Join(lines)));
    ASSERT_TRUE(item);
    EXPECT_EQ(Text(item, u"Sender"), r.sender);
    EXPECT_EQ(Text(item, u"ToWhom"), r.toWhom);
    EXPECT_EQ(Text(item, u"Title"), r.title);
    EXPECT_EQ(Text(item, u"MessageText"), "Line one\r\nLine two");
    const _variant_t received = Get(item, u"Received");
    if (r.received < 0) {
      EXPECT_EQ(received.vt, VT_EMPTY);
    } else {
      ASSERT_EQ(received.vt, VT_BOOL);
      EXPECT_EQ(received.boolVal, r.received ? VARIANT_TRUE : VARIANT_FALSE);
    }
    const _variant_t date = Get(item, u"CreationDate");
    if (r.creation == 0) {
      EXPECT_EQ(date.vt, VT_EMPTY);
    } else {
      ASSERT_EQ(date.vt, VT_DATE);
      EXPECT_NEAR(date.date, r.creation, 1e-6);
    }
  }
}

TEST_F(SmsPlugin, UnreadableFilesGiveTheBareItem) {
  const std::string missing = dir_ + "/absent.vmg";
  const std::string noStatus = WriteFile("nostatus.vmg", Join({u"BEGIN:VMSG", u"BEGIN:VCARD", u"N:A", u"TEL:1",
                                                               u"END:VCARD", u"END:VMSG"}));
  const std::string junk = WriteFile("junk.vmg", u"\u00ff\u00fe not a message");
  for (const std::string& path : {missing, noStatus, junk}) {
    SCOPED_TRACE(path);
    ComPtr<IVelItem> item = Read(path);
    ASSERT_TRUE(item);
    EXPECT_EQ(Text(item, u"ItemType"), "application/vnd.zandor.vexa.sms");
    EXPECT_EQ(Text(item, u"MessageText"), "<absent>");
    EXPECT_EQ(Text(item, u"Sender"), "<absent>");
  }
  EXPECT_EQ(plugin_->ReadMetadata(_bstr_t(u"x.vmg"), nullptr), static_cast<HRESULT>(0x80045D53));
}

TEST_F(SmsPlugin, WriteMetadataMergesAndLeavesTheFile) {
  const char* source = std::getenv("VEL_SOURCE_DIR");
  ASSERT_NE(source, nullptr);
  const std::string path = dir_ + "/hello.vmg";
  std::filesystem::copy_file(std::string(source) + "/samples/hello.vmg", path);
  const std::string before = ReadBytes(path);

  ComPtr<IVelItem> host;
  ASSERT_EQ(CoCreateInstance(CLSID_VelItem, nullptr, CLSCTX_ALL, IID_IVelItem, reinterpret_cast<void**>(&host)),
            S_OK);
  ComPtr<IVelProperties> properties;
  ASSERT_EQ(host->get_Properties(&properties), S_OK);
  const _bstr_t ns(kCoreNamespace);
  const DATE hostDate = Date(2001, 2, 3, 4, 5, 6);
  ASSERT_EQ(properties->put_Value(_bstr_t(u"CreationDate"), ns, _variant_t(hostDate, VT_DATE)), S_OK);
  ASSERT_EQ(properties->put_Value(_bstr_t(u"Sender"), ns, _variant_t(u"old sender")), S_OK);
  ASSERT_EQ(properties->put_Value(_bstr_t(u"Rating"), ns, _variant_t(u"host only")), S_OK);

  ASSERT_EQ(plugin_->WriteMetadata(_bstr_t(vel::FromUtf8(path).c_str()), host), S_OK);
  EXPECT_EQ(ReadBytes(path), before);
  const _variant_t date = Get(host, u"CreationDate");
  ASSERT_EQ(date.vt, VT_DATE);
  EXPECT_EQ(date.date, hostDate);
  EXPECT_EQ(Text(host, u"Sender"), "Berg;Anna <+4915112345678>");
  EXPECT_EQ(Text(host, u"Rating"), "host only");
  EXPECT_EQ(Text(host, u"MessageText"), "Hello from the sample!\r\nSee you at eight.");
  _bstr_t itemClass;
  ASSERT_EQ(host->get_ItemClass(itemClass.GetAddress()), S_OK);
  EXPECT_EQ(Narrow(itemClass.view()), "Message");

  EXPECT_EQ(plugin_->WriteMetadata(_bstr_t(vel::FromUtf8(path).c_str()), nullptr), static_cast<HRESULT>(0x80045D53));
  EXPECT_EQ(ReadBytes(path), before);
}

}  // namespace
