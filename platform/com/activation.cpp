// Apartments, activation of in-process servers and task memory.
//
// Only in-process servers exist: a class is found under
// HKEY_CLASSES_ROOT\CLSID\{clsid}\InprocServer32 (default value = module path),
// the module is loaded once with dlopen and kept in a process-wide table, and
// its DllGetClassObject hands out the class object. Apartments are bookkeeping
// only: every object is free-threaded, and a thread that never called
// CoInitializeEx may still create objects, as if it had joined the
// multi-threaded apartment.
//
// A host asks for the same few classes for every file it reads: which module
// serves a class is remembered for as long as the process's image of the
// registry stays valid (vel::RegistryImageEpoch), so a repeated activation
// reads nothing from the registry.
#include <dlfcn.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/com/combase.h"
#include "platform/registry/store.h"
#include "platform/registry/winreg.h"
#include "platform/text.h"
#include "platform/win32/UniqueHandles.h"
#include "platform/win32/UniquePosix.h"
#include "platform/win32/winbase.h"

namespace {

using DllGetClassObjectFn = HRESULT (*)(REFCLSID, REFIID, LPVOID*);
using DllCanUnloadNowFn = HRESULT (*)();

struct Apartment {
  ULONG count = 0;
  DWORD model = COINIT_MULTITHREADED;
};
thread_local Apartment t_apartment;

struct LoadedModule {
  vel::UniqueDlHandle handle;
  DllGetClassObjectFn getClassObject;
  DllCanUnloadNowFn canUnloadNow;  // may be null: such a module stays
};

// A class's module entry as found under one image of the registry.
struct KnownClass {
  CLSID clsid;
  std::uint64_t epoch;
  DllGetClassObjectFn getClassObject;
};

// Modules by the path they were registered with, and the classes found in
// them (a handful: searched in order).
struct ModuleTable {
  std::mutex mutex;
  std::map<std::string, LoadedModule> modules;
  std::vector<KnownClass> classes;
  // CoFreeUnusedLibraries calls that took modules out; changed under the
  // lock, read without it by the threads' own copies of the entries.
  std::atomic<std::uint64_t> unloads{0};
};
ModuleTable& Modules() {
  static auto* table = new ModuleTable;  // never destroyed: modules outlive static destruction
  return *table;
}

bool DebugOutput() {
  const char* value = std::getenv("VEL_DEBUG_OUTPUT");
  return value && value[0] == '1' && value[1] == 0;
}

// The module path as the file system names it: "\\?\" dropped, "\" as "/".
std::string ModuleFilePath(std::u16string text) {
  if (text.rfind(u"\\\\?\\", 0) == 0) text.erase(0, 4);
  for (char16_t& c : text)
    if (c == u'\\') c = u'/';
  return vel::ToUtf8(text);
}

// The InprocServer32 path of clsid; REGDB_E_CLASSNOTREG when there is none.
HRESULT ReadServerPath(REFCLSID clsid, std::string& path) {
  OLECHAR guid[40];
  StringFromGUID2(clsid, guid, 40);
  std::u16string keyName = u"CLSID\\" + std::u16string(guid) + u"\\InprocServer32";
  vel::UniqueHKey key;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, keyName.c_str(), 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS)
    return REGDB_E_CLASSNOTREG;
  DWORD type = 0;
  DWORD size = 0;
  LSTATUS status = RegQueryValueExW(key.get(), nullptr, nullptr, &type, nullptr, &size);
  std::u16string value;
  if (status == ERROR_SUCCESS && (type == REG_SZ || type == REG_EXPAND_SZ) && size >= sizeof(char16_t)) {
    value.resize(size / sizeof(char16_t));
    status = RegQueryValueExW(key.get(), nullptr, nullptr, &type, reinterpret_cast<BYTE*>(value.data()), &size);
    value.resize(size / sizeof(char16_t));
    while (!value.empty() && value.back() == 0) value.pop_back();
  }
  key.reset();
  if (status != ERROR_SUCCESS || value.empty()) return REGDB_E_CLASSNOTREG;
  if (type == REG_EXPAND_SZ) {
    DWORD needed = ExpandEnvironmentStringsW(value.c_str(), nullptr, 0);
    std::u16string expanded(needed, u'\0');
    if (needed && ExpandEnvironmentStringsW(value.c_str(), expanded.data(), needed) == needed) {
      expanded.resize(needed - 1);
      value = expanded;
    }
  }
  path = ModuleFilePath(value);
  return S_OK;
}

