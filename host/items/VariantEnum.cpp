// The IEnumVARIANT handed out by _NewEnum: a fixed snapshot and a position.
#include "host/items/ItemModel.h"

namespace velitems {

ComPtr<IEnumVARIANT> CVariantEnum::Create(std::shared_ptr<const std::vector<_variant_t>> elements, ULONG position) {
  CVariantEnum* impl = nullptr;
  ComPtr<IEnumVARIANT> enumerator = CreateObject<CVariantEnum, IEnumVARIANT>(&impl);
  impl->elements_ = std::move(elements);
  impl->position_ = position;
  return enumerator;
}

HRESULT CVariantEnum::Next(ULONG celt, VARIANT* rgVar, ULONG* pCeltFetched) {
  if (pCeltFetched) *pCeltFetched = 0;
  if (celt == 0) return S_OK;
  if (!rgVar || (celt > 1 && !pCeltFetched)) return E_POINTER;
  for (ULONG i = 0; i < celt; ++i) VariantInit(&rgVar[i]);
  std::lock_guard lock(mutex_);
  ULONG fetched = 0;
  while (fetched < celt && position_ < elements_->size()) {
    HRESULT hr = VariantCopy(&rgVar[fetched], &(*elements_)[position_]);
    if (FAILED(hr)) {
      for (ULONG i = 0; i < fetched; ++i) VariantClear(&rgVar[i]);
      return hr;
    }
    ++fetched;
    ++position_;
  }
  if (pCeltFetched) *pCeltFetched = fetched;
  return fetched == celt ? S_OK : S_FALSE;
}

HRESULT CVariantEnum::Skip(ULONG celt) {
  std::lock_guard lock(mutex_);
  const size_t left = elements_->size() - position_;
  if (celt > left) {
    position_ = static_cast<ULONG>(elements_->size());
    return S_FALSE;
  }
  position_ += celt;
  return S_OK;
}

HRESULT CVariantEnum::Reset() {
  std::lock_guard lock(mutex_);
  position_ = 0;
  return S_OK;
}

HRESULT CVariantEnum::Clone(IEnumVARIANT** ppEnum) {
  if (!ppEnum) return E_POINTER;
  *ppEnum = nullptr;
  ULONG position;
  {
    std::lock_guard lock(mutex_);
    position = position_;
  }
  try {
    *ppEnum = Create(elements_, position).Detach();
  } catch (const ItemError& e) {
    return e.hr;
  } catch (...) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

}  // namespace velitems
