// An output pin of the source filter: one stream of the file, offering the
// stream's major type (MEDIATYPE_Video, MEDIATYPE_Audio or MEDIATYPE_Stream).
// Pins are never connected: the graph reads figures and never runs.
//
// Thread safety: immutable after Initialize.
#pragma once

#include "platform/dshow/InterfaceBases.h"

namespace vel::dshow {

class OutputPin : public vel::com::Implements<IPin> {
 public:
  static constexpr bool kAggregatable = false;
  void Initialize(const GUID& majortype) { majortype_ = majortype; }

  STDMETHOD(QueryDirection)(PIN_DIRECTION* pPinDir) override;
  STDMETHOD(EnumMediaTypes)(IEnumMediaTypes** ppEnum) override;

  STDMETHOD(Connect)(IPin*, const AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
  STDMETHOD(ReceiveConnection)(IPin*, const AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
  STDMETHOD(Disconnect)() override { return E_NOTIMPL; }
  STDMETHOD(ConnectedTo)(IPin**) override { return E_NOTIMPL; }
  STDMETHOD(ConnectionMediaType)(AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
  STDMETHOD(QueryPinInfo)(PIN_INFO*) override { return E_NOTIMPL; }
  STDMETHOD(QueryId)(LPWSTR*) override { return E_NOTIMPL; }
  STDMETHOD(QueryAccept)(const AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
  STDMETHOD(QueryInternalConnections)(IPin**, ULONG*) override { return E_NOTIMPL; }
  STDMETHOD(EndOfStream)() override { return E_NOTIMPL; }
  STDMETHOD(BeginFlush)() override { return E_NOTIMPL; }
  STDMETHOD(EndFlush)() override { return E_NOTIMPL; }
  STDMETHOD(NewSegment)(REFERENCE_TIME, REFERENCE_TIME, double) override { return E_NOTIMPL; }

 private:
  GUID majortype_{};
};

}  // namespace vel::dshow
