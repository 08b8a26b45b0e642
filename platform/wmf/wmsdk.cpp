#include "platform/wmf/wmsdk.h"

extern "C" {
const IID IID_IWMMetadataEditor = {0x96406BD9, 0x2B2B, 0x11D3, {0xB3, 0x6B, 0x00, 0xC0, 0x4F, 0x61, 0x08, 0xFF}};
const IID IID_IWMSyncReader = {0x9397F121, 0x7705, 0x4DC9, {0xB0, 0x49, 0x98, 0xB6, 0x98, 0x18, 0x84, 0x14}};
}

// No runtime is installed with this build: nothing can be created.
HRESULT WMCreateEditor(IWMMetadataEditor** ppEditor) {
  if (ppEditor == nullptr) return E_POINTER;
  *ppEditor = nullptr;
  return E_NOTIMPL;
}

HRESULT WMCreateSyncReader(IUnknown* pUnkCert, DWORD dwRights, IWMSyncReader** ppSyncReader) {
  if (ppSyncReader == nullptr) return E_POINTER;
  *ppSyncReader = nullptr;
  return E_NOTIMPL;
}
