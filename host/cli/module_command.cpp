// velitems register | unregister | mimetypes | plugin | mms: the module's
// registration and the factory's answers, all through COM.
#include <cstdio>
#include <string>

#include "host/cli/com_host.h"
#include "host/cli/commands.h"
#include "host/cli/item_format.h"
#include "platform/com/oleauto.h"

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
  InitCom();
  if (!EnsureRegistered()) return 1;
  ComPtr<IVelItemPluginFactory> factory = CreateFactory();
  if (!factory) return 1;
  ComPtr<IVelItemPlugin> plugin;
  HRESULT hr = factory->CreateWithMimeType(_bstr_t(u"application/vnd.zandor.vexa.mms"), &plugin);
  if (FAILED(hr)) {
    ReportFailure("CreateWithMimeType", hr);
    return 1;
  }
  ComPtr<IVelItemMMS> mms;
  if (!plugin || FAILED(plugin.QueryInterface(mms))) {
    std::fprintf(stderr, "velitems: no MMS plugin is registered\n");
    return 1;
  }
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
  if (count == 0) std::fprintf(stderr, "velitems: %s: no parts (not a message this plugin can decode)\n", paths[0].c_str());
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
    if (!(json ? ItemJson(part, path, "MMS", text, what, hr) : ItemTable(part, path, "MMS", text, what, hr))) {
      ReportFailure(what, hr);
      status = 1;
      continue;
    }
    std::printf("%s\n", text.c_str());
  }
  return status;
}

}  // namespace

int RunMms(const Args& args) {
  if (args.empty() || (args[0] != "compose" && args[0] != "extract"))
    return UsageError("mms expects \"compose\" or \"extract\"");
  if (args[0] == "extract") return RunMmsExtract(Args(args.begin() + 1, args.end()));
  std::fprintf(stderr, "velitems: mms compose is not available yet\n");
  return 1;
}

}  // namespace velitems
