// CYCOMClassFactory: object creation through a cache of class objects, one
// lookup (CoGetClassObject) per CLSID until Clear. When no class object can be
// had, or it fails to create, CYCOMUtils::CreateObject makes one more attempt
// and reports its failure.
//
// Thread safety: none of its own; an instance belongs to one owner, which
// serialises its calls.
#pragma once

#include <map>

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
  std::map<CLSID, ComPtr<IClassFactory>, GuidCompare> m_classObjects;
};
