// velitems validate | path: the plugin the factory picks for a file asked
// for the file's validation status, or for the folder it proposes for the
// file's item.
#include <cstdio>
#include <string>
#include <utility>

#include "host/cli/com_host.h"
#include "host/cli/commands.h"
#include "platform/com/oleauto.h"

namespace velitems {

int RunValidate(const Args& args) {
  if (args.empty()) return UsageError("validate expects at least one PATH");
  InitCom();
  if (!EnsureRegistered()) return 1;
  ComPtr<IVelItemPluginFactory> factory = CreateFactory();
  if (!factory) return 1;
  int status = 0;
  static const std::pair<LONG, const char*> kFlags[] = {{EVelValidateStatus_FileMissing, "FileMissing"},
                                                        {EVelValidateStatus_FileCorrupt, "FileCorrupt"},
                                                        {EVelValidateStatus_FileOld, "FileOld"},
                                                        {EVelValidateStatus_MetadataOld, "MetadataOld"},
                                                        {EVelValidateStatus_FileLocked, "FileLocked"}};
  for (const std::string& path : args) {
    ComPtr<IVelItemPlugin> plugin;
    HRESULT hr = factory->CreateWithFile(_bstr_t(Wide(path)), &plugin);
    if (FAILED(hr)) {
      ReportFailure(path + ": CreateWithFile", hr);
      status = 1;
      continue;
    }
    if (!plugin) {
      std::fprintf(stderr, "velitems: %s: no plugin is registered for this file\n", path.c_str());
      status = 1;
      continue;
    }
    ComPtr<IVelItem> item = CreateItem();
    if (!item) return 1;
    ComPtr<IVelProperties> properties;
    hr = item->get_Properties(&properties);
    if (SUCCEEDED(hr))
      hr = properties->put_Value(_bstr_t(u"URI"), _bstr_t(kCoreNamespace), _variant_t(_bstr_t(Wide(path))));
    LONG value = 0;
    if (SUCCEEDED(hr)) hr = plugin->ValidateItem(item, &value);
    if (FAILED(hr)) {
      ReportFailure(path + ": ValidateItem", hr);
      status = 1;
      continue;
    }
    std::string names;
    for (const auto& [bit, name] : kFlags) {
      if (value & bit) names += (names.empty() ? "" : "|") + std::string(name);
    }
    if (value & ~LONG{31}) names += names.empty() ? "unknown bits" : "|unknown bits";
    std::printf("%s\t%ld\t%s\n", path.c_str(), static_cast<long>(value), names.empty() ? "OK" : names.c_str());
  }
  return status;
}

int RunPath(const Args& args) {
  if (args.size() != 1) return UsageError("path expects one FILE");
  InitCom();
  if (!EnsureRegistered()) return 1;
  ComPtr<IVelItemPluginFactory> factory = CreateFactory();
  if (!factory) return 1;
  const _bstr_t path(Wide(args[0]));
  ComPtr<IVelItemPlugin> plugin;
  HRESULT hr = factory->CreateWithFile(path, &plugin);
  if (FAILED(hr)) {
    ReportFailure("CreateWithFile", hr);
    return 1;
  }
  if (!plugin) {
    std::fprintf(stderr, "velitems: %s: no plugin is registered for this file\n", args[0].c_str());
    return 1;
  }
  ComPtr<IVelItem> item;
  hr = plugin->ReadMetadata(path, &item);
  if (FAILED(hr)) {
    ReportFailure("ReadMetadata", hr);
    return 1;
  }
  // A host's item names its file; plugins that date their items by the file
  // (image, video) read it from "URI", which not every plugin sets itself.
  ComPtr<IVelProperties> properties;
  VARIANT_BOOL hasUri = VARIANT_FALSE;
  hr = item ? item->get_Properties(&properties) : E_POINTER;
  if (SUCCEEDED(hr)) hr = properties->Exists(_bstr_t(u"URI"), _bstr_t(kCoreNamespace), &hasUri);
  if (SUCCEEDED(hr) && hasUri != VARIANT_TRUE)
    hr = properties->put_Value(_bstr_t(u"URI"), _bstr_t(kCoreNamespace), _variant_t(path));
  if (FAILED(hr)) {
    ReportFailure("put_Value", hr);
    return 1;
  }
  BSTR folder = nullptr;
  hr = plugin->GetItemPath(item, &folder);
  if (FAILED(hr)) {
    ReportFailure("GetItemPath", hr);
    return 1;
  }
  std::printf("%s\n", BstrUtf8(folder).c_str());
  SysFreeString(folder);
  return 0;
}

}  // namespace velitems
