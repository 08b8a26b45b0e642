// velitems keywords get FILE | set FILE [KEYWORD ...]: the IPTC keywords of
// an image through the plugin's keyword interface (IVelItemImage). get prints
// one keyword a line, in the file's order; set hands the keywords over as
// VT_ARRAY|VT_BSTR (no keyword: an empty list, which removes them all) and
// reads them back, so a file that keeps no keywords (the plugin leaves such
// files as they are and succeeds) is reported.
#include <cstdio>
#include <string>
#include <vector>

#include "host/cli/com_host.h"
#include "host/cli/commands.h"
#include "platform/com/oleauto.h"

namespace velitems {
namespace {

// The keyword interface of the plugin the factory picks for file, or null
// after the reason was printed.
ComPtr<IVelItemImage> KeywordPlugin(const std::string& file) {
  ComPtr<IVelItemPlugin> plugin = PluginForFile(file);
  if (!plugin) return {};
  ComPtr<IVelItemImage> image;
  if (FAILED(plugin.QueryInterface(image)) || !image) {
    const std::string name = PluginName(plugin.get());
    std::fprintf(stderr, "velitems: %s: the %s plugin keeps no keywords (it has no IVelItemImage)\n", file.c_str(),
                 name.empty() ? "chosen" : name.c_str());
    return {};
  }
  return image;
}

// The texts of a keyword list; no keywords for VT_EMPTY and VT_NULL, nothing
// for a value that is no list of texts.
bool KeywordTexts(const VARIANT& value, std::vector<std::string>& out) {
  out.clear();
  if (value.vt == VT_EMPTY || value.vt == VT_NULL) return true;
  if (value.vt != (VT_ARRAY | VT_BSTR) || value.parray == nullptr || SafeArrayGetDim(value.parray) != 1) return false;
  LONG lower = 0, upper = -1;
  SafeArrayGetLBound(value.parray, 1, &lower);
  SafeArrayGetUBound(value.parray, 1, &upper);
  for (LONG i = lower; i <= upper; ++i) {
    BSTR text = nullptr;
    if (FAILED(SafeArrayGetElement(value.parray, &i, &text))) return false;
    out.push_back(BstrUtf8(text));
    SysFreeString(text);
  }
  return true;
}

int RunKeywordsGet(const std::string& file) {
  ComPtr<IVelItemImage> image = KeywordPlugin(file);
  if (!image) return 1;
  _variant_t keywords;
  const HRESULT hr = image->ReadIPTCKeywords(_bstr_t(Wide(file)), keywords.GetAddress());
  if (FAILED(hr)) {
    ReportFailure("ReadIPTCKeywords", hr);
    return 1;
  }
  std::vector<std::string> texts;
  if (!KeywordTexts(keywords, texts)) {
    std::fprintf(stderr, "velitems: %s: ReadIPTCKeywords answered a value of type %u, not texts\n", file.c_str(),
                 static_cast<unsigned>(keywords.vt));
    return 1;
  }
  for (const std::string& text : texts) std::printf("%s\n", text.c_str());
  return 0;
}

int RunKeywordsSet(const std::string& file, const std::vector<std::string>& keywords) {
  SAFEARRAY* array = SafeArrayCreateVector(VT_BSTR, 0, static_cast<ULONG>(keywords.size()));
  if (array == nullptr) {
    ReportFailure("SafeArrayCreateVector", E_OUTOFMEMORY);
    return 1;
  }
  VARIANT raw;
  VariantInit(&raw);
  raw.vt = VT_ARRAY | VT_BSTR;
  raw.parray = array;
  _variant_t list;
  list.Attach(raw);
  for (LONG i = 0; i < static_cast<LONG>(keywords.size()); ++i) {
    _bstr_t text(Wide(keywords[static_cast<std::size_t>(i)]));
    if (FAILED(SafeArrayPutElement(array, &i, text.GetBSTR()))) {
      ReportFailure("SafeArrayPutElement", E_OUTOFMEMORY);
      return 1;
    }
  }
  ComPtr<IVelItemImage> image = KeywordPlugin(file);
  if (!image) return 1;
  HRESULT hr = image->WriteIPTCKeywords(_bstr_t(Wide(file)), list);
  if (FAILED(hr)) {
    ReportFailure("WriteIPTCKeywords", hr);
    return 1;
  }
  _variant_t now;
  std::vector<std::string> texts;
  hr = image->ReadIPTCKeywords(_bstr_t(Wide(file)), now.GetAddress());
  if (FAILED(hr) || !KeywordTexts(now, texts) || texts != keywords) {
    std::fprintf(stderr, "velitems: %s: this file keeps no keywords; it was left as it is\n", file.c_str());
    return 1;
  }
  return 0;
}

}  // namespace

int RunKeywords(const Args& args) {
  if (args.empty()) return UsageError("keywords expects \"get\" or \"set\"");
  const std::string& verb = args[0];
  if (verb == "get") {
    if (args.size() != 2) return UsageError("keywords get expects FILE");
    return RunKeywordsGet(args[1]);
  }
  if (verb == "set") {
    if (args.size() < 2) return UsageError("keywords set expects FILE [KEYWORD ...]");
    return RunKeywordsSet(args[1], std::vector<std::string>(args.begin() + 2, args.end()));
  }
  return UsageError("keywords expects \"get\" or \"set\", not \"" + verb + "\"");
}

}  // namespace velitems
