#include "platform/dshow/PinEnumerator.h"

namespace vel::dshow {

HRESULT PinEnumerator::Next(ULONG count, IPin** pins, ULONG* fetched) {
  if (!pins) return E_POINTER;
  if (!fetched && count != 1) return E_INVALIDARG;
  std::lock_guard lock(mutex_);
  ULONG n = 0;
  while (n < count && position_ < pins_.size()) {
    pins[n] = pins_[position_++];
    pins[n++]->AddRef();
  }
  if (fetched) *fetched = n;
  return n == count ? S_OK : S_FALSE;
}

HRESULT PinEnumerator::Skip(ULONG count) {
  std::lock_guard lock(mutex_);
  const size_t left = pins_.size() - position_;
  position_ += count < left ? count : left;
  return count <= left ? S_OK : S_FALSE;
}

HRESULT PinEnumerator::Reset() {
  std::lock_guard lock(mutex_);
  position_ = 0;
  return S_OK;
}

}  // namespace vel::dshow
