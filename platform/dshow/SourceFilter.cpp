#include "platform/dshow/SourceFilter.h"

#include <new>

#include "platform/dshow/OutputPin.h"
#include "platform/dshow/PinEnumerator.h"

namespace vel::dshow {

namespace {

const GUID& MajorType(StreamKind kind) {
  switch (kind) {
    case StreamKind::kVideo: return MEDIATYPE_Video;
    case StreamKind::kAudio: return MEDIATYPE_Audio;
    default: return MEDIATYPE_Stream;
  }
}

}  // namespace

HRESULT SourceFilter::Initialize(const MediaInfo& info) {
  for (const StreamInfo& stream : info.streams) {
    ComPtr<IPin> pin;
    HRESULT hr = vel::com::CreateComObject<OutputPin>(&pin);
    if (FAILED(hr)) return hr;
    static_cast<OutputPin*>(pin.get())->Initialize(MajorType(stream.kind));
    pins_.push_back(std::move(pin));
  }
  return S_OK;
}

HRESULT SourceFilter::EnumPins(IEnumPins** ppEnum) {
  if (!ppEnum) return E_POINTER;
  *ppEnum = nullptr;
  ComPtr<IEnumPins> pins;
  HRESULT hr = vel::com::CreateComObject<PinEnumerator>(&pins);
  if (FAILED(hr)) return hr;
  try {
    static_cast<PinEnumerator*>(pins.get())->Initialize(pins_);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  *ppEnum = pins.Detach();
  return S_OK;
}

}  // namespace vel::dshow
