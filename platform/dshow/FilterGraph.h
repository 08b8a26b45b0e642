// The filter graph (CLSID_FilterGraph) on FFmpeg: renders a file by finding a
// decoder for each of its streams, and reports the rendered file's duration
// and video figures. See dshow.h for what each method answers.
//
// The graph keeps the figures of the last file it rendered, nothing else: no
// FFmpeg context outlives a call and no filter is ever run.
//
// Thread safety: the graph's state is guarded by its own mutex; graphs are
// independent of each other.
#pragma once

#include <mutex>
#include <optional>

#include "platform/dshow/InterfaceBases.h"
#include "platform/dshow/MediaInfo.h"

namespace vel::dshow {

class FilterGraph : public vel::com::Implements<IGraphBuilder, IMediaSeeking, IBasicVideo> {
 public:
  // IGraphBuilder
  STDMETHOD(RenderFile)(LPCWSTR lpcwstrFile, LPCWSTR lpcwstrPlayList) override;
  STDMETHOD(AddSourceFilter)(LPCWSTR lpcwstrFileName, LPCWSTR lpcwstrFilterName, IBaseFilter** ppFilter) override;
  STDMETHOD(Connect)(IPin*, IPin*) override { return E_NOTIMPL; }
  STDMETHOD(Render)(IPin*) override { return E_NOTIMPL; }
  STDMETHOD(SetLogFile)(ULONG_PTR) override { return E_NOTIMPL; }
  STDMETHOD(Abort)() override { return E_NOTIMPL; }
  STDMETHOD(ShouldOperationContinue)() override { return E_NOTIMPL; }
  // IFilterGraph
  STDMETHOD(AddFilter)(IBaseFilter*, LPCWSTR) override { return E_NOTIMPL; }
  STDMETHOD(RemoveFilter)(IBaseFilter*) override { return E_NOTIMPL; }
  STDMETHOD(EnumFilters)(IEnumFilters**) override { return E_NOTIMPL; }
  STDMETHOD(FindFilterByName)(LPCWSTR, IBaseFilter**) override { return E_NOTIMPL; }
  STDMETHOD(ConnectDirect)(IPin*, IPin*, const AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
  STDMETHOD(Reconnect)(IPin*) override { return E_NOTIMPL; }
  STDMETHOD(Disconnect)(IPin*) override { return E_NOTIMPL; }
  STDMETHOD(SetDefaultSyncSource)() override { return E_NOTIMPL; }

  // IMediaSeeking
  STDMETHOD(IsFormatSupported)(const GUID* pFormat) override;
  STDMETHOD(QueryPreferredFormat)(GUID* pFormat) override;
  STDMETHOD(GetTimeFormat)(GUID* pFormat) override;
  STDMETHOD(IsUsingTimeFormat)(const GUID* pFormat) override;
  STDMETHOD(SetTimeFormat)(const GUID* pFormat) override;
  STDMETHOD(GetDuration)(LONGLONG* pDuration) override;
  STDMETHOD(GetCapabilities)(DWORD*) override { return E_NOTIMPL; }
  STDMETHOD(CheckCapabilities)(DWORD*) override { return E_NOTIMPL; }
  STDMETHOD(GetStopPosition)(LONGLONG*) override { return E_NOTIMPL; }
  STDMETHOD(GetCurrentPosition)(LONGLONG*) override { return E_NOTIMPL; }
  STDMETHOD(ConvertTimeFormat)(LONGLONG*, const GUID*, LONGLONG, const GUID*) override { return E_NOTIMPL; }
  STDMETHOD(SetPositions)(LONGLONG*, DWORD, LONGLONG*, DWORD) override { return E_NOTIMPL; }
  STDMETHOD(GetPositions)(LONGLONG*, LONGLONG*) override { return E_NOTIMPL; }
  STDMETHOD(GetAvailable)(LONGLONG*, LONGLONG*) override { return E_NOTIMPL; }
  STDMETHOD(SetRate)(double) override { return E_NOTIMPL; }
  STDMETHOD(GetRate)(double*) override { return E_NOTIMPL; }
  STDMETHOD(GetPreroll)(LONGLONG*) override { return E_NOTIMPL; }

  // IBasicVideo
  STDMETHOD(get_AvgTimePerFrame)(REFTIME* pAvgTimePerFrame) override;
  STDMETHOD(get_BitRate)(LONG* pBitRate) override;
  STDMETHOD(get_VideoWidth)(LONG* pVideoWidth) override;
  STDMETHOD(get_VideoHeight)(LONG* pVideoHeight) override;
  STDMETHOD(get_BitErrorRate)(LONG*) override { return E_NOTIMPL; }
  STDMETHOD(put_SourceLeft)(LONG) override { return E_NOTIMPL; }
  STDMETHOD(get_SourceLeft)(LONG*) override { return E_NOTIMPL; }
  STDMETHOD(put_SourceWidth)(LONG) override { return E_NOTIMPL; }
  STDMETHOD(get_SourceWidth)(LONG*) override { return E_NOTIMPL; }
  STDMETHOD(put_SourceTop)(LONG) override { return E_NOTIMPL; }
  STDMETHOD(get_SourceTop)(LONG*) override { return E_NOTIMPL; }
  STDMETHOD(put_SourceHeight)(LONG) override { return E_NOTIMPL; }
  STDMETHOD(get_SourceHeight)(LONG*) override { return E_NOTIMPL; }
  STDMETHOD(put_DestinationLeft)(LONG) override { return E_NOTIMPL; }
  STDMETHOD(get_DestinationLeft)(LONG*) override { return E_NOTIMPL; }
  STDMETHOD(put_DestinationWidth)(LONG) override { return E_NOTIMPL; }
  STDMETHOD(get_DestinationWidth)(LONG*) override { return E_NOTIMPL; }
  STDMETHOD(put_DestinationTop)(LONG) override { return E_NOTIMPL; }
  STDMETHOD(get_DestinationTop)(LONG*) override { return E_NOTIMPL; }
  STDMETHOD(put_DestinationHeight)(LONG) override { return E_NOTIMPL; }
  STDMETHOD(get_DestinationHeight)(LONG*) override { return E_NOTIMPL; }
  STDMETHOD(SetSourcePosition)(LONG, LONG, LONG, LONG) override { return E_NOTIMPL; }
  STDMETHOD(GetSourcePosition)(LONG*, LONG*, LONG*, LONG*) override { return E_NOTIMPL; }
  STDMETHOD(SetDefaultSourcePosition)() override { return E_NOTIMPL; }
  STDMETHOD(SetDestinationPosition)(LONG, LONG, LONG, LONG) override { return E_NOTIMPL; }
  STDMETHOD(GetDestinationPosition)(LONG*, LONG*, LONG*, LONG*) override { return E_NOTIMPL; }
  STDMETHOD(SetDefaultDestinationPosition)() override { return E_NOTIMPL; }
  STDMETHOD(GetVideoSize)(LONG*, LONG*) override { return E_NOTIMPL; }
  STDMETHOD(GetVideoPaletteEntries)(LONG, LONG, LONG*, LONG*) override { return E_NOTIMPL; }
  STDMETHOD(GetCurrentImage)(LONG*, LONG*) override { return E_NOTIMPL; }
  STDMETHOD(IsUsingDefaultSource)() override { return E_NOTIMPL; }
  STDMETHOD(IsUsingDefaultDestination)() override { return E_NOTIMPL; }
  // IDispatch of IBasicVideo: no type information, no late binding.
  STDMETHOD(GetTypeInfoCount)(UINT* pctinfo) override;
  STDMETHOD(GetTypeInfo)(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  STDMETHOD(GetIDsOfNames)(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  STDMETHOD(Invoke)(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    return E_NOTIMPL;
  }

 private:
  bool SupportsFormat(const GUID& format) const;  // mutex_ held
  // Reads one figure of the rendered video into *out (0 on failure).
  template <class T, class Get>
  HRESULT VideoFigure(T* out, Get get);

  mutable std::mutex mutex_;
  std::optional<MediaInfo> rendered_;
  GUID timeFormat_ = TIME_FORMAT_MEDIA_TIME;
};

}  // namespace vel::dshow