// The class-object entry of the module at path, loading it on first use.
// The table is not locked while a module loads (loading a module and the
// libraries it needs can take tens of milliseconds): other threads go on
// creating objects of modules already loaded; two threads loading the same
// module get the same one.
// *unloads: the table's unload count when the entry was found in it.
HRESULT LoadModule(const std::string& path, DllGetClassObjectFn& out, std::uint64_t* unloads) {
  ModuleTable& table = Modules();
  {
    std::lock_guard lock(table.mutex);
    auto it = table.modules.find(path);
    if (it != table.modules.end()) {
      out = it->second.getClassObject;
      *unloads = table.unloads.load(std::memory_order_relaxed);
      return S_OK;
    }
  }
  vel::UniqueDlHandle handle(dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL));
  if (!handle) {
    if (DebugOutput()) std::fprintf(stderr, "%s\n", dlerror());
    return CO_E_DLLNOTFOUND;
  }
  auto getClassObject = reinterpret_cast<DllGetClassObjectFn>(dlsym(handle.get(), "DllGetClassObject"));
  if (!getClassObject) {
    if (DebugOutput()) std::fprintf(stderr, "%s: no DllGetClassObject\n", path.c_str());
    return CO_E_ERRORINDLL;
  }
  auto canUnloadNow = reinterpret_cast<DllCanUnloadNowFn>(dlsym(handle.get(), "DllCanUnloadNow"));
  std::lock_guard lock(table.mutex);
  // Another thread's load of the same module may have come first: the
  // library is the same (loading counts), its entry is kept, ours goes.
  const auto it = table.modules.emplace(path, LoadedModule{std::move(handle), getClassObject, canUnloadNow}).first;
  out = it->second.getClassObject;
  *unloads = table.unloads.load(std::memory_order_relaxed);
  return S_OK;
}

bool SameClass(const CLSID& a, const CLSID& b) { return std::memcmp(&a, &b, sizeof(CLSID)) == 0; }

// Each thread's copy of the entries it used, with the table's unload count
// when it was taken: threads that create objects for every file they read
// find their classes without all taking the table's lock.
struct ThreadKnownClass {
  CLSID clsid;
  std::uint64_t epoch;
  std::uint64_t unloads;
  DllGetClassObjectFn getClassObject;
};
// Plain data, so that no destructor is registered for it (that takes the
// dynamic loader's lock, which a module being loaded holds for long).
constexpr std::size_t kThreadKnownClasses = 16;
thread_local ThreadKnownClass t_knownClasses[kThreadKnownClasses];
thread_local std::size_t t_knownCount = 0;
thread_local std::size_t t_knownNext = 0;  // the entry a new class replaces when all are taken

void RememberInThread(REFCLSID clsid, std::uint64_t epoch, std::uint64_t unloads, DllGetClassObjectFn getClassObject) {
  const ThreadKnownClass entry{clsid, epoch, unloads, getClassObject};
  for (std::size_t i = 0; i < t_knownCount; ++i) {
    if (SameClass(t_knownClasses[i].clsid, clsid)) {
      t_knownClasses[i] = entry;
      return;
    }
  }
  if (t_knownCount < kThreadKnownClasses) {
    t_knownClasses[t_knownCount++] = entry;
  } else {
    t_knownClasses[t_knownNext] = entry;
    t_knownNext = (t_knownNext + 1) % kThreadKnownClasses;
  }
}

DllGetClassObjectFn KnownClassObject(REFCLSID clsid, std::uint64_t epoch) {
  ModuleTable& table = Modules();
  const std::uint64_t unloads = table.unloads.load(std::memory_order_acquire);
  for (std::size_t i = 0; i < t_knownCount; ++i) {
    const ThreadKnownClass& known = t_knownClasses[i];
    if (SameClass(known.clsid, clsid)) {
      if (known.epoch == epoch && known.unloads == unloads) return known.getClassObject;
      break;
    }
  }
  std::lock_guard lock(table.mutex);
  for (const KnownClass& known : table.classes) {
    if (SameClass(known.clsid, clsid)) {
      if (known.epoch != epoch) return nullptr;
      RememberInThread(clsid, epoch, table.unloads.load(std::memory_order_relaxed), known.getClassObject);
      return known.getClassObject;
    }
  }
  return nullptr;
}

