// VelEnum: an ordered list of items.
#include "host/items/ItemModel.h"

namespace velitems {

namespace {

constexpr char16_t kSource[] = u"VelItemsLib.VelEnum.1";

HRESULT Run(auto&& body) noexcept { return Boundary(IID_IVelEnum, kSource, body); }

const VARIANT& Deref(const VARIANT& v) noexcept {
  const VARIANT* p = &v;
  for (int depth = 0; p->vt == (VT_BYREF | VT_VARIANT) && p->pvarVal && depth < 4; ++depth) p = p->pvarVal;
  return *p;
}

bool IsMissing(const VARIANT& v) noexcept {
  return v.vt == VT_EMPTY || (v.vt == VT_ERROR && v.scode == DISP_E_PARAMNOTFOUND);
}

// An index argument: an integer of any width (also by reference).
long long IndexValue(const VARIANT& arg) {
  const VARIANT& v = Deref(arg);
  switch (v.vt & ~VT_BYREF) {
    case VT_I1: case VT_UI1: case VT_I2: case VT_UI2: case VT_I4: case VT_UI4:
    case VT_I8: case VT_UI8: case VT_INT: case VT_UINT:
      break;
    default:
      Fail(DISP_E_TYPEMISMATCH, u"An index is an integer from 0.");
  }
  VARIANT wide;
  VariantInit(&wide);
  VARIANT direct;
  VariantInit(&direct);
  HRESULT hr = VariantCopyInd(&direct, &v);
  if (SUCCEEDED(hr)) hr = VariantChangeType(&wide, &direct, 0, VT_I8);
  VariantClear(&direct);
  // VT_UI8 beyond the signed range is out of every list anyway.
  if (FAILED(hr)) Fail(DISP_E_BADINDEX, u"The index is outside the list.");
  return wide.llVal;
}

size_t CheckedIndex(long long index, size_t limit) {
  if (index < 0 || static_cast<unsigned long long>(index) >= limit) Fail(DISP_E_BADINDEX, u"The index is outside the list.");
  return static_cast<size_t>(index);
}

// An item argument: VT_UNKNOWN or VT_DISPATCH (also by reference) holding an IVelItem.
ComPtr<IVelItem> ItemValue(const VARIANT& arg) {
  const VARIANT& v = Deref(arg);
  IUnknown* unknown = nullptr;
  if (v.vt == VT_UNKNOWN || v.vt == VT_DISPATCH)
    unknown = v.punkVal;
  else if ((v.vt == (VT_BYREF | VT_UNKNOWN) || v.vt == (VT_BYREF | VT_DISPATCH)) && v.ppunkVal)
    unknown = *v.ppunkVal;
  else
    Fail(DISP_E_TYPEMISMATCH, u"An item is passed as an object.");
  if (!unknown) Fail(E_INVALIDARG, u"The item is null.");
  ComPtr<IVelItem> item;
  if (FAILED(unknown->QueryInterface(IID_IVelItem, reinterpret_cast<void**>(&item))) || !item)
    Fail(E_INVALIDARG, u"The object is not an item.");
  return item;
}

ComPtr<IUnknown> Identity(IUnknown* p) {
  ComPtr<IUnknown> id;
  if (p) p->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&id));
  return id;
}

}  // namespace

HRESULT CVelEnum::get__NewEnum(IUnknown** ppEnum) {
  return Run([&] {
    if (!ppEnum) return E_POINTER;
    *ppEnum = nullptr;
    auto elements = std::make_shared<std::vector<_variant_t>>();
    {
      std::lock_guard lock(mutex_);
      elements->reserve(items_.size());
      for (const ComPtr<IVelItem>& item : items_) elements->emplace_back(static_cast<IDispatch*>(item.get()));
    }
    *ppEnum = CVariantEnum::Create(std::move(elements)).Detach();
    return S_OK;
  });
}

