// libveldshow.so: the in-process server of the filter graph (CLSID_FilterGraph).
//
// DllRegisterServer writes HKEY_CLASSES_ROOT\CLSID\{clsid}\InprocServer32 =
// this module's own path, ThreadingModel "Both"; DllUnregisterServer removes
// the class key. The module stays loaded once loaded (linked with
// -z nodelete): it installs a process-wide FFmpeg log callback that must not
// point into an unloaded library.
#include <string>

#include "platform/com/comobject.h"
#include "platform/dshow/FilterGraph.h"
#include "platform/registry/update.h"
#include "platform/registry/winreg.h"
#include "platform/win32/UniqueHandles.h"
#include "platform/win32/thismodule.h"

#define VEL_DSHOW_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

std::u16string ClassKey() {
  OLECHAR guid[40];
  StringFromGUID2(CLSID_FilterGraph, guid, 40);
  return u"CLSID\\" + std::u16string(guid);
}

// Only what differs is written: registering again changes nothing.
LSTATUS SetText(HKEY key, const char16_t* name, const std::u16string& text) {
  return vel::RegSetTextIfChanged(key, name, text);
}

}  // namespace

VEL_DSHOW_EXPORT HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (rclsid != CLSID_FilterGraph) return CLASS_E_CLASSNOTAVAILABLE;
  return vel::com::ClassFactory<vel::dshow::FilterGraph>::Create(riid, ppv);
}

VEL_DSHOW_EXPORT HRESULT DllCanUnloadNow() { return vel::com::ModuleCanUnloadNow(); }

VEL_DSHOW_EXPORT HRESULT DllRegisterServer() {
  try {
    const std::u16string path = vel::ThisModulePath();
    if (path.empty()) return SELFREG_E_CLASS;
    const std::u16string key = ClassKey();
    vel::UniqueHKey cls, server;
    if (RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, cls.put(), nullptr) !=
            ERROR_SUCCESS ||
        SetText(cls.get(), nullptr, u"Filter Graph") != ERROR_SUCCESS ||
        RegCreateKeyExW(cls.get(), u"InprocServer32", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, server.put(),
                        nullptr) != ERROR_SUCCESS ||
        SetText(server.get(), nullptr, path) != ERROR_SUCCESS ||
        SetText(server.get(), u"ThreadingModel", u"Both") != ERROR_SUCCESS) {
      return SELFREG_E_CLASS;
    }
    return S_OK;
  } catch (...) {
    return SELFREG_E_CLASS;
  }
}

VEL_DSHOW_EXPORT HRESULT DllUnregisterServer() {
  try {
    const LSTATUS status = RegDeleteTreeW(HKEY_CLASSES_ROOT, ClassKey().c_str());
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND ? S_OK : SELFREG_E_CLASS;
  } catch (...) {
    return SELFREG_E_CLASS;
  }
}
