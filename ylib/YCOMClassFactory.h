// CYCOMClassFactory: object creation through a cache of class objects, one
// lookup (CoGetClassObject) per CLSID until Clear. When no class object can be
// had, or it fails to create, CYCOMUtils::CreateObject makes one more attempt
// and reports its failure.
//
// Thread safety: CreateObject may be called from any number of threads at
// once (the cache has a lock of its own; objects are created outside it);
// Clear must not overlap other calls.
#pragma once

#include <map>
#include <mutex>

#include "platform/com/comdef.h"
#include "platform/com/types.h"

class CYCOMClassFactory {
 public:
  CYCOMClassFactory() = default;
  ~CYCOMClassFactory();  // Clear
  CYCOMClassFactory(const CYCOMClassFactory&) = delete;
  CYCOMClassFactory& operator=(const CYCOMClassFactory&) = delete;

  // name labels reports only (a ProgID, a class name or the CLSID text).
  ComPtr<IUnknown> CreateObject(REFCLSID clsid, const char16_t* name);
  // Releases every cached class object.
  void Clear() noexcept;

 private:
  std::mutex m_mutex;  // the map only
  std::map<CLSID, ComPtr<IClassFactory>, GuidCompare> m_classObjects;
};
