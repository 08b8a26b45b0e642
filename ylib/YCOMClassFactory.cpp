#include "ylib/YCOMClassFactory.h"

#include <mutex>

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
    ComPtr<IClassFactory> factory;
    {
      std::lock_guard<std::mutex> hold(m_mutex);
      if (auto found = m_classObjects.find(clsid); found != m_classObjects.end()) factory = found->second;
    }
    if (!factory) {
      IClassFactory* fresh = nullptr;
      // A class object that cannot be had is not reported here: the plain
      // creation below reports the failure with its details.
      if (SUCCEEDED(CoGetClassObject(clsid, kContext, nullptr, IID_IClassFactory, reinterpret_cast<void**>(&fresh))) &&
          fresh != nullptr) {
        factory = ComPtr<IClassFactory>(fresh, false);
        std::lock_guard<std::mutex> hold(m_mutex);
        m_classObjects.emplace(clsid, factory);  // another thread's, if first, stays
      }
    }
    if (factory) {
      IUnknown* object = nullptr;
      if (SUCCEEDED(factory->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&object))) &&
          object != nullptr) {
        return ComPtr<IUnknown>(object, false);
      }
      if (object != nullptr) object->Release();
    }
    return CYCOMUtils::CreateObject(clsid, name, kContext);
  });
}

// Releasing the class objects cannot throw, so no frame.
void CYCOMClassFactory::Clear() noexcept {
  std::map<CLSID, ComPtr<IClassFactory>, GuidCompare> released;
  {
    std::lock_guard<std::mutex> hold(m_mutex);
    released.swap(m_classObjects);
  }
  // Released outside the lock: a class object's release may call back.
}
