#include "platform/wmf/SyncReader.h"

#include "platform/wmf/Container.h"
#include "platform/wmf/StreamConfig.h"

namespace vel::wmf {

HRESULT SyncReader::Open(const WCHAR* pwszFilename) {
  if (pwszFilename == nullptr || *pwszFilename == 0) return E_INVALIDARG;
  if (open_) return NS_E_INVALID_REQUEST;
  std::u16string path;
  for (const WCHAR* p = pwszFilename; *p != 0; ++p) path.push_back(*p);
  std::unique_ptr<Container> container;
  HRESULT hr = OpenContainer(path, container);
  if (FAILED(hr)) return hr;
  streams_ = container->Streams();
  open_ = true;
  return S_OK;
}

HRESULT SyncReader::Close() {
  if (!open_) return NS_E_INVALID_REQUEST;
  open_ = false;
  streams_.clear();
  return S_OK;
}

HRESULT SyncReader::GetVersion(WMT_VERSION* pdwVersion) {
  if (pdwVersion == nullptr) return E_INVALIDARG;
  *pdwVersion = WMT_VER_9_0;
  return S_OK;
}

HRESULT SyncReader::GetStreamCount(DWORD* pcStreams) {
  if (pcStreams == nullptr) return E_INVALIDARG;
  if (!open_) return NS_E_INVALID_REQUEST;
  *pcStreams = static_cast<DWORD>(streams_.size());
  return S_OK;
}

HRESULT SyncReader::GetStream(DWORD dwStreamIndex, IWMStreamConfig** ppConfig) {
  if (ppConfig == nullptr) return E_POINTER;
  *ppConfig = nullptr;
  if (!open_) return NS_E_INVALID_REQUEST;
  if (dwStreamIndex >= streams_.size()) return E_INVALIDARG;
  return StreamConfig::Create(streams_[dwStreamIndex], ppConfig);
}

HRESULT SyncReader::GetStreamByNumber(WORD wStreamNum, IWMStreamConfig** ppConfig) {
  if (ppConfig == nullptr) return E_POINTER;
  *ppConfig = nullptr;
  if (!open_) return NS_E_INVALID_REQUEST;
  for (const StreamInfo& info : streams_)
    if (info.number == wStreamNum) return StreamConfig::Create(info, ppConfig);
  return NS_E_INVALID_STREAM;
}

}  // namespace vel::wmf
