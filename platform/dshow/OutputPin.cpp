#include "platform/dshow/OutputPin.h"

#include "platform/dshow/MediaTypeEnumerator.h"

namespace vel::dshow {

HRESULT OutputPin::QueryDirection(PIN_DIRECTION* pPinDir) {
  if (!pPinDir) return E_POINTER;
  *pPinDir = PINDIR_OUTPUT;
  return S_OK;
}

HRESULT OutputPin::EnumMediaTypes(IEnumMediaTypes** ppEnum) {
  if (!ppEnum) return E_POINTER;
  *ppEnum = nullptr;
  HRESULT hr = vel::com::CreateComObject<MediaTypeEnumerator>(ppEnum);
  if (SUCCEEDED(hr)) static_cast<MediaTypeEnumerator*>(*ppEnum)->Initialize(majortype_);
  return hr;
}

}  // namespace vel::dshow
