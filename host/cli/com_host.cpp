#include "host/cli/com_host.h"

#include <atomic>
#include <cstdio>
#include <string_view>
#include <utility>

#include "platform/com/combase.h"
#include "platform/com/oleauto.h"
#include "platform/registry/store.h"
#include "platform/registry/update.h"
#include "platform/registry/winreg.h"
#include "platform/text.h"
#include "platform/win32/UniqueHandles.h"
#include "platform/win32/fileapi.h"
#include "platform/win32/winbase.h"

namespace velitems {
namespace {

using EntryPoint = HRESULT (*)();

// The folder of the running binary, with its trailing separator.
std::u16string ExeDir() {
  std::u16string path(4096, u'\0');
  DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
  if (n == 0 || n >= path.size()) return u"./";
  path.resize(n);
  return path.substr(0, path.find_last_of(u"/\\") + 1);
}

// The default value of HKCR\<key>, or empty.
std::u16string ClassesRootText(const std::u16string& key) {
  vel::UniqueHKey h;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, h.put()) != ERROR_SUCCESS) return {};
  char16_t data[1024];
  DWORD size = sizeof data - sizeof(char16_t);
  DWORD type = 0;
  const LONG rc = RegQueryValueExW(h.get(), nullptr, nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
  if (rc != ERROR_SUCCESS || type != REG_SZ) return {};
  std::u16string text(data, size / sizeof(char16_t));
  while (!text.empty() && text.back() == 0) text.pop_back();
  return text;
}

// The CLSID a ProgID names, when that CLSID has a registered server.
bool ClassOfProgId(const char16_t* progId, CLSID* clsid) {
  const std::u16string text = ClassesRootText(std::u16string(progId) + u"\\CLSID");
  if (text.empty() || FAILED(CLSIDFromString(text.c_str(), clsid))) return false;
  return !ClassesRootText(u"CLSID\\" + text + u"\\InprocServer32").empty();
}

template <class I>
ComPtr<I> Create(const char16_t* progId) {
  CLSID clsid{};
  if (!ClassOfProgId(progId, &clsid)) {
    ReportFailure("class " + Narrow(progId) + " is not registered", REGDB_E_CLASSNOTREG);
    return nullptr;
  }
  ComPtr<I> object;
  HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, __uuidof(I), reinterpret_cast<void**>(&object));
  if (FAILED(hr)) {
    ReportFailure("cannot create " + Narrow(progId), hr);
    return nullptr;
  }
  return object;
}

}  // namespace

void InitCom() { CoInitializeEx(nullptr, COINIT_MULTITHREADED); }

std::vector<std::u16string> DefaultModules() {
  // A build tree keeps the modules beside the binary; an installed tree in
  // its private library folder, at a fixed place relative to the binary.
  std::u16string dir = ExeDir();
  if (GetFileAttributesW((dir + u"libVelItemPlugins.so").c_str()) == INVALID_FILE_ATTRIBUTES) {
    dir += vel::FromUtf8(VEL_MODULE_DIR_FROM_BIN) + u"/";
  }
  return {dir + u"libVelItems.so", dir + u"libVelItemPlugins.so", dir + u"libveldshow.so"};
}

namespace {

// Where a registration by velitems leaves its mark, written last in the same
// store transaction: the modules it registered. A store without it (or with
// other modules) was never registered completely by this build.
constexpr char16_t kMarkKey[] = u"SOFTWARE\\Zandor\\velitems";
constexpr char16_t kMarkValue[] = u"Registration";

std::u16string JoinedModules(const std::vector<std::u16string>& modules) {
  std::u16string text;
  for (const std::u16string& m : modules) text += (text.empty() ? u"" : u";") + m;
  return text;
}

std::u16string RegistrationMark() {
  vel::UniqueHKey h;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kMarkKey, 0, KEY_READ, h.put()) != ERROR_SUCCESS) return {};
  DWORD size = 0;
  DWORD type = 0;
  if (RegQueryValueExW(h.get(), kMarkValue, nullptr, &type, nullptr, &size) != ERROR_SUCCESS || type != REG_SZ)
    return {};
  std::u16string text(size / sizeof(char16_t) + 1, u'\0');
  size = static_cast<DWORD>(text.size() * sizeof(char16_t));
  if (RegQueryValueExW(h.get(), kMarkValue, nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &size) !=
      ERROR_SUCCESS)
    return {};
  text.resize(size / sizeof(char16_t));
  while (!text.empty() && text.back() == 0) text.pop_back();
  return text;
}

