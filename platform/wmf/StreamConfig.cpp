#include "platform/wmf/StreamConfig.h"

#include <cstring>

#include "platform/base/ByteOrder.h"

namespace vel::wmf {

HRESULT StreamConfig::Create(const StreamInfo& info, IWMStreamConfig** out) {
  HRESULT hr = com::CreateComObject<StreamConfig>(out);
  if (SUCCEEDED(hr)) static_cast<StreamConfig*>(*out)->info_ = info;
  return hr;
}

HRESULT StreamConfig::GetStreamType(GUID* pguidStreamType) {
  if (pguidStreamType == nullptr) return E_INVALIDARG;
  *pguidStreamType = info_.type;
  return S_OK;
}

HRESULT StreamConfig::GetStreamNumber(WORD* pwStreamNum) {
  if (pwStreamNum == nullptr) return E_INVALIDARG;
  *pwStreamNum = info_.number;
  return S_OK;
}

HRESULT StreamConfig::GetBitrate(DWORD* pdwBitrate) {
  if (pdwBitrate == nullptr) return E_INVALIDARG;
  bool audio = info_.type == WMMEDIATYPE_Audio && info_.format.size() >= sizeof(WAVEFORMATEX);
  *pdwBitrate = audio ? LoadU32Unchecked(info_.format.data() + 8, ByteOrder::kLittle) * 8 : 0;
  return S_OK;
}

HRESULT StreamConfig::GetMediaType(WM_MEDIA_TYPE* pType, DWORD* pcbType) {
  if (pcbType == nullptr) return E_INVALIDARG;
  bool wave = info_.type == WMMEDIATYPE_Audio && info_.format.size() >= sizeof(WAVEFORMATEX);
  std::size_t formatSize = wave ? info_.format.size() : 0;
  DWORD needed = static_cast<DWORD>(sizeof(WM_MEDIA_TYPE) + formatSize);
  if (pType == nullptr) {
    *pcbType = needed;
    return S_OK;
  }
  if (*pcbType < needed) {
    *pcbType = needed;
    return ASF_E_BUFFERTOOSMALL;
  }
  WM_MEDIA_TYPE type{};
  type.majortype = info_.type;
  if (wave) {
    type.subtype = WMMEDIASUBTYPE_PCM;
    type.subtype.Data1 = LoadU16Unchecked(info_.format.data(), ByteOrder::kLittle);
    type.bFixedSizeSamples = TRUE;
    type.lSampleSize = LoadU16Unchecked(info_.format.data() + 12, ByteOrder::kLittle);
    type.formattype = WMFORMAT_WaveFormatEx;
    type.cbFormat = static_cast<ULONG>(formatSize);
    auto* format = reinterpret_cast<BYTE*>(pType) + sizeof(WM_MEDIA_TYPE);
    std::memcpy(format, info_.format.data(), formatSize);
    type.pbFormat = format;
  }
  *pType = type;
  *pcbType = needed;
  return S_OK;
}

}  // namespace vel::wmf
