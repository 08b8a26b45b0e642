#include "platform/wmf/wmsdk.h"

#include <cstdlib>
#include <cstring>

#include "platform/wmf/Container.h"
#include "platform/wmf/MetadataEditor.h"
#include "platform/wmf/SyncReader.h"

extern "C" {
const IID IID_IWMMetadataEditor = {0x96406BD9, 0x2B2B, 0x11D3, {0xB3, 0x6B, 0x00, 0xC0, 0x4F, 0x61, 0x08, 0xFF}};
const IID IID_IWMMetadataEditor2 = {0x203CFFE3, 0x2E18, 0x4FDF, {0xB5, 0x9D, 0x6E, 0x71, 0x53, 0x05, 0x34, 0xCF}};
const IID IID_IWMHeaderInfo = {0x96406BDA, 0x2B2B, 0x11D3, {0xB3, 0x6B, 0x00, 0xC0, 0x4F, 0x61, 0x08, 0xFF}};
const IID IID_IWMHeaderInfo2 = {0x15CF9781, 0x454E, 0x482E, {0xB3, 0x93, 0x85, 0xFA, 0xE4, 0x87, 0xA8, 0x10}};
const IID IID_IWMHeaderInfo3 = {0x15CC68E3, 0x27CC, 0x4ECD, {0xB2, 0x22, 0x3F, 0x5D, 0x02, 0xD8, 0x0B, 0xD5}};
const IID IID_IWMLanguageList = {0xDF683F00, 0x2D49, 0x4D8E, {0x92, 0xB7, 0xFB, 0x19, 0xF6, 0xA0, 0xDC, 0x57}};
const IID IID_IWMDRMEditor = {0xFF130EBC, 0xA6C3, 0x42A6, {0xB4, 0x01, 0xC3, 0x38, 0x2C, 0x3E, 0x08, 0xB3}};
const IID IID_IWMSyncReader = {0x9397F121, 0x7705, 0x4DC9, {0xB0, 0x49, 0x98, 0xB6, 0x98, 0x18, 0x84, 0x14}};
const IID IID_IWMProfile = {0x96406BDB, 0x2B2B, 0x11D3, {0xB3, 0x6B, 0x00, 0xC0, 0x4F, 0x61, 0x08, 0xFF}};
const IID IID_IWMStreamConfig = {0x96406BDC, 0x2B2B, 0x11D3, {0xB3, 0x6B, 0x00, 0xC0, 0x4F, 0x61, 0x08, 0xFF}};
const IID IID_IWMMediaProps = {0x96406BCE, 0x2B2B, 0x11D3, {0xB3, 0x6B, 0x00, 0xC0, 0x4F, 0x61, 0x08, 0xFF}};

// Wave-format subtypes are the format tag in the first field of one base GUID.
#define VEL_WAVE_SUBTYPE(tag) {tag, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}}
const GUID WMMEDIATYPE_Audio = VEL_WAVE_SUBTYPE(0x73647561);  // 'auds'
const GUID WMMEDIATYPE_Video = VEL_WAVE_SUBTYPE(0x73646976);  // 'vids'
const GUID WMMEDIASUBTYPE_PCM = VEL_WAVE_SUBTYPE(0x00000001);
const GUID WMMEDIASUBTYPE_MP3 = VEL_WAVE_SUBTYPE(0x00000055);
const GUID WMMEDIASUBTYPE_WMAudioV8 = VEL_WAVE_SUBTYPE(0x00000161);
const GUID WMMEDIASUBTYPE_WMAudioV9 = VEL_WAVE_SUBTYPE(0x00000162);
#undef VEL_WAVE_SUBTYPE
const GUID WMFORMAT_WaveFormatEx = {0x05589F81, 0xC356, 0x11CE, {0xBF, 0x01, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A}};
}

namespace {
// VEL_WMF_RUNTIME=absent: the system has no Windows Media runtime installed.
bool RuntimeAbsent() {
  const char* value = std::getenv("VEL_WMF_RUNTIME");
  return value != nullptr && std::strcmp(value, "absent") == 0;
}
}  // namespace

HRESULT WMCreateEditor(IWMMetadataEditor** ppEditor) {
  if (ppEditor == nullptr) return E_POINTER;
  *ppEditor = nullptr;
  if (RuntimeAbsent()) return E_NOTIMPL;
  return vel::com::CreateComObject<vel::wmf::MetadataEditor>(ppEditor);
}

HRESULT WMCreateSyncReader(IUnknown* pUnkCert, DWORD dwRights, IWMSyncReader** ppSyncReader) {
  if (ppSyncReader == nullptr) return E_POINTER;
  *ppSyncReader = nullptr;
  if (RuntimeAbsent()) return E_NOTIMPL;
  (void)pUnkCert;
  (void)dwRights;
  return vel::com::CreateComObject<vel::wmf::SyncReader>(ppSyncReader);
}

HRESULT WMIsContentProtected(const WCHAR* pwszFileName, BOOL* pfIsProtected) {
  if (pwszFileName == nullptr || pfIsProtected == nullptr) return E_INVALIDARG;
  *pfIsProtected = FALSE;
  if (RuntimeAbsent()) return E_NOTIMPL;
  std::u16string path;
  for (const WCHAR* p = pwszFileName; *p != 0; ++p) path.push_back(*p);
  std::unique_ptr<vel::wmf::Container> container;
  HRESULT hr = vel::wmf::OpenContainer(path, container);
  if (FAILED(hr)) return hr;
  *pfIsProtected = container->IsProtected() ? TRUE : FALSE;
  return *pfIsProtected ? S_OK : S_FALSE;
}
