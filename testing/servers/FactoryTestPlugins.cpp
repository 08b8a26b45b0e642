// A test module with three plugin classes, TestA, TestB and TestC, for the
// factory's choice among plugins that share an extension. Their ValidateItem
// reads its answer from the file name "<stem>_<a>_<b>_<c>.<ext>": the token of
// the class is a status number, or "f" for a failing call. It also fails
// unless the item holds exactly one property, "URI" in kCoreNamespace, and it
// records "A", "B", "C" in call order (VelTestCalls / VelTestResetCalls).
#include <mutex>
#include <string>

#include "module/VelItemPluginsLib.h"
#include "platform/com/comdef.h"
#include "platform/com/comobject.h"
#include "platform/com/oleauto.h"
#include "platform/text.h"

#define VEL_EXPORT extern "C" [[gnu::visibility("default")]]

namespace {

std::mutex g_callsLock;
std::string g_calls;

// {10000000-0000-0000-0000-0000000000A1} and so on: they enumerate A, B, C.
constexpr CLSID kClsidA = {0x10000000, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0xA1}};
constexpr CLSID kClsidB = {0x20000000, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0xB1}};
constexpr CLSID kClsidC = {0x30000000, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0xC1}};

template <int Index>
class CTestPlugin : public vel::com::Implements<vel::com::DispatchImpl<IVelItemPlugin>,
                                                vel::com::SupportErrorInfoFor<IVelItemPlugin>> {
 public:
  HRESULT QueryCapability(LONG, VARIANT_BOOL* r) override {
    *r = VARIANT_FALSE;
    return S_OK;
  }
  HRESULT get_Name(BSTR* pVal) override {
    const char16_t name[] = {u'T', u'e', u's', u't', static_cast<char16_t>(u'A' + Index), 0};
    *pVal = SysAllocString(name);
    return S_OK;
  }
  HRESULT get_CustomStoragePath(BSTR* pVal) override {
    *pVal = nullptr;
    return S_OK;
  }
  HRESULT ValidateItem(IVelItem* pItem, LONG* pStatus) override {
    {
      std::lock_guard<std::mutex> hold(g_callsLock);
      g_calls += static_cast<char>('A' + Index);
    }
    if (!pItem || !pStatus) return E_POINTER;
    ComPtr<IVelProperties> properties;
    if (FAILED(pItem->get_Properties(&properties))) return E_FAIL;
    LONG count = 0;
    properties->get_Count(&count);
    _variant_t uri;
    if (count != 1 ||
        FAILED(properties->get_Value(_bstr_t(u"URI"), _bstr_t(kCoreNamespace), uri.GetAddress())) ||
        uri.vt != VT_BSTR)
      return E_INVALIDARG;
    std::u16string path(uri.bstrVal, SysStringLen(uri.bstrVal));
    path = path.substr(path.find_last_of(u"/\\") + 1);
    path = path.substr(0, path.find(u'.'));
    // Token Index + 1 after the stem.
    std::size_t pos = 0;
    for (int i = 0; i <= Index && pos != std::u16string::npos; ++i) {
      pos = path.find(u'_', pos);
      if (pos != std::u16string::npos) ++pos;
    }
    if (pos == std::u16string::npos) return E_INVALIDARG;
    const std::u16string token = path.substr(pos, path.find(u'_', pos) - pos);
    if (token == u"f") return E_FAIL;
    *pStatus = std::stol(vel::ToUtf8(token));
    return S_OK;
  }
  HRESULT ReadMetadata(BSTR, IVelItem** pp) override {
    *pp = nullptr;
    return E_NOTIMPL;
  }
  HRESULT WriteMetadata(BSTR, IVelItem*) override { return E_NOTIMPL; }
  HRESULT GetItemPath(IVelItem*, BSTR* pVal) override {
    *pVal = nullptr;
    return E_NOTIMPL;
  }
};

}  // namespace

VEL_EXPORT HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
  if (rclsid == kClsidA) return vel::com::ClassFactory<CTestPlugin<0>>::Create(riid, ppv);
  if (rclsid == kClsidB) return vel::com::ClassFactory<CTestPlugin<1>>::Create(riid, ppv);
  if (rclsid == kClsidC) return vel::com::ClassFactory<CTestPlugin<2>>::Create(riid, ppv);
  return CLASS_E_CLASSNOTAVAILABLE;
}

VEL_EXPORT HRESULT DllCanUnloadNow() { return S_FALSE; }

VEL_EXPORT const char* VelTestCalls() {
  static thread_local std::string copy;
  std::lock_guard<std::mutex> hold(g_callsLock);
  copy = g_calls;
  return copy.c_str();
}

VEL_EXPORT void VelTestResetCalls() {
  std::lock_guard<std::mutex> hold(g_callsLock);
  g_calls.clear();
}
