// The pins of a filter, in order; each pin handed out carries a reference.
//
// Thread safety: the position is guarded; the pin list never changes after
// Initialize.
#pragma once

#include <mutex>
#include <vector>

#include "platform/com/comdef.h"
#include "platform/dshow/InterfaceBases.h"

namespace vel::dshow {

class PinEnumerator : public vel::com::Implements<IEnumPins> {
 public:
  static constexpr bool kAggregatable = false;
  void Initialize(std::vector<ComPtr<IPin>> pins) { pins_ = std::move(pins); }

  STDMETHOD(Next)(ULONG count, IPin** pins, ULONG* fetched) override;
  STDMETHOD(Skip)(ULONG count) override;
  STDMETHOD(Reset)() override;
  STDMETHOD(Clone)(IEnumPins** ppEnum) override { return E_NOTIMPL; }

 private:
  std::vector<ComPtr<IPin>> pins_;
  std::mutex mutex_;
  size_t position_ = 0;
};

}  // namespace vel::dshow
