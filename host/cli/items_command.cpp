// velitems read | validate | path | write: a plugin chosen by the factory for
// each file, called through its interface.
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "host/cli/com_host.h"
#include "host/cli/commands.h"
#include "host/cli/item_format.h"
#include "platform/com/oleauto.h"
#include "platform/win32/crtio.h"
#include "platform/win32/fileapi.h"

namespace velitems {
namespace {

struct Failure {
  std::string what;
  HRESULT hr = S_OK;
  std::string xml;
};

Failure MakeFailure(const std::string& what, HRESULT hr) { return {what, hr, ErrorText(hr)}; }

std::string PluginName(IVelItemPlugin* plugin) {
  BSTR name = nullptr;
  if (FAILED(plugin->get_Name(&name))) return "";
  std::string text = BstrUtf8(name);
  SysFreeString(name);
  return text;
}

bool IsDirectory(const std::string& path) {
  const DWORD a = GetFileAttributesW(Wide(path).c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

// Files below dir in sorted order (names by byte value), folders walked in place.
void ListFolder(const std::string& dir, std::vector<std::string>& files) {
  WIN32_FIND_DATAW found{};
  HANDLE h = FindFirstFileW(Wide(dir + "/*").c_str(), &found);
  if (h == INVALID_HANDLE_VALUE) return;
  std::vector<std::pair<std::string, bool>> entries;
  do {
    const std::string name = Narrow(found.cFileName);
    if (name == "." || name == "..") continue;
    entries.emplace_back(name, (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0);
  } while (FindNextFileW(h, &found));
  FindClose(h);
  std::sort(entries.begin(), entries.end());
  for (const auto& [name, isDir] : entries) {
    const std::string path = (dir.empty() || dir.back() == '/' ? dir : dir + "/") + name;
    if (isDir)
      ListFolder(path, files);
    else
      files.push_back(path);
  }
}

// One plugin object per plugin type, shared by all worker threads.
class PluginCache {
 public:
  explicit PluginCache(IVelItemPluginFactory* factory) : factory_(factory) {}
  // The plugin for the file (null when none); false with failure on error.
  bool For(const std::string& path, ComPtr<IVelItemPlugin>& plugin, std::string& name, Failure& failure) {
    std::lock_guard<std::mutex> hold(lock_);
    ComPtr<IVelItemPlugin> chosen;
    const HRESULT hr = factory_->CreateWithFile(_bstr_t(Wide(path)), &chosen);
    if (FAILED(hr)) {
      failure = MakeFailure("CreateWithFile", hr);
      return false;
    }
    if (!chosen) {
      plugin = nullptr;
      return true;
    }
    name = PluginName(chosen);
    auto [it, inserted] = plugins_.try_emplace(name, chosen);
    plugin = it->second;
    return true;
  }

 private:
  std::mutex lock_;
  IVelItemPluginFactory* factory_;
  std::map<std::string, ComPtr<IVelItemPlugin>> plugins_;
};

struct ReadOptions {
  bool json = false;
  bool recurse = false;
  int jobs = 1;
  std::vector<std::string> paths;
};

struct FileResult {
  bool done = false;
  bool failed = false;
  bool skipped = false;
  std::string out;  // standard output text
  std::string err;  // standard error text
};

FileResult ReadOne(PluginCache& cache, const std::string& path, bool explicitPath, bool json) {
  FileResult r;
  ComPtr<IVelItemPlugin> plugin;
  std::string name;
  Failure failure;
  bool ok = cache.For(path, plugin, name, failure);
  if (ok && !plugin) {
    if (!explicitPath) {
      r.skipped = true;
      return r;
    }
    r.failed = true;
    r.err = "velitems: " + path + ": no plugin is registered for this file\n";
    if (json) r.out = "{\"path\":" + JsonString(path) + ",\"error\":{\"hresult\":null,\"xml\":\"\"}}\n";
    else r.out = path + ": no plugin\n";
    return r;
  }
  ComPtr<IVelItem> item;
  if (ok) {
    const HRESULT hr = plugin->ReadMetadata(_bstr_t(Wide(path)), &item);
    if (FAILED(hr)) {
      failure = MakeFailure("ReadMetadata", hr);
      ok = false;
    } else if (!item) {
      failure = {"ReadMetadata answered no item", E_POINTER, ""};
      ok = false;
    }
  }
  if (ok) {
    std::string text, what;
    HRESULT hr = S_OK;
    ok = json ? ItemJson(item, path, name, text, what, hr) : ItemTable(item, path, name, text, what, hr);
    if (ok)
      r.out = text + "\n";
    else
      failure = MakeFailure(what, hr);
  }
  if (!ok) {
    r.failed = true;
    r.err = "velitems: " + path + ": " + failure.what + " failed: " + HrText(failure.hr) + "\n" +
            (failure.xml.empty() ? "" : failure.xml + "\n");
    r.out = json ? "{\"path\":" + JsonString(path) + ",\"error\":{\"hresult\":" + JsonString(HrText(failure.hr)) +
                       ",\"xml\":" + JsonString(failure.xml) + "}}\n"
                 : path + ": error " + HrText(failure.hr) + "\n";
  }
  return r;
}

}  // namespace

int RunRead(const Args& args) {
  ReadOptions o;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--json") {
      o.json = true;
    } else if (a == "-r") {
      o.recurse = true;
    } else if (a == "-j") {
      if (i + 1 >= args.size()) return UsageError("read: -j needs a number");
      try {
        o.jobs = std::stoi(args[++i]);
      } catch (...) {
        o.jobs = 0;
      }
      if (o.jobs < 1 || o.jobs > 256) return UsageError("read: -j expects a number from 1 to 256");
    } else if (!a.empty() && a[0] == '-' && a != "-") {
      return UsageError("read: unknown option " + a);
    } else {
      o.paths.push_back(a);
    }
  }
  if (o.paths.empty()) return UsageError("read expects at least one PATH");

  InitCom();
  if (!EnsureRegistered()) return 1;
  ComPtr<IVelItemPluginFactory> factory = CreateFactory();
  if (!factory) return 1;

  int status = 0;
  std::vector<std::pair<std::string, bool>> files;  // path, named on the command line
  for (const std::string& p : o.paths) {
    if (IsDirectory(p)) {
      if (!o.recurse) {
        std::fprintf(stderr, "velitems: %s is a folder (use -r)\n", p.c_str());
        status = 1;
        continue;
      }
      std::vector<std::string> found;
      ListFolder(p, found);
      for (std::string& f : found) files.emplace_back(std::move(f), false);
    } else {
      files.emplace_back(p, true);
    }
  }

  PluginCache cache(factory);
  const bool progress = _isatty(2) != 0;
  std::vector<FileResult> results(files.size());
  std::mutex lock;
  std::size_t nextToPrint = 0;
  std::atomic<std::size_t> nextToRead{0};
  auto flush = [&] {  // with lock held: prints finished results in file order
    while (nextToPrint < results.size() && results[nextToPrint].done) {
      FileResult& r = results[nextToPrint];
      if (progress) std::fputs("\r\033[K", stderr);
      std::fputs(r.err.c_str(), stderr);
      std::fputs(r.out.c_str(), stdout);
      if (r.failed) status = 1;
      r = FileResult{true};
      ++nextToPrint;
      if (progress && nextToPrint < results.size())
        std::fprintf(stderr, "\r[%zu/%zu] %s", nextToPrint, results.size(), files[nextToPrint].first.c_str());
    }
    std::fflush(stdout);
  };
  auto work = [&] {
    InitCom();
    for (;;) {
      const std::size_t i = nextToRead.fetch_add(1);
      if (i >= files.size()) return;
      FileResult r = ReadOne(cache, files[i].first, files[i].second, o.json);
      r.done = true;
      std::lock_guard<std::mutex> hold(lock);
      results[i] = std::move(r);
      flush();
    }
  };
  const int threads = std::min<int>(o.jobs, static_cast<int>(std::max<std::size_t>(files.size(), 1)));
  if (threads <= 1) {
    work();
  } else {
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t) pool.emplace_back(work);
    for (std::thread& t : pool) t.join();
  }
  if (progress) std::fputs("\r\033[K", stderr);
  return status;
}

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

namespace {

struct VtName {
  const char* name;
  VARTYPE vt;
};
constexpr VtName kVtNames[] = {
    {"VT_BSTR", VT_BSTR}, {"VT_I1", VT_I1},   {"VT_UI1", VT_UI1},   {"VT_I2", VT_I2},     {"VT_UI2", VT_UI2},
    {"VT_I4", VT_I4},     {"VT_UI4", VT_UI4}, {"VT_I8", VT_I8},     {"VT_UI8", VT_UI8},   {"VT_INT", VT_INT},
    {"VT_UINT", VT_UINT}, {"VT_R4", VT_R4},   {"VT_R8", VT_R8},     {"VT_BOOL", VT_BOOL}, {"VT_DATE", VT_DATE},
    {"VT_CY", VT_CY},     {"VT_DECIMAL", VT_DECIMAL}, {"VT_EMPTY", VT_EMPTY}, {"VT_NULL", VT_NULL},
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

}  // namespace

int RunWrite(const Args& args) {
  if (args.size() < 2) return UsageError("write expects FILE and at least one NAME[:VT]=VALUE or --clear NAME");
  const std::string file = args[0];
  struct Assignment {
    std::u16string name, ns;
    VARTYPE vt;
    std::string value;
  };
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
    ReportFailure("WriteMetadata", hr);
    return 1;
  }
  // These plugins merge the file's data into the item instead of writing the file.
  const std::string name = PluginName(plugin);
  if (name == "Video" || name == "MMS" || name == "SMS") {
    std::string text, what;
    if (!ItemTable(item, file, name, text, what, hr)) {
      ReportFailure(what, hr);
      return 1;
    }
    std::fputs(text.c_str(), stdout);
  }
  return 0;
}

}  // namespace velitems
