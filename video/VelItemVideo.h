// CVelItemVideo: the video plugin (VelItemPluginsLib::VelItemVideo).
//
// Thread safety: any thread; the object keeps no state between calls.
#pragma once

#include "contract/VelItemPluginsLib.h"
#include "platform/com/comobject.h"

class CVelItemVideo : public vel::com::Implements<vel::com::DispatchImpl<IVelItemPlugin>,
                                                  vel::com::SupportErrorInfoFor<IVelItemPlugin>> {
 public:
  HRESULT FinalConstruct() { return S_OK; }
  void FinalRelease() {}

  // IVelItemPlugin
  HRESULT QueryCapability(LONG nCapability, VARIANT_BOOL* pbRetVal) override;
  HRESULT get_Name(BSTR* pVal) override;
  HRESULT get_CustomStoragePath(BSTR* pVal) override;
  HRESULT ValidateItem(IVelItem* pItem, LONG* pStatus) override;
  HRESULT ReadMetadata(BSTR strFilePath, IVelItem** ppiRetVal) override;
  HRESULT WriteMetadata(BSTR strFilePath, IVelItem* pItem) override;
  HRESULT GetItemPath(IVelItem* pItem, BSTR* pVal) override;
};
