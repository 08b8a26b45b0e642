// The media types of an output pin: exactly one, naming the stream's major
// type. Types are handed out as the platform does (structure CoTaskMemAlloc'ed,
// no format block), for the caller's DeleteMediaType.
//
// Thread safety: the position is guarded; the major type never changes.
#pragma once

#include <mutex>

#include "platform/dshow/InterfaceBases.h"

namespace vel::dshow {

class MediaTypeEnumerator : public vel::com::Implements<IEnumMediaTypes> {
 public:
  static constexpr bool kAggregatable = false;
  void Initialize(const GUID& majortype) { majortype_ = majortype; }

  STDMETHOD(Next)(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched) override;
  STDMETHOD(Skip)(ULONG count) override;
  STDMETHOD(Reset)() override;
  STDMETHOD(Clone)(IEnumMediaTypes** ppEnum) override { return E_NOTIMPL; }

 private:
  static constexpr ULONG kCount = 1;
  GUID majortype_{};
  std::mutex mutex_;
  ULONG position_ = 0;
};

}  // namespace vel::dshow