// Not when modules were taken out since the entry was found: it may be gone.
void RememberClass(REFCLSID clsid, std::uint64_t epoch, DllGetClassObjectFn getClassObject, std::uint64_t unloads) {
  ModuleTable& table = Modules();
  std::lock_guard lock(table.mutex);
  if (table.unloads.load(std::memory_order_relaxed) != unloads) return;
  RememberInThread(clsid, epoch, unloads, getClassObject);
  for (KnownClass& known : table.classes) {
    if (SameClass(known.clsid, clsid)) {
      known = KnownClass{clsid, epoch, getClassObject};
      return;
    }
  }
  table.classes.push_back(KnownClass{clsid, epoch, getClassObject});
}

}  // namespace

extern "C" {

HRESULT CoInitializeEx(LPVOID, DWORD dwCoInit) {
  const DWORD model = dwCoInit & COINIT_APARTMENTTHREADED;
  Apartment& a = t_apartment;
  if (a.count > 0) {
    if (a.model != model) return RPC_E_CHANGED_MODE;
    ++a.count;
    return S_FALSE;
  }
  a.count = 1;
  a.model = model;
  return S_OK;
}

HRESULT CoInitialize(LPVOID pvReserved) { return CoInitializeEx(pvReserved, COINIT_APARTMENTTHREADED); }

void CoUninitialize() {
  if (t_apartment.count > 0) --t_apartment.count;
}

HRESULT CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, COSERVERINFO*, REFIID riid, LPVOID* ppv) {
  if (!ppv) return E_INVALIDARG;
  *ppv = nullptr;
  if (!(dwClsContext & (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER))) return REGDB_E_CLASSNOTREG;
  // Taken before the registry is read: a change after it gives later calls
  // another number, so they read again.
  const std::uint64_t epoch = vel::RegistryImageEpoch();
  DllGetClassObjectFn getClassObject = KnownClassObject(rclsid, epoch);
  if (getClassObject == nullptr) {
    std::string path;
    HRESULT hr = ReadServerPath(rclsid, path);
    if (FAILED(hr)) return hr;
    std::uint64_t unloads = 0;
    hr = LoadModule(path, getClassObject, &unloads);
    if (FAILED(hr)) return hr;
    RememberClass(rclsid, epoch, getClassObject, unloads);
  }
  return getClassObject(rclsid, riid, ppv);
}

HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD dwClsContext, REFIID riid, LPVOID* ppv) {
  if (!ppv) return E_INVALIDARG;
  *ppv = nullptr;
  IClassFactory* factory = nullptr;
  HRESULT hr = CoGetClassObject(rclsid, dwClsContext, nullptr, IID_IClassFactory, reinterpret_cast<void**>(&factory));
  if (FAILED(hr)) return hr;
  hr = factory->CreateInstance(pUnkOuter, riid, ppv);
  factory->Release();
  return hr;
}

void CoFreeUnusedLibraries() {
  ModuleTable& table = Modules();
  std::lock_guard lock(table.mutex);
  table.classes.clear();  // their entries may be in a module that goes
  table.unloads.fetch_add(1, std::memory_order_acq_rel);  // and entries found before now are not remembered
  for (auto it = table.modules.begin(); it != table.modules.end();) {
    const LoadedModule& m = it->second;
    if (m.canUnloadNow && m.canUnloadNow() == S_OK) {
      it = table.modules.erase(it);  // closes the module
    } else {
      ++it;
    }
  }
}

LPVOID CoTaskMemAlloc(SIZE_T cb) { return std::malloc(cb ? cb : 1); }

LPVOID CoTaskMemRealloc(LPVOID pv, SIZE_T cb) {
  if (pv && cb == 0) {
    std::free(pv);
    return nullptr;
  }
  return std::realloc(pv, cb ? cb : 1);
}

void CoTaskMemFree(LPVOID pv) { std::free(pv); }

HRESULT OleRun(IUnknown* pUnknown) { return pUnknown ? S_OK : E_INVALIDARG; }

}  // extern "C"
