// velitems register | unregister | mimetypes | plugin | mms: the module's
// registration and the factory's answers, all through COM.
#include <cstdio>
#include <string>

#include "host/cli/com_host.h"
#include "host/cli/commands.h"
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

int RunMms(const Args& args) {
  if (args.empty() || (args[0] != "compose" && args[0] != "extract"))
    return UsageError("mms expects \"compose\" or \"extract\"");
  std::fprintf(stderr, "velitems: mms %s is not available yet: the MMS plugin is not built into this module\n",
               args[0].c_str());
  return 1;
}

}  // namespace velitems
