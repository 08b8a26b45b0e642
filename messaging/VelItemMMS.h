// CVelItemMMS: the MMS plugin (VelItemPluginsLib::VelItemMMS).
//
// Thread safety: any thread; the object keeps no state between calls.
#pragma once

#include <string>

#include "contract/VelItemPluginsLib.h"
#include "platform/com/comdef.h"
#include "platform/com/comobject.h"

class CVelItemMMS : public vel::com::Implements<vel::com::DispatchImpl<IVelItemPlugin>, IVelItemMMS,
                                                vel::com::SupportErrorInfoFor<IVelItemPlugin, IVelItemMMS>> {
 public:
  // IVelItemPlugin
  HRESULT QueryCapability(LONG nCapability, VARIANT_BOOL* pbRetVal) override;
  HRESULT get_Name(BSTR* pVal) override;
  HRESULT get_CustomStoragePath(BSTR* pVal) override;
  HRESULT ValidateItem(IVelItem* pItem, LONG* pStatus) override;
  HRESULT ReadMetadata(BSTR strFilePath, IVelItem** ppiRetVal) override;
  HRESULT WriteMetadata(BSTR strFilePath, IVelItem* pItem) override;
  HRESULT GetItemPath(IVelItem* pItem, BSTR* pVal) override;

  // IVelItemMMS
  HRESULT CreateMMS(IVelItem* pItem, IVelItem* pSenderItem, IVelEnum* spRecipientEnum, VARIANT varFileList,
                    BSTR strTempFolder, BSTR* pstrMMSFilePath) override;
  HRESULT CreateSMIL(IVelItem* pItem, BSTR strTempFolder, IUnknown** enumFiles) override;

  // A new item of class "Message" with the message's envelope; a file that
  // does not decode gives the class alone.
  static ComPtr<IVelItem> ReadMetadataImpl(const std::u16string& path);
};
