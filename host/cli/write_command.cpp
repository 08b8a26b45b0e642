// velitems write: an item built from NAME[:VT]=VALUE arguments, handed to
// the plugin the factory picks for the file; for the plugins that merge the
// file into the item instead, the merged item is printed.
#include <cctype>
#include <cstdio>
#include <string>
#include <vector>

#include "host/cli/com_host.h"
#include "host/cli/commands.h"
#include "host/cli/item_format.h"
#include "platform/com/oleauto.h"

namespace velitems {
namespace {

struct VtName {
  const char* name;
  VARTYPE vt;
};
constexpr VtName kVtNames[] = {
    {"VT_BSTR", VT_BSTR},       {"VT_I1", VT_I1},       {"VT_UI1", VT_UI1},   {"VT_I2", VT_I2},
    {"VT_UI2", VT_UI2},         {"VT_I4", VT_I4},       {"VT_UI4", VT_UI4},   {"VT_I8", VT_I8},
    {"VT_UI8", VT_UI8},         {"VT_INT", VT_INT},     {"VT_UINT", VT_UINT}, {"VT_R4", VT_R4},
    {"VT_R8", VT_R8},           {"VT_BOOL", VT_BOOL},   {"VT_DATE", VT_DATE}, {"VT_CY", VT_CY},
    {"VT_DECIMAL", VT_DECIMAL}, {"VT_EMPTY", VT_EMPTY}, {"VT_NULL", VT_NULL},
};

// "VT_I4" or "I4", any case.
bool ParseVt(std::string text, VARTYPE& vt) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (text.rfind("VT_", 0) != 0) text = "VT_" + text;
  for (const VtName& n : kVtNames) {
    if (text == n.name) {
      vt = n.vt;
      return true;
    }
  }
  return false;
}

// "{namespace}name" or "name" (kCoreNamespace).
void SplitName(const std::string& text, std::u16string& name, std::u16string& ns) {
  if (!text.empty() && text[0] == '{') {
    const std::size_t close = text.find('}');
    if (close != std::string::npos) {
      ns = Wide(text.substr(1, close - 1));
      name = Wide(text.substr(close + 1));
      return;
    }
  }
  ns = kCoreNamespace;
  name = Wide(text);
}

// One NAME[:VT]=VALUE argument; vt VT_EMPTY for --clear NAME.
struct Assignment {
  std::u16string name, ns;
  VARTYPE vt;
  std::string value;
};

// True when the file, read back, holds a value for at least one of the
// properties that were given values: a plugin leaves a file that keeps no
// tags (a WAVE file, a raw AAC stream) as it is and answers success.
bool StoredAny(IVelItemPlugin* plugin, const _bstr_t& path, const std::vector<Assignment>& assignments) {
  bool anyValue = false;
  for (const Assignment& as : assignments) anyValue = anyValue || as.vt != VT_EMPTY;
  if (!anyValue) return true;
  ComPtr<IVelItem> back;
  ComPtr<IVelProperties> properties;
  if (FAILED(plugin->ReadMetadata(path, &back)) || !back || FAILED(back->get_Properties(&properties)) || !properties)
    return true;  // nothing to go by: the write itself said it worked
  for (const Assignment& as : assignments) {
    if (as.vt == VT_EMPTY) continue;
    VARIANT_BOOL exists = VARIANT_FALSE;
    if (FAILED(properties->Exists(_bstr_t(as.name), _bstr_t(as.ns), &exists)) || exists == VARIANT_FALSE) continue;
    _variant_t value;
    if (SUCCEEDED(properties->get_Value(_bstr_t(as.name), _bstr_t(as.ns), value.GetAddress())) &&
        value.vt != VT_EMPTY && value.vt != VT_NULL)
      return true;
  }
  return false;
}

}  // namespace

int RunWrite(const Args& args) {
  if (args.size() < 2) return UsageError("write expects FILE and at least one NAME[:VT]=VALUE or --clear NAME");
  const std::string file = args[0];
  std::vector<Assignment> assignments;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    Assignment as;
    if (a == "--clear") {
      if (i + 1 >= args.size()) return UsageError("write: --clear needs a NAME");
      SplitName(args[++i], as.name, as.ns);
      as.vt = VT_EMPTY;
      assignments.push_back(as);
      continue;
    }
    const std::size_t eq = a.find('=');
    if (eq == std::string::npos || eq == 0) return UsageError("write: expected NAME[:VT]=VALUE, got \"" + a + "\"");
    std::string left = a.substr(0, eq);
    as.vt = VT_BSTR;
    const std::size_t colon = left.rfind(':');
    const std::size_t brace = left.find('}');
    if (colon != std::string::npos && (brace == std::string::npos || colon > brace)) {
      if (!ParseVt(left.substr(colon + 1), as.vt))
        return UsageError("write: unknown VARIANT type \"" + left.substr(colon + 1) + "\"");
      left = left.substr(0, colon);
    }
    SplitName(left, as.name, as.ns);
    if (as.name.empty()) return UsageError("write: empty property name in \"" + a + "\"");
    as.value = a.substr(eq + 1);
    assignments.push_back(as);
  }

  InitCom();
  if (!EnsureRegistered()) return 1;
  ComPtr<IVelItemPluginFactory> factory = CreateFactory();
  ComPtr<IVelItem> item = factory ? CreateItem() : nullptr;
  if (!item) return 1;
  ComPtr<IVelProperties> properties;
  HRESULT hr = item->get_Properties(&properties);
  if (FAILED(hr)) {
    ReportFailure("Properties", hr);
    return 1;
  }
  for (const Assignment& as : assignments) {
    _variant_t value;
    if (as.vt != VT_EMPTY) {
      _variant_t text(_bstr_t(Wide(as.value)));
      hr = VariantChangeType(&value, &text, 0, as.vt);
      if (FAILED(hr)) {
        ReportFailure("cannot convert \"" + as.value + "\" for " + Narrow(as.name), hr);
        return 1;
      }
    }
    hr = properties->put_Value(_bstr_t(as.name), _bstr_t(as.ns), value);
    if (FAILED(hr)) {
      ReportFailure("put_Value " + Narrow(as.name), hr);
      return 1;
    }
  }
  const _bstr_t path(Wide(file));
  ComPtr<IVelItemPlugin> plugin;
  hr = factory->CreateWithFile(path, &plugin);
  if (FAILED(hr)) {
    ReportFailure("CreateWithFile", hr);
    return 1;
  }
  if (!plugin) {
    std::fprintf(stderr, "velitems: %s: no plugin is registered for this file\n", file.c_str());
    return 1;
  }
  hr = plugin->WriteMetadata(path, item);
  if (FAILED(hr)) {
    ReportFailure(file, hr);
    return 1;
  }
  // These plugins merge the file's data into the item instead of writing the file.
  const std::string name = PluginName(plugin);
  if (name == "Video" || name == "MMS" || name == "SMS") {
    std::string text, what;
    if (!ItemTable(item, file, name, true, text, what, hr)) {
      ReportFailure(what, hr);
      return 1;
    }
    std::fputs(text.c_str(), stdout);
  } else if (!StoredAny(plugin, path, assignments)) {
    std::fprintf(stderr, "velitems: %s: this file keeps no tags: nothing was stored\n", file.c_str());
    return 1;
  }
  return 0;
}

}  // namespace velitems
