#include "platform/dshow/MediaTypeEnumerator.h"

#include <cstring>

namespace vel::dshow {

HRESULT MediaTypeEnumerator::Next(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched) {
  if (!types) return E_POINTER;
  if (!fetched && count != 1) return E_INVALIDARG;
  std::lock_guard lock(mutex_);
  ULONG n = 0;
  while (n < count && position_ < kCount) {
    auto* mt = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
    if (!mt) {
      while (n > 0) DeleteMediaType(types[--n]);
      if (fetched) *fetched = 0;
      return E_OUTOFMEMORY;
    }
    std::memset(mt, 0, sizeof *mt);
    mt->majortype = majortype_;
    types[n++] = mt;
    ++position_;
  }
  if (fetched) *fetched = n;
  return n == count ? S_OK : S_FALSE;
}

HRESULT MediaTypeEnumerator::Skip(ULONG count) {
  std::lock_guard lock(mutex_);
  const ULONG left = kCount - position_;
  position_ += count < left ? count : left;
  return count <= left ? S_OK : S_FALSE;
}

HRESULT MediaTypeEnumerator::Reset() {
  std::lock_guard lock(mutex_);
  position_ = 0;
  return S_OK;
}

}  // namespace vel::dshow
