// The in-process server entry points of libVelItems.so: class objects,
// unloading, and the registration of VelItem and VelEnum.
#include <string>

#include "host/items/ItemModel.h"
#include "platform/registry/winreg.h"
#include "platform/win32/UniqueHandles.h"
#include "platform/win32/thismodule.h"
#include "platform/win32/winbase.h"

#define VEL_EXPORT extern "C" [[gnu::visibility("default")]]

namespace {

using velitems::CVelEnum;
using velitems::CVelItem;

struct ClassInfo {
  const CLSID* clsid;
  const char16_t* description;  // "VelItem Class"
  const char16_t* progId;
  const char16_t* progIdVersioned;
};

const ClassInfo kClasses[] = {
    {&CLSID_VelItem, u"VelItem Class", kVelItemProgId, kVelItemProgIdVersioned},
    {&CLSID_VelEnum, u"VelEnum Class", kVelEnumProgId, kVelEnumProgIdVersioned},
};

std::u16string ClsidKey(const CLSID& clsid) {
  OLECHAR text[40];
  StringFromGUID2(clsid, text, 40);
  return u"CLSID\\" + std::u16string(text);
}

std::u16string GuidText(const CLSID& clsid) {
  OLECHAR text[40];
  StringFromGUID2(clsid, text, 40);
  return text;
}

// Creates root\subKey and sets its default value (and one named value).
LSTATUS WriteKey(const std::u16string& subKey, const std::u16string& defaultValue, const char16_t* valueName = nullptr,
                 const std::u16string& value = {}) {
  vel::UniqueHKey key;
  LSTATUS rc = RegCreateKeyExW(HKEY_CLASSES_ROOT, subKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE,
                               nullptr, key.put(), nullptr);
  if (rc != ERROR_SUCCESS) return rc;
  rc = RegSetValueExW(key.get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(defaultValue.c_str()),
                      static_cast<DWORD>((defaultValue.size() + 1) * sizeof(char16_t)));
  if (rc == ERROR_SUCCESS && valueName)
    rc = RegSetValueExW(key.get(), valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                        static_cast<DWORD>((value.size() + 1) * sizeof(char16_t)));
  return rc;
}

LSTATUS DeleteTree(const std::u16string& subKey) {
  LSTATUS rc = RegDeleteTreeW(HKEY_CLASSES_ROOT, subKey.c_str());
  return rc == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : rc;
}

LSTATUS Unregister(const ClassInfo& c) {
  LSTATUS rc = DeleteTree(ClsidKey(*c.clsid));
  LSTATUS rc2 = DeleteTree(c.progId);
  LSTATUS rc3 = DeleteTree(c.progIdVersioned);
  return rc != ERROR_SUCCESS ? rc : rc2 != ERROR_SUCCESS ? rc2 : rc3;
}

LSTATUS Register(const ClassInfo& c, const std::u16string& path) {
  const std::u16string clsid = GuidText(*c.clsid);
  const std::u16string clsidKey = ClsidKey(*c.clsid);
  // A stale registration (another path, old subkeys) is replaced as a whole.
  LSTATUS rc = DeleteTree(clsidKey);
  const std::u16string progId = c.progId;
  const std::u16string versioned = c.progIdVersioned;
  if (rc == ERROR_SUCCESS) rc = WriteKey(versioned, c.description);
  if (rc == ERROR_SUCCESS) rc = WriteKey(versioned + u"\\CLSID", clsid);
  if (rc == ERROR_SUCCESS) rc = WriteKey(progId, c.description);
  if (rc == ERROR_SUCCESS) rc = WriteKey(progId + u"\\CLSID", clsid);
  if (rc == ERROR_SUCCESS) rc = WriteKey(progId + u"\\CurVer", versioned);
  if (rc == ERROR_SUCCESS) rc = WriteKey(clsidKey, c.description);
  if (rc == ERROR_SUCCESS) rc = WriteKey(clsidKey + u"\\ProgID", versioned);
  if (rc == ERROR_SUCCESS) rc = WriteKey(clsidKey + u"\\VersionIndependentProgID", progId);
  if (rc == ERROR_SUCCESS) rc = WriteKey(clsidKey + u"\\InprocServer32", path, u"ThreadingModel", u"Free");
  return rc;
}

}  // namespace

VEL_EXPORT HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (rclsid == CLSID_VelItem) return vel::com::ClassFactory<CVelItem>::Create(riid, ppv);
  if (rclsid == CLSID_VelEnum) return vel::com::ClassFactory<CVelEnum>::Create(riid, ppv);
  return CLASS_E_CLASSNOTAVAILABLE;
}

VEL_EXPORT HRESULT DllCanUnloadNow() { return vel::com::ModuleCanUnloadNow(); }

VEL_EXPORT HRESULT DllRegisterServer() {
  const std::u16string path = vel::ThisModulePath();
  if (path.empty()) return SELFREG_E_CLASS;
  for (const ClassInfo& c : kClasses) {
    LSTATUS rc = Register(c, path);
    if (rc != ERROR_SUCCESS) return HRESULT_FROM_WIN32(rc);
  }
  return S_OK;
}

VEL_EXPORT HRESULT DllUnregisterServer() {
  HRESULT result = S_OK;
  for (const ClassInfo& c : kClasses) {
    LSTATUS rc = Unregister(c);
    if (rc != ERROR_SUCCESS && result == S_OK) result = HRESULT_FROM_WIN32(rc);
  }
  return result;
}
