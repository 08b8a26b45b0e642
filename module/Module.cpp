// The module object of libVelItemPlugins.so and its four exported entry
// points. The module object is the object map (the six classes with their
// class objects and registration data), the application identifier and the
// lock count (vel::com::ModuleLocks).
//
// There is no DllMain on this platform: the module object is a set of
// statically initialised tables, ready when the loader has run the module's
// static constructors, and nothing in it can fail to initialise.
//
// Thread safety: class objects are created once per class under the module's
// lock; registration is meant for one thread at a time (as on the platform).
#include <array>
#include <atomic>
#include <mutex>
#include <string>

#include "audio/VelItemAudio.h"
#include "contract/VelItemPluginsLib.h"
#include "framework/VelItemPluginFactory.h"
#include "image/VelItemImage.h"
#include "messaging/VelItemMMS.h"
#include "messaging/VelItemSMS.h"
#include "module/VelRegistration.h"
#include "platform/com/comobject.h"
#include "platform/win32/thismodule.h"
#include "platform/win32/winbase.h"
#include "video/VelItemVideo.h"

#define VEL_EXPORT extern "C" [[gnu::visibility("default")]]

namespace {

struct ObjectMapEntry {
  const VelClassRegistration* registration;
  HRESULT (*createClassObject)(REFIID riid, void** ppv);
};

const std::array<ObjectMapEntry, 6> kObjectMap = {{
    {&kVelRegFactory, &vel::com::ClassFactory<CVelItemPluginFactory>::Create},
    {&kVelRegImage, &vel::com::ClassFactory<CVelItemImage>::Create},
    {&kVelRegAudio, &vel::com::ClassFactory<CVelItemAudio>::Create},
    {&kVelRegVideo, &vel::com::ClassFactory<CVelItemVideo>::Create},
    {&kVelRegMMS, &vel::com::ClassFactory<CVelItemMMS>::Create},
    {&kVelRegSMS, &vel::com::ClassFactory<CVelItemSMS>::Create},
}};

// Class objects live until the module unloads; they do not count in the lock
// count. Made once each; afterwards handed out without a lock, as hosts ask
// for them for every file they read, from several threads.
class ClassObjects {
 public:
  ~ClassObjects() {
    for (std::atomic<IUnknown*>& object : objects_) {
      if (IUnknown* p = object.exchange(nullptr)) p->Release();
    }
  }
  HRESULT Get(std::size_t index, REFIID riid, void** ppv) {
    IUnknown* object = objects_[index].load(std::memory_order_acquire);
    if (!object) {
      std::lock_guard<std::mutex> hold(lock_);
      object = objects_[index].load(std::memory_order_relaxed);
      if (!object) {
        HRESULT hr = kObjectMap[index].createClassObject(IID_IUnknown, reinterpret_cast<void**>(&object));
        if (FAILED(hr)) return hr;
        objects_[index].store(object, std::memory_order_release);
      }
    }
    return object->QueryInterface(riid, ppv);
  }

 private:
  std::mutex lock_;  // the first creation of each
  std::array<std::atomic<IUnknown*>, kObjectMap.size()> objects_{};
};

ClassObjects& TheClassObjects() {
  static ClassObjects objects;
  return objects;
}

VelRegReplacements Replacements(const std::u16string& modulePath) {
  std::u16string dir = modulePath;
  const std::size_t slash = dir.find_last_of(u"/\\");
  dir = slash == std::u16string::npos ? std::u16string() : dir.substr(0, slash);
  return {{u"%MODULEDIR%", dir}, {u"%MODULE%", modulePath}, {u"%APPID%", VelGuidText(APPID_VelItemPlugins)}};
}

HRESULT RunScripts(const std::vector<VelRegScript>& scripts, bool doRegister, const VelRegReplacements& r) {
  HRESULT result = S_OK;
  for (const VelRegScript& s : scripts) {
    HRESULT hr = VelRunRegScript(s, doRegister, r);
    if (FAILED(hr) && SUCCEEDED(result)) result = hr;
    if (FAILED(hr) && doRegister) break;
  }
  return result;
}

// Registration writes locale-independent texts: the thread runs it in the
// system default locale and gets its own back afterwards.
class SystemLocaleScope {
 public:
  SystemLocaleScope() : saved_(GetThreadLocale()) { SetThreadLocale(0x800); }
  ~SystemLocaleScope() { SetThreadLocale(saved_); }

 private:
  LCID saved_;
};

}  // namespace

VEL_EXPORT HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  for (std::size_t i = 0; i < kObjectMap.size(); ++i) {
    if (*kObjectMap[i].registration->clsid == rclsid) return TheClassObjects().Get(i, riid, ppv);
  }
  return CLASS_E_CLASSNOTAVAILABLE;
}

VEL_EXPORT HRESULT DllCanUnloadNow() { return vel::com::ModuleCanUnloadNow(); }

VEL_EXPORT HRESULT DllRegisterServer() {
  const std::u16string path = vel::ThisModulePath();
  if (path.empty()) return SELFREG_E_CLASS;
  SystemLocaleScope locale;
  const VelRegReplacements r = Replacements(path);
  HRESULT hr = RunScripts(VelModuleScript(), true, r);
  for (const ObjectMapEntry& e : kObjectMap) {
    if (FAILED(hr)) break;
    hr = RunScripts(VelClassScript(*e.registration), true, r);
  }
  if (SUCCEEDED(hr)) hr = RunScripts(VelTypeLibScript(), true, r);
  return FAILED(hr) ? hr : S_OK;
}

VEL_EXPORT HRESULT DllUnregisterServer() {
  const std::u16string path = vel::ThisModulePath();
  SystemLocaleScope locale;
  const VelRegReplacements r = Replacements(path);
  HRESULT result = S_OK;
  auto keep = [&](HRESULT hr) {
    if (FAILED(hr) && SUCCEEDED(result)) result = hr;
  };
  for (const ObjectMapEntry& e : kObjectMap) keep(RunScripts(VelClassScript(*e.registration), false, r));
  keep(RunScripts(VelTypeLibScript(), false, r));
  keep(RunScripts(VelModuleScript(), false, r));
  return result;
}
