#include "ylib/YCOMClassFactory.h"

#include "platform/com/combase.h"
#include "ylib/YCOMUtilities.h"
#include "ylib/YErrorFrame.h"

namespace {
constexpr char16_t kSource[] = u"YCOMClassFactory";
constexpr DWORD kContext = CLSCTX_ALL;
}  // namespace

CYCOMClassFactory::~CYCOMClassFactory() { Clear(); }

ComPtr<IUnknown> CYCOMClassFactory::CreateObject(REFCLSID clsid, const char16_t* name) {
  return YErrorFrame(VEL_FRAME(u"CYCOMClassFactory::CreateObject"), [&] {
    auto found = m_classObjects.find(clsid);
    if (found == m_classObjects.end()) {
      IClassFactory* factory = nullptr;
      // A class object that cannot be had is not reported here: the plain
      // creation below reports the failure with its details.
      if (SUCCEEDED(CoGetClassObject(clsid, kContext, nullptr, IID_IClassFactory, reinterpret_cast<void**>(&factory))) &&
          factory != nullptr) {
        found = m_classObjects.emplace(clsid, ComPtr<IClassFactory>(factory, false)).first;
      }
    }
    if (found != m_classObjects.end()) {
      IUnknown* object = nullptr;
      if (SUCCEEDED(found->second->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&object))) &&
          object != nullptr) {
        return ComPtr<IUnknown>(object, false);
      }
      if (object != nullptr) object->Release();
    }
    return CYCOMUtils::CreateObject(clsid, name, kContext);
  });
}

// Releasing the class objects cannot throw, so no frame.
void CYCOMClassFactory::Clear() noexcept { m_classObjects.clear(); }
