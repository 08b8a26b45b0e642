// CVelItemAudio: the audio plugin (VelItemPluginsLib::VelItemAudio). It keeps
// a video plugin, created through COM when it is constructed, for the
// extensions both plugins claim.
//
// Thread safety: any thread ("Free"); the video plugin pointer is set in
// FinalConstruct and released in FinalRelease only.
#pragma once

#include "module/VelItemPluginsLib.h"
#include "platform/com/comdef.h"
#include "platform/com/comobject.h"
#include "ylib/YCOMClassFactory.h"

class CVelItemAudio : public vel::com::Implements<vel::com::DispatchImpl<IVelItemPlugin>, IVelItemAudio,
                                                  vel::com::SupportErrorInfoFor<IVelItemPlugin>> {
 public:
  HRESULT FinalConstruct();
  void FinalRelease();

  // IVelItemPlugin
  HRESULT QueryCapability(LONG nCapability, VARIANT_BOOL* pbRetVal) override;
  HRESULT get_Name(BSTR* pVal) override;
  HRESULT get_CustomStoragePath(BSTR* pVal) override;
  HRESULT ValidateItem(IVelItem* pItem, LONG* pStatus) override;
  HRESULT ReadMetadata(BSTR strFilePath, IVelItem** ppiRetVal) override;
  HRESULT WriteMetadata(BSTR strFilePath, IVelItem* pItem) override;
  HRESULT GetItemPath(IVelItem* pItem, BSTR* pVal) override;

  // IVelItemAudio
  HRESULT ReadPicture(BSTR strFilePath, VARIANT* varPicture) override;
  HRESULT WritePicture(BSTR strFilePath, VARIANT varPicture) override;

 private:
  CYCOMClassFactory m_classFactory;
  ComPtr<IVelItemPlugin> m_videoPlugin;
};
