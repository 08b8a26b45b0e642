// The in-process server entry points of libVelItems.so: class objects,
// unloading, and the registration of VelItem and VelEnum.
#include <string>
#include <vector>

#include "host/items/ItemModel.h"
#include "platform/registry/update.h"
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

// Creates root\subKey and sets its default value (and one named value),
// writing only what differs. An exact key keeps nothing else: no other value,
// no subkey but those listed.
LSTATUS WriteKey(const std::u16string& subKey, const std::u16string& defaultValue, const char16_t* valueName = nullptr,
                 const std::u16string& value = {}, const std::vector<std::u16string>* exactSubkeys = nullptr) {
  vel::UniqueHKey key;
  LSTATUS rc = RegCreateKeyExW(HKEY_CLASSES_ROOT, subKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                               nullptr, key.put(), nullptr);
  if (rc != ERROR_SUCCESS) return rc;
  if (exactSubkeys) {
    std::vector<std::u16string> values{u""};
    if (valueName) values.emplace_back(valueName);
    rc = vel::RegKeepOnly(key.get(), *exactSubkeys, values);
  }
  if (rc == ERROR_SUCCESS) rc = vel::RegSetTextIfChanged(key.get(), nullptr, defaultValue);
  if (rc == ERROR_SUCCESS && valueName) rc = vel::RegSetTextIfChanged(key.get(), valueName, value);
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
  const std::u16string progId = c.progId;
  const std::u16string versioned = c.progIdVersioned;
  // The class key holds exactly this registration: what a stale one (another
  // path, old subkeys) left goes, and registering again writes nothing.
  const std::vector<std::u16string> classSubkeys{u"ProgID", u"VersionIndependentProgID", u"InprocServer32"};
  const std::vector<std::u16string> none;
  LSTATUS rc = WriteKey(versioned, c.description);
  if (rc == ERROR_SUCCESS) rc = WriteKey(versioned + u"\\CLSID", clsid);
  if (rc == ERROR_SUCCESS) rc = WriteKey(progId, c.description);
  if (rc == ERROR_SUCCESS) rc = WriteKey(progId + u"\\CLSID", clsid);
  if (rc == ERROR_SUCCESS) rc = WriteKey(progId + u"\\CurVer", versioned);
  if (rc == ERROR_SUCCESS) rc = WriteKey(clsidKey, c.description, nullptr, {}, &classSubkeys);
  if (rc == ERROR_SUCCESS) rc = WriteKey(clsidKey + u"\\ProgID", versioned, nullptr, {}, &none);
  if (rc == ERROR_SUCCESS) rc = WriteKey(clsidKey + u"\\VersionIndependentProgID", progId, nullptr, {}, &none);
  if (rc == ERROR_SUCCESS) rc = WriteKey(clsidKey + u"\\InprocServer32", path, u"ThreadingModel", u"Free", &none);
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