HRESULT CVelEnum::Clear() {
  return Run([&] {
    std::vector<ComPtr<IVelItem>> old;
    {
      std::lock_guard lock(mutex_);
      old.swap(items_);
    }
    return S_OK;  // the items are released outside the lock
  });
}

HRESULT CVelEnum::Remove(VARIANT index) {
  return Run([&] {
    const long long at = IndexValue(index);
    ComPtr<IVelItem> old;
    {
      std::lock_guard lock(mutex_);
      const size_t i = CheckedIndex(at, items_.size());
      old = std::move(items_[i]);
      items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(i));
    }
    return S_OK;
  });
}

HRESULT CVelEnum::Item(VARIANT index, VARIANT* pItem) {
  return Run([&] {
    if (!pItem) return E_POINTER;
    VariantInit(pItem);
    const long long at = IndexValue(index);
    ComPtr<IVelItem> item;
    {
      std::lock_guard lock(mutex_);
      item = items_[CheckedIndex(at, items_.size())];
    }
    pItem->vt = VT_DISPATCH;
    pItem->pdispVal = item.Detach();
    return S_OK;
  });
}

HRESULT CVelEnum::Replace(VARIANT index, VARIANT item) {
  return Run([&] {
    const long long at = IndexValue(index);
    ComPtr<IVelItem> value = ItemValue(item);
    {
      std::lock_guard lock(mutex_);
      items_[CheckedIndex(at, items_.size())].Swap(value);
    }
    return S_OK;  // value now holds the replaced item, released here
  });
}

HRESULT CVelEnum::IndexOf(VARIANT item, LONG* pIndex) {
  return Run([&] {
    if (!pIndex) return E_POINTER;
    *pIndex = -1;
    ComPtr<IUnknown> wanted = Identity(ItemValue(item));
    std::vector<ComPtr<IVelItem>> snapshot;
    {
      std::lock_guard lock(mutex_);
      snapshot = items_;
    }
    for (size_t i = 0; i < snapshot.size(); ++i) {
      if (Identity(snapshot[i]).get() == wanted.get()) {
        *pIndex = static_cast<LONG>(i);
        break;
      }
    }
    return S_OK;
  });
}

HRESULT CVelEnum::Contains(VARIANT item, VARIANT_BOOL* pVal) {
  return Run([&] {
    if (!pVal) return E_POINTER;
    LONG index = -1;
    HRESULT hr = IndexOf(item, &index);
    if (FAILED(hr)) return hr;
    *pVal = index >= 0 ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  });
}

HRESULT CVelEnum::Add(VARIANT item, VARIANT before) {
  return Run([&] {
    ComPtr<IVelItem> value = ItemValue(item);
    const VARIANT& position = Deref(before);
    const bool append = IsMissing(position);
    const long long at = append ? -1 : IndexValue(position);
    std::lock_guard lock(mutex_);
    if (append) {
      items_.push_back(std::move(value));
    } else {
      const size_t i = CheckedIndex(at, items_.size() + 1);
      items_.insert(items_.begin() + static_cast<std::ptrdiff_t>(i), std::move(value));
    }
    return S_OK;
  });
}

HRESULT CVelEnum::Clone(IVelEnum** ppEnum) {
  return Run([&] {
    if (!ppEnum) return E_POINTER;
    *ppEnum = nullptr;
    CVelEnum* copy = nullptr;
    ComPtr<IVelEnum> list = CreateObject<CVelEnum, IVelEnum>(&copy);
    {
      std::lock_guard lock(mutex_);
      copy->items_ = items_;
    }
    *ppEnum = list.Detach();
    return S_OK;
  });
}

HRESULT CVelEnum::get_Count(LONG* pCount) {
  return Run([&] {
    if (!pCount) return E_POINTER;
    std::lock_guard lock(mutex_);
    *pCount = static_cast<LONG>(items_.size());
    return S_OK;
  });
}

}  // namespace velitems
