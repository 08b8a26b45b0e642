// velitems read: each file's item read by the plugin the factory picks for
// it, printed as a table or as JSON, with -j N on N threads in file order.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "host/cli/com_host.h"
#include "host/cli/commands.h"
#include "host/cli/item_format.h"
#include "host/cli/ordered_parallel.h"
#include "host/cli/read_ahead.h"
#include "platform/com/oleauto.h"
#include "platform/win32/crtio.h"
#include "platform/win32/fileapi.h"

namespace velitems {
namespace {

// How many files read holds at most between taking them and printing them
// (files set aside while their kind is read ahead, and results waiting for
// an earlier file): a result is a line of text or so, so this bounds what
// they cost to about a megabyte whatever the tree holds.
constexpr std::size_t kMaxHeldResults = 1024;

struct Failure {
  std::string what;
  HRESULT hr = S_OK;
  std::string xml;
};

Failure MakeFailure(const std::string& what, HRESULT hr) { return {what, hr, ErrorText(hr)}; }

bool IsDirectory(const std::string& path) {
  const DWORD a = GetFileAttributesW(Wide(path).c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

// The files below a folder in sorted order (names by byte value), subfolders
// walked in place, one at a time: it holds the listings of the folders on the
// way down only, so a tree of any size costs the memory of its largest folder.
class FolderWalk {
 public:
  // listed(path) is told every file of a folder when the folder is listed,
  // ahead of Next handing them out.
  FolderWalk(const std::string& dir, std::function<void(const std::string&)> listed) : listed_(std::move(listed)) {
    Enter(dir);
  }

  bool Next(std::string& file) {
    while (!levels_.empty()) {
      Level& level = levels_.back();
      if (level.next == level.entries.size()) {
        levels_.pop_back();
        continue;
      }
      const auto& [name, isDir] = level.entries[level.next++];
      std::string path = level.dir + name;
      if (isDir) {
        Enter(path);  // `level` may move: nothing of it is used below
        continue;
      }
      file = std::move(path);
      return true;
    }
    return false;
  }

 private:
  struct Level {
    std::string dir;  // with a trailing "/"
    std::vector<std::pair<std::string, bool>> entries;  // name, is a folder
    std::size_t next = 0;
  };

  // A folder's entries as the file system lists them: whether an entry is a
  // folder comes with the listing (a status call only for links and file
  // systems that do not say), not from one status call per file.
  void Enter(const std::string& dir) {
    Level level;
    level.dir = dir.empty() || dir.back() == '/' ? dir : dir + "/";
    std::error_code ec;
    std::filesystem::directory_iterator it(level.dir, ec);
    if (ec) return;
    for (; it != std::filesystem::directory_iterator(); it.increment(ec)) {
      if (ec) break;
      // A link counts as what it names. A pipe, socket or device is never
      // opened: opening one may wait for ever. What cannot be told (a link
      // that leads nowhere) is read as a file, and its failure reported.
      std::error_code typeError;
      const bool isDir = it->is_directory(typeError);
      const bool known = !typeError;
      if (known && !isDir && !it->is_regular_file(typeError) && !typeError) continue;
      level.entries.emplace_back(it->path().filename().string(), known && isDir);
    }
    std::sort(level.entries.begin(), level.entries.end());
    if (listed_) {
      for (const auto& [name, isDir] : level.entries)
        if (!isDir) listed_(level.dir + name);
    }
    levels_.push_back(std::move(level));
  }

  std::function<void(const std::string&)> listed_;
  std::vector<Level> levels_;
};

// The plugin the factory picks for each file. The factory is free-threaded:
// workers ask it at the same time.
class PluginPicker {
 public:
  explicit PluginPicker(IVelItemPluginFactory* factory) : factory_(factory) {}
  // The plugin for the file (null when none); false with failure on error.
  bool For(const std::string& path, ComPtr<IVelItemPlugin>& plugin, std::string& name, Failure& failure) {
    plugin = nullptr;
    const HRESULT hr = factory_->CreateWithFile(_bstr_t(Wide(path)), &plugin);
    if (FAILED(hr)) {
      failure = MakeFailure("CreateWithFile", hr);
      return false;
    }
    if (plugin) name = PluginName(plugin);
    return true;
  }

 private:
  IVelItemPluginFactory* factory_;
};

struct ReadOptions {
  bool json = false;
  bool all = false;
  bool recurse = false;
  int jobs = 1;
  std::vector<std::string> paths;
};

struct FileResult {
  bool failed = false;
  bool skipped = false;
  std::string out;  // standard output text
  std::string err;  // standard error text
};

FileResult ReadOne(PluginPicker& picker, const std::string& path, bool explicitPath, const ReadOptions& o) {
  const bool json = o.json;
  FileResult r;
  ComPtr<IVelItemPlugin> plugin;
  std::string name;
  Failure failure;
  bool ok = picker.For(path, plugin, name, failure);
  if (ok && !plugin) {
    if (!explicitPath) {
      r.skipped = true;
      return r;
    }
    r.failed = true;
    r.err = path + ": no plugin is registered for this file\n";
    r.out = json ? ErrorJson(path, std::nullopt, "") + "\n" : path + ": no plugin\n";
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
    ok = json ? ItemJson(item, path, name, text, what, hr) : ItemTable(item, path, name, o.all, text, what, hr);
    if (ok)
      r.out = text + "\n";
    else
      failure = MakeFailure(what, hr);
  }
  if (!ok) {
    r.failed = true;
    // One human line; the report itself with --verbose (and always in JSON).
    r.err = path + ": " + ReasonOf(failure.xml, failure.hr) + "\n";
    if (Verbose()) {
      r.err += "velitems: " + failure.what + " failed: " + HrText(failure.hr) + "\n" +
               (failure.xml.empty() ? "" : failure.xml + "\n");
    }
    r.out =
        json ? ErrorJson(path, HrText(failure.hr), failure.xml) + "\n" : path + ": error " + HrText(failure.hr) + "\n";
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
    } else if (a == "--all") {
      o.all = true;
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
  LoadItemModule();

  PluginPicker picker(factory);
  // Declared before the walk's state: it stops (and joins its thread) after
  // every read is done.
  vel::cli::ReadAhead readAhead(InitCom, [&](const std::string& path) {
    ComPtr<IVelItemPlugin> plugin;
    std::string name;
    Failure failure;
    ComPtr<IVelItem> item;
    // Only what the read loads counts: its item and any failure are dropped.
    if (picker.For(path, plugin, name, failure) && plugin) plugin->ReadMetadata(_bstr_t(Wide(path)), &item);
  });

  // Files are read as the folders are walked: nothing holds the list of all
  // of them, so memory stays flat however many there are.
  int status = 0;              // set by emit
  bool folderRefused = false;  // set by next
  std::size_t argument = 0;
  std::optional<FolderWalk> walk;
  auto next = [&](std::pair<std::string, bool>& file) {  // path, named on the command line
    for (;;) {
      if (walk) {
        if (walk->Next(file.first)) {
          file.second = false;
          return true;
        }
        walk.reset();
      }
      if (argument == o.paths.size()) return false;
      const std::string& p = o.paths[argument++];
      if (!IsDirectory(p)) {
        file = {p, true};
        return true;
      }
      if (!o.recurse) {
        std::fprintf(stderr, "velitems: %s is a folder (use -r)\n", p.c_str());
        folderRefused = true;
        continue;
      }
      walk.emplace(p, [&](const std::string& file) { readAhead.Offer(file); });
    }
  };

  // A file whose kind is still being read ahead would only wait for the same
  // loading: it is set aside while later files are read (its output keeps
  // its place). Files named on the command line are never read ahead.
  struct SetAsideWhileReadAhead {
    vel::cli::ReadAhead& ahead;
    bool SetAside(const std::pair<std::string, bool>& file) const { return !file.second && ahead.Pending(file.first); }
    std::uint64_t Changes() const { return ahead.Changes(); }
  };
  const bool progress = _isatty(2) != 0;
  vel::cli::ForEachOrderedFrom<std::pair<std::string, bool>, FileResult>(
      next, SetAsideWhileReadAhead{readAhead}, kMaxHeldResults, o.jobs > 1 ? static_cast<std::size_t>(o.jobs) : 1,
      [] { InitCom(); },
      [&](const std::pair<std::string, bool>& file, std::size_t) {
        return ReadOne(picker, file.first, file.second, o);
      },
      [&](std::size_t i, const std::pair<std::string, bool>& file, const FileResult& r) {
        if (progress) std::fputs("\r\033[K", stderr);
        // Standard output is buffered as the C library does (line by line
        // on a terminal): a flush per file would cost a system call per file
        // on a pipe. What went out before a failure's line still comes first.
        if (!r.err.empty()) {
          std::fflush(stdout);
          std::fputs(r.err.c_str(), stderr);
        }
        std::fputs(r.out.c_str(), stdout);
        if (r.failed) status = 1;
        if (progress) std::fprintf(stderr, "\r[%zu] %s", i + 1, file.first.c_str());
      });
  if (progress) std::fputs("\r\033[K", stderr);
  return folderRefused ? 1 : status;
}

}  // namespace velitems
