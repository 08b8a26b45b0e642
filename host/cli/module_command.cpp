// velitems register | unregister | mimetypes | plugin | mms: the module's
// registration and the factory's answers, all through COM.
#include <cstdio>
#include <string>

#include "host/cli/com_host.h"
#include "host/cli/commands.h"
#include "host/cli/item_format.h"
#include "platform/com/oleauto.h"
#include "platform/win32/fileapi.h"

namespace velitems {
namespace {

std::vector<std::u16string> ModulesOf(const Args& args) {
  if (args.empty()) return DefaultModules();
  std::vector<std::u16string> modules;
  for (const std::string& a : args) modules.push_back(Wide(a));
  return modules;
}

}  // namespace

int RunRegister(const Args& args) {
  for (const std::string& a : args) {
    if (!a.empty() && a[0] == '-') return UsageError("register: unknown option " + a);
  }
  InitCom();
  return RegisterModules(ModulesOf(args), true, false) ? 0 : 1;
}

int RunUnregister(const Args& args) {
  for (const std::string& a : args) {
    if (!a.empty() && a[0] == '-') return UsageError("unregister: unknown option " + a);
  }
  InitCom();
  return RegisterModules(ModulesOf(args), false, false) ? 0 : 1;
}

int RunMimeTypes(const Args& args) {
  if (!args.empty()) return UsageError("mimetypes takes no arguments");
  InitCom();
  if (!EnsureRegistered()) return 1;
  ComPtr<IVelItemPluginFactory> factory = CreateFactory();
  if (!factory) return 1;
  _variant_t list;
  HRESULT hr = factory->GetRegisteredMimeTypes(list.GetAddress());
  if (FAILED(hr)) {
    ReportFailure("GetRegisteredMimeTypes", hr);
    return 1;
  }
  if (list.vt != (VT_ARRAY | VT_BSTR) || !list.parray) {
    std::fprintf(stderr, "velitems: GetRegisteredMimeTypes answered no string array\n");
    return 1;
  }
  LONG lower = 0, upper = -1;
  SafeArrayGetLBound(list.parray, 1, &lower);
  SafeArrayGetUBound(list.parray, 1, &upper);
  for (LONG i = lower; i <= upper; ++i) {
    BSTR text = nullptr;
    if (SUCCEEDED(SafeArrayGetElement(list.parray, &i, &text))) {
      std::printf("%s\n", BstrUtf8(text).c_str());
      SysFreeString(text);
    }
  }
  return 0;
}

int RunPlugin(const Args& args) {
  bool byMime = false;
  std::string subject;
  if (args.size() == 2 && args[0] == "--mime") {
    byMime = true;
    subject = args[1];
  } else if (args.size() == 1 && args[0] != "--mime") {
    subject = args[0];
  } else {
    return UsageError("plugin expects FILE or --mime TYPE");
  }
  InitCom();
  if (!EnsureRegistered()) return 1;
  ComPtr<IVelItemPluginFactory> factory = CreateFactory();
  if (!factory) return 1;
  ComPtr<IVelItemPlugin> plugin;
  _bstr_t text(Wide(subject));
  HRESULT hr = byMime ? factory->CreateWithMimeType(text, &plugin) : factory->CreateWithFile(text, &plugin);
  if (FAILED(hr)) {
    ReportFailure(byMime ? "CreateWithMimeType" : "CreateWithFile", hr);
    return 1;
  }
  if (!plugin) {
    std::printf("none\n");
    return 0;
  }
  BSTR name = nullptr;
  hr = plugin->get_Name(&name);
  if (FAILED(hr)) {
    ReportFailure("Name", hr);
    return 1;
  }
  std::printf("%s\n", BstrUtf8(name).c_str());
  SysFreeString(name);
  return 0;
}

namespace {

// The MMS plugin through the factory (registering the module first when
// needed), or null after the reason was printed.
ComPtr<IVelItemMMS> MmsPlugin() {
  InitCom();
  if (!EnsureRegistered()) return {};
  ComPtr<IVelItemPluginFactory> factory = CreateFactory();
  if (!factory) return {};
  ComPtr<IVelItemPlugin> plugin;
  const HRESULT hr = factory->CreateWithMimeType(_bstr_t(u"application/vnd.zandor.vexa.mms"), &plugin);
  if (FAILED(hr)) {
    ReportFailure("CreateWithMimeType", hr);
    return {};
  }
  ComPtr<IVelItemMMS> mms;
  if (!plugin || FAILED(plugin.QueryInterface(mms))) {
    std::fprintf(stderr, "velitems: no MMS plugin is registered\n");
    return {};
  }
  return mms;
}

// velitems mms extract [--json] FILE DIR: every part of the message written
// into DIR, and the item the plugin made for it printed as `read` prints items.
int RunMmsExtract(const Args& args) {
  bool json = false;
  std::vector<std::string> paths;
  for (const std::string& a : args) {
    if (a == "--json")
      json = true;
    else if (!a.empty() && a[0] == '-')
      return UsageError("mms extract: unknown option " + a);
    else
      paths.push_back(a);
  }
  if (paths.size() != 2) return UsageError("mms extract expects FILE DIR");
  ComPtr<IVelItemMMS> mms = MmsPlugin();
  if (!mms) return 1;
  HRESULT hr = S_OK;
  ComPtr<IVelItem> message = CreateItem();
  if (!message) return 1;
  ComPtr<IVelProperties> properties;
  hr = message->get_Properties(&properties);
  if (SUCCEEDED(hr))
    hr = properties->put_Value(_bstr_t(u"URI"), _bstr_t(kCoreNamespace), _variant_t(std::u16string_view(Wide(paths[0]))));
  if (FAILED(hr)) {
    ReportFailure("put_Value", hr);
    return 1;
  }
  ComPtr<IUnknown> unknown;
  hr = mms->CreateSMIL(message, _bstr_t(Wide(paths[1])), &unknown);
  if (FAILED(hr)) {
    ReportFailure("CreateSMIL", hr);
    return 1;
  }
  ComPtr<IVelEnum> parts;
  LONG count = 0;
  if (!unknown || FAILED(unknown.QueryInterface(parts)) || FAILED(parts->get_Count(&count))) {
    std::fprintf(stderr, "velitems: CreateSMIL answered no item list\n");
    return 1;
  }
  if (count == 0) {
    std::fprintf(stderr, "velitems: %s: no parts (not a message this plugin can decode)\n", paths[0].c_str());
    return 1;
  }
  int status = 0;
  for (LONG i = 0; i < count; ++i) {
    _variant_t element;
    hr = parts->Item(_variant_t(static_cast<int>(i)), element.GetAddress());
    ComPtr<IVelItem> part(static_cast<const VARIANT&>(element));
    if (FAILED(hr) || !part) {
      ReportFailure("Item", FAILED(hr) ? hr : E_NOINTERFACE);
      status = 1;
      continue;
    }
    _variant_t uri;
    ComPtr<IVelProperties> partProperties;
    std::string path;
    if (SUCCEEDED(part->get_Properties(&partProperties)) &&
        SUCCEEDED(partProperties->get_Value(_bstr_t(u"URI"), _bstr_t(kCoreNamespace), uri.GetAddress())) &&
        uri.vt == VT_BSTR)
      path = BstrUtf8(uri.bstrVal);
    std::string text, what;
    if (!(json ? ItemJson(part, path, "MMS", text, what, hr) : ItemTable(part, path, "MMS", true, text, what, hr))) {
      ReportFailure(what, hr);
      status = 1;
      continue;
    }
    std::printf("%s\n", text.c_str());
  }
  return status;
}

// An item holding one text property; null (failure reported) otherwise.
ComPtr<IVelItem> TextItem(const char16_t* name, const std::string& value) {
  ComPtr<IVelItem> item = CreateItem();
  if (!item) return nullptr;
  ComPtr<IVelProperties> properties;
  HRESULT hr = item->get_Properties(&properties);
  if (SUCCEEDED(hr))
    hr = properties->put_Value(_bstr_t(name), _bstr_t(kCoreNamespace), _variant_t(std::u16string_view(Wide(value))));
  if (FAILED(hr)) {
    ReportFailure("put_Value", hr);
    return nullptr;
  }
  return item;
}

// velitems mms compose --title TEXT --from NUMBER --to NUMBER [--to NUMBER ...]
// --folder DIR FILE...: a new message in DIR made of the files; its path printed.
int RunMmsCompose(const Args& args) {
  std::string title, from, folder;
  bool haveTitle = false, haveFrom = false, haveFolder = false;
  std::vector<std::string> to, files;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--title" || a == "--from" || a == "--to" || a == "--folder") {
      if (i + 1 >= args.size()) return UsageError("mms compose: " + a + " expects a value");
      const std::string& value = args[++i];
      if (a == "--title") {
        title = value;
        haveTitle = true;
      } else if (a == "--from") {
        from = value;
        haveFrom = true;
      } else if (a == "--to") {
        to.push_back(value);
      } else {
        folder = value;
        haveFolder = true;
      }
    } else if (!a.empty() && a[0] == '-') {
      return UsageError("mms compose: unknown option " + a);
    } else {
      files.push_back(a);
    }
  }
  if (!haveTitle || !haveFrom || to.empty() || !haveFolder || files.empty())
    return UsageError("mms compose expects --title TEXT --from NUMBER --to NUMBER --folder DIR FILE...");
  ComPtr<IVelItemMMS> mms = MmsPlugin();
  if (!mms) return 1;
  HRESULT hr = S_OK;
  ComPtr<IVelItem> message = TextItem(u"Title", title);
  ComPtr<IVelItem> sender = TextItem(u"Number", from);
  ComPtr<IVelEnum> recipients = CreateEnum();
  if (!message || !sender || !recipients) return 1;
  for (const std::string& number : to) {
    ComPtr<IVelItem> recipient = TextItem(u"Number", number);
    if (!recipient) return 1;
    _variant_t end(static_cast<int>(DISP_E_PARAMNOTFOUND), VT_ERROR);
    hr = recipients->Add(_variant_t(static_cast<IUnknown*>(recipient.get())), end);
    if (FAILED(hr)) {
      ReportFailure("Add", hr);
      return 1;
    }
  }
  SAFEARRAY* array = SafeArrayCreateVector(VT_BSTR, 0, static_cast<ULONG>(files.size()));
  if (!array) {
    ReportFailure("SafeArrayCreateVector", E_OUTOFMEMORY);
    return 1;
  }
  VARIANT raw;
  raw.vt = VT_ARRAY | VT_BSTR;
  raw.parray = array;
  const _variant_t list(raw, false);  // owns the array from here on
  for (LONG i = 0; i < static_cast<LONG>(files.size()); ++i) {
    _bstr_t path(Wide(files[static_cast<std::size_t>(i)]));
    hr = SafeArrayPutElement(array, &i, static_cast<BSTR>(path));
    if (FAILED(hr)) {
      ReportFailure("SafeArrayPutElement", hr);
      return 1;
    }
  }
  BSTR written = nullptr;
  hr = mms->CreateMMS(message, sender, recipients, list, _bstr_t(Wide(folder)), &written);
  if (FAILED(hr)) {
    ReportFailure("CreateMMS", hr);
    return 1;
  }
  const std::u16string path = written ? std::u16string(written, SysStringLen(written)) : std::u16string();
  SysFreeString(written);
  // CreateMMS answers the path even when the writer failed (a missing folder,
  // no room): only a file that is there is reported as composed.
  const DWORD attributes = path.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    std::fprintf(stderr, "velitems: CreateMMS wrote no message at %s\n", Narrow(path).c_str());
    return 1;
  }
  std::printf("%s\n", Narrow(path).c_str());
  return 0;
}

}  // namespace

int RunMms(const Args& args) {
  if (args.empty() || (args[0] != "compose" && args[0] != "extract"))
    return UsageError("mms expects \"compose\" or \"extract\"");
  if (args[0] == "extract") return RunMmsExtract(Args(args.begin() + 1, args.end()));
  return RunMmsCompose(Args(args.begin() + 1, args.end()));
}

}  // namespace velitems