LONG SetRegistrationMark(const std::u16string& text) {
  vel::UniqueHKey h;
  LONG rc = RegCreateKeyExW(HKEY_LOCAL_MACHINE, kMarkKey, 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, h.put(),
                           nullptr);
  if (rc != ERROR_SUCCESS) return rc;
  if (text.empty()) return RegDeleteValueW(h.get(), kMarkValue) == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : rc;
  return vel::RegSetTextIfChanged(h.get(), kMarkValue, text);
}

}  // namespace

bool RegisterModules(const std::vector<std::u16string>& modules, bool doRegister, bool quiet) {
  // All modules as one store transaction: other processes see the old
  // registration or the new one, never half of it; a run killed on the way
  // leaves the old one; concurrent runs take turns.
  vel::RegistryTransaction transaction;
  if (const LONG rc = transaction.Begin(); rc != ERROR_SUCCESS) {
    ReportFailure("the registry store cannot be changed now", HRESULT_FROM_WIN32(rc));
    return false;
  }
  bool ok = true;
  std::vector<std::string> done;
  const char* entry = doRegister ? "DllRegisterServer" : "DllUnregisterServer";
  for (const std::u16string& module : modules) {
    HMODULE handle = LoadLibraryW(module.c_str());
    if (!handle) {
      std::fprintf(stderr, "velitems: cannot load %s\n", Narrow(module).c_str());
      ok = false;
      continue;
    }
    auto run = reinterpret_cast<EntryPoint>(GetProcAddress(handle, entry));
    if (!run) {
      std::fprintf(stderr, "velitems: %s has no %s\n", Narrow(module).c_str(), entry);
      ok = false;
      continue;  // the module stays loaded: the platform keeps in-process servers anyway
    }
    const HRESULT hr = run();
    if (FAILED(hr)) {
      ReportFailure(std::string(entry) + " of " + Narrow(module), hr);
      ok = false;
    } else {
      done.push_back(std::string(doRegister ? "registered " : "unregistered ") + Narrow(module));
    }
  }
  // The mark names the default modules only when all of them are registered.
  if (ok && modules == DefaultModules()) {
    if (const LONG rc = SetRegistrationMark(doRegister ? JoinedModules(modules) : u""); rc != ERROR_SUCCESS) {
      ReportFailure("the registration cannot be recorded", HRESULT_FROM_WIN32(rc));
      ok = false;
    }
  }
  if (!ok) {
    transaction.Rollback();
    std::fprintf(stderr, "velitems: nothing was %s\n", doRegister ? "registered" : "unregistered");
    return false;
  }
  if (const LONG rc = transaction.Commit(); rc != ERROR_SUCCESS) {
    ReportFailure("the registration cannot be stored", HRESULT_FROM_WIN32(rc));
    return false;
  }
  if (!quiet)
    for (const std::string& line : done) std::printf("%s\n", line.c_str());
  return true;
}

bool EnsureRegistered() {
  // A store that cannot be used (damaged, made by something else) is
  // reported once and never written to.
  {
    vel::UniqueHKey software;
    const LONG rc = RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE", 0, KEY_READ, software.put());
    if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) {
      // Every failure but a busy store the platform has reported with the store's path.
      if (rc == ERROR_BUSY)
        ReportFailure("the registry store " + vel::RegistryPath() + " is busy", HRESULT_FROM_WIN32(rc));
      return false;
    }
  }
  CLSID clsid{};
  const std::vector<std::u16string> modules = DefaultModules();
  // A registration this build completed leaves its mark; anything else (a
  // store of an older build, one registered by hand or half way) is
  // registered again, as a whole.
  if (RegistrationMark() == JoinedModules(modules) && ClassOfProgId(kFactoryProgId, &clsid) &&
      ClassOfProgId(kVelItemProgId, &clsid))
    return true;
  std::fputs("velitems: the module is not registered in this store; registering it\n", stderr);
  return RegisterModules(modules, true, true);
}

ComPtr<IVelItemPluginFactory> CreateFactory() { return Create<IVelItemPluginFactory>(kFactoryProgId); }
ComPtr<IVelItem> CreateItem() { return Create<IVelItem>(kVelItemProgId); }

void LoadItemModule() {
  CLSID clsid{};
  if (!ClassOfProgId(kVelItemProgId, &clsid)) return;
  ComPtr<IClassFactory> classFactory;
  CoGetClassObject(clsid, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory, reinterpret_cast<void**>(&classFactory));
}
ComPtr<IVelEnum> CreateEnum() { return Create<IVelEnum>(kVelEnumProgId); }

