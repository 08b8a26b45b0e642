#include "platform/dshow/FilterGraph.h"

#include <new>

#include "platform/com/comdef.h"
#include "platform/dshow/SourceFilter.h"

namespace vel::dshow {

namespace {

// Runs a method body; an allocation failure becomes E_OUTOFMEMORY instead of
// crossing the COM boundary.
template <class Body>
HRESULT Boundary(Body body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_FAIL;
  }
}

}  // namespace

HRESULT FilterGraph::RenderFile(LPCWSTR lpcwstrFile, LPCWSTR) {
  if (!lpcwstrFile) return E_POINTER;
  return Boundary([&] {
    MediaInfo info;
    HRESULT hr = ReadMediaInfo(lpcwstrFile, info);
    if (FAILED(hr)) return hr;
    hr = RenderResult(info);
    if (FAILED(hr)) return hr;
    std::lock_guard lock(mutex_);
    rendered_ = std::move(info);
    timeFormat_ = TIME_FORMAT_MEDIA_TIME;
    return hr;
  });
}

HRESULT FilterGraph::AddSourceFilter(LPCWSTR lpcwstrFileName, LPCWSTR, IBaseFilter** ppFilter) {
  if (!lpcwstrFileName || !ppFilter) return E_POINTER;
  *ppFilter = nullptr;
  return Boundary([&] {
    MediaInfo info;
    HRESULT hr = ReadMediaInfo(lpcwstrFileName, info);
    if (FAILED(hr)) return hr;
    ComPtr<IBaseFilter> filter;
    hr = vel::com::CreateComObject<SourceFilter>(&filter);
    if (SUCCEEDED(hr)) hr = static_cast<SourceFilter*>(filter.get())->Initialize(info);
    if (FAILED(hr)) return hr;
    *ppFilter = filter.Detach();
    return S_OK;
  });
}

bool FilterGraph::SupportsFormat(const GUID& format) const {
  if (!rendered_) return false;
  if (format == TIME_FORMAT_MEDIA_TIME) return true;
  return format == TIME_FORMAT_FRAME && rendered_->hasVideo && rendered_->frames > 0;
}

HRESULT FilterGraph::IsFormatSupported(const GUID* pFormat) {
  if (!pFormat) return E_POINTER;
  std::lock_guard lock(mutex_);
  return SupportsFormat(*pFormat) ? S_OK : S_FALSE;
}

HRESULT FilterGraph::QueryPreferredFormat(GUID* pFormat) {
  if (!pFormat) return E_POINTER;
  *pFormat = TIME_FORMAT_MEDIA_TIME;
  return S_OK;
}

HRESULT FilterGraph::GetTimeFormat(GUID* pFormat) {
  if (!pFormat) return E_POINTER;
  std::lock_guard lock(mutex_);
  *pFormat = timeFormat_;
  return S_OK;
}

HRESULT FilterGraph::IsUsingTimeFormat(const GUID* pFormat) {
  if (!pFormat) return E_POINTER;
  std::lock_guard lock(mutex_);
  return *pFormat == timeFormat_ ? S_OK : S_FALSE;
}

HRESULT FilterGraph::SetTimeFormat(const GUID* pFormat) {
  if (!pFormat) return E_POINTER;
  std::lock_guard lock(mutex_);
  if (!SupportsFormat(*pFormat)) return E_INVALIDARG;
  timeFormat_ = *pFormat;
  return S_OK;
}

HRESULT FilterGraph::GetDuration(LONGLONG* pDuration) {
  if (!pDuration) return E_POINTER;
  *pDuration = 0;
  std::lock_guard lock(mutex_);
  if (!rendered_) return E_NOTIMPL;
  const LONGLONG value = timeFormat_ == TIME_FORMAT_FRAME ? rendered_->frames : rendered_->duration;
  if (value <= 0) return E_FAIL;
  *pDuration = value;
  return S_OK;
}

template <class T, class Get>
HRESULT FilterGraph::VideoFigure(T* out, Get get) {
  if (!out) return E_POINTER;
  *out = 0;
  std::lock_guard lock(mutex_);
  if (!rendered_ || !rendered_->hasVideo) return E_NOINTERFACE;
  *out = get(*rendered_);
  return S_OK;
}

HRESULT FilterGraph::get_AvgTimePerFrame(REFTIME* pAvgTimePerFrame) {
  return VideoFigure(pAvgTimePerFrame, [](const MediaInfo& m) { return m.avgTimePerFrame; });
}
HRESULT FilterGraph::get_BitRate(LONG* pBitRate) {
  return VideoFigure(pBitRate, [](const MediaInfo& m) { return m.bitRate; });
}
HRESULT FilterGraph::get_VideoWidth(LONG* pVideoWidth) {
  return VideoFigure(pVideoWidth, [](const MediaInfo& m) { return m.width; });
}
HRESULT FilterGraph::get_VideoHeight(LONG* pVideoHeight) {
  return VideoFigure(pVideoHeight, [](const MediaInfo& m) { return m.height; });
}

HRESULT FilterGraph::GetTypeInfoCount(UINT* pctinfo) {
  if (!pctinfo) return E_POINTER;
  *pctinfo = 0;
  return S_OK;
}

}  // namespace vel::dshow
