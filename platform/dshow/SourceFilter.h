// The source filter AddSourceFilter puts into a graph for a file: one output
// pin per stream of the file (cover pictures are no stream), in file order.
// It is never connected or run; only EnumPins is offered.
//
// Thread safety: immutable after Initialize.
#pragma once

#include <vector>

#include "platform/com/comdef.h"
#include "platform/dshow/InterfaceBases.h"
#include "platform/dshow/MediaInfo.h"

namespace vel::dshow {

class SourceFilter : public vel::com::Implements<IBaseFilter> {
 public:
  static constexpr bool kAggregatable = false;
  // Makes the pins of the file's streams.
  HRESULT Initialize(const MediaInfo& info);

  STDMETHOD(EnumPins)(IEnumPins** ppEnum) override;

  STDMETHOD(GetClassID)(CLSID*) override { return E_NOTIMPL; }
  STDMETHOD(Stop)() override { return E_NOTIMPL; }
  STDMETHOD(Pause)() override { return E_NOTIMPL; }
  STDMETHOD(Run)(REFERENCE_TIME) override { return E_NOTIMPL; }
  STDMETHOD(GetState)(DWORD, FILTER_STATE*) override { return E_NOTIMPL; }
  STDMETHOD(SetSyncSource)(IReferenceClock*) override { return E_NOTIMPL; }
  STDMETHOD(GetSyncSource)(IReferenceClock**) override { return E_NOTIMPL; }
  STDMETHOD(FindPin)(LPCWSTR, IPin**) override { return E_NOTIMPL; }
  STDMETHOD(QueryFilterInfo)(FILTER_INFO*) override { return E_NOTIMPL; }
  STDMETHOD(JoinFilterGraph)(IFilterGraph*, LPCWSTR) override { return E_NOTIMPL; }
  STDMETHOD(QueryVendorInfo)(LPWSTR*) override { return E_NOTIMPL; }

 private:
  std::vector<ComPtr<IPin>> pins_;
};

}  // namespace vel::dshow