std::string HrText(HRESULT hr) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08X", static_cast<unsigned>(hr));
  return buf;
}

std::string ErrorText(HRESULT hr) {
  ComPtr<IErrorInfo> info;
  if (GetErrorInfo(0, &info) == S_OK && info) {
    BSTR description = nullptr;
    if (SUCCEEDED(info->GetDescription(&description)) && description) {
      std::string text = BstrUtf8(description);
      SysFreeString(description);
      if (!text.empty()) return text;
    }
  }
  _com_error error(hr);
  const char16_t* message = error.ErrorMessage();
  return message ? Narrow(message) : std::string();
}

namespace {
std::atomic<bool> g_verbose{false};

std::string XmlUnescaped(std::string_view text) {
  static constexpr std::pair<std::string_view, char> kEntities[] = {
      {"&lt;", '<'}, {"&gt;", '>'}, {"&amp;", '&'}, {"&quot;", '"'}, {"&apos;", '\''}};
  std::string out;
  for (std::size_t i = 0; i < text.size();) {
    bool replaced = false;
    for (const auto& [entity, c] : kEntities) {
      if (text.substr(i, entity.size()) == entity) {
        out += c;
        i += entity.size();
        replaced = true;
        break;
      }
    }
    if (!replaced) out += text[i++];
  }
  return out;
}
}  // namespace

void SetVerbose(bool verbose) { g_verbose = verbose; }
bool Verbose() { return g_verbose; }

std::string ReasonOf(const std::string& errorText, HRESULT hr) {
  // A report lists its entries innermost first: the first description is
  // what went wrong, the later ones are the way back ("Stacktrace.").
  const std::size_t open = errorText.find("<description>");
  if (open != std::string::npos) {
    const std::size_t begin = open + std::string_view("<description>").size();
    const std::size_t end = errorText.find("</description>", begin);
    if (end != std::string::npos) {
      std::string reason = XmlUnescaped(std::string_view(errorText).substr(begin, end - begin));
      // The system's own reason, where the failing step had one, finishes the
      // line: "Error writing audio metadata. Access is denied."
      const std::size_t entryEnd = errorText.find("</errorentry>", end);
      const std::size_t system = errorText.find("<SystemError>", end);
      if (system != std::string::npos && system < entryEnd) {
        const std::size_t from = system + std::string_view("<SystemError>").size();
        const std::size_t to = errorText.find("</SystemError>", from);
        if (to != std::string::npos) {
          const std::string why = XmlUnescaped(std::string_view(errorText).substr(from, to - from));
          if (!why.empty()) reason += reason.empty() ? why : " " + why;
        }
      }
      if (!reason.empty()) return reason;
    }
  }
  std::string text = errorText;
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  if (!text.empty() && text.find('\n') == std::string::npos) return text;
  _com_error error(hr);
  const char16_t* message = error.ErrorMessage();
  return message ? Narrow(message) : HrText(hr);
}

void ReportFailure(const std::string& what, HRESULT hr) {
  const std::string text = ErrorText(hr);
  std::fprintf(stderr, "velitems: %s: %s (%s)\n", what.c_str(), ReasonOf(text, hr).c_str(), HrText(hr).c_str());
  if (g_verbose && !text.empty()) std::fprintf(stderr, "%s\n", text.c_str());
}

std::string Narrow(std::u16string_view text) { return vel::ToUtf8(text); }
std::u16string Wide(std::string_view text) { return vel::FromUtf8(text); }
std::string BstrUtf8(BSTR text) { return text ? vel::ToUtf8(std::u16string_view(text, SysStringLen(text))) : ""; }

std::string PluginName(IVelItemPlugin* plugin) {
  BSTR name = nullptr;
  if (FAILED(plugin->get_Name(&name))) return "";
  std::string text = BstrUtf8(name);
  SysFreeString(name);
  return text;
}

ComPtr<IVelItemPlugin> PluginForFile(const std::string& file) {
  InitCom();
  if (!EnsureRegistered()) return {};
  ComPtr<IVelItemPluginFactory> factory = CreateFactory();
  if (!factory) return {};
  ComPtr<IVelItemPlugin> plugin;
  const HRESULT hr = factory->CreateWithFile(_bstr_t(Wide(file)), &plugin);
  if (FAILED(hr)) {
    ReportFailure("CreateWithFile", hr);
    return {};
  }
  if (!plugin) std::fprintf(stderr, "velitems: %s: no plugin is registered for this file\n", file.c_str());
  return plugin;
}

}  // namespace velitems
