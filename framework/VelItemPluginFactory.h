// CVelItemPluginFactory: the host's entry point (VelItemPluginsLib::
// VelItemPluginFactory), choosing the plugin for a MIME type, a file or an
// item from the plugin configuration in the registry.
//
// This build answers the contract (interfaces, error info) but does not yet
// choose plugins: every method fails with a "Not implemented." report.
//
// Thread safety: any thread ("Free"); the object keeps no state yet.
#pragma once

#include "module/VelItemPluginsLib.h"
#include "platform/com/comobject.h"

class CVelItemPluginFactory
    : public vel::com::Implements<vel::com::DispatchImpl<IVelItemPluginFactory>,
                                  vel::com::SupportErrorInfoFor<IVelItemPluginFactory>> {
 public:
  HRESULT CreateWithMimeType(BSTR strMimeType, IVelItemPlugin** ppiRetVal) override;
  HRESULT CreateWithFile(BSTR strFilePath, IVelItemPlugin** ppiRetVal) override;
  HRESULT CreateWithItem(IVelItem* piItem, IVelItemPlugin** ppiRetVal) override;
  HRESULT GetRegisteredMimeTypes(VARIANT* pvarMIMEs) override;
  HRESULT IsRegisteredMimeType(BSTR strMimeType, VARIANT_BOOL* pbRetVal) override;
};
