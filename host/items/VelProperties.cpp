// VelProperties: the property set of one item, a view of the item's data.
#include "host/items/ItemModel.h"

namespace velitems {

namespace {

constexpr char16_t kSource[] = u"VelItemsLib.VelItem.1";

HRESULT Run(auto&& body) noexcept { return Boundary(IID_IVelProperties, kSource, body); }

std::u16string KeyText(BSTR name, BSTR ns) { return u"{" + Text(ns) + u"}" + Text(name); }

}  // namespace

HRESULT CVelProperties::get_Item(LONG index, IVelProperty** ppVal) {
  return Run([&] {
    if (!ppVal) return E_POINTER;
    *ppVal = nullptr;
    Property copy;
    {
      std::lock_guard lock(data_->mutex);
      const auto& props = data_->content.properties;
      if (index < 0 || static_cast<size_t>(index) >= props.size()) Fail(DISP_E_BADINDEX, u"No property at this position.");
      copy = props[static_cast<size_t>(index)];
    }
    *ppVal = CVelProperty::Create(copy, index).Detach();
    return S_OK;
  });
}

HRESULT CVelProperties::IndexOf(BSTR name, BSTR ns, LONG* pIndex) {
  return Run([&] {
    if (!pIndex) return E_POINTER;
    std::lock_guard lock(data_->mutex);
    *pIndex = FindProperty(data_->content.properties, Text(name), Text(ns));
    return S_OK;
  });
}

HRESULT CVelProperties::Clear() {
  return Run([&] {
    std::vector<Property> old;
    {
      std::lock_guard lock(data_->mutex);
      old.swap(data_->content.properties);
    }
    return S_OK;
  });
}

HRESULT CVelProperties::get_Value(BSTR name, BSTR ns, VARIANT* pVal) {
  return Run([&] {
    if (!pVal) return E_POINTER;
    VariantInit(pVal);
    _variant_t value;
    {
      std::lock_guard lock(data_->mutex);
      const auto& props = data_->content.properties;
      long at = FindProperty(props, Text(name), Text(ns));
      if (at < 0) Fail(E_INVALIDARG, u"The item has no property " + KeyText(name, ns) + u".");
      value = props[static_cast<size_t>(at)].value;
    }
    *pVal = value.Detach();
    return S_OK;
  });
}

HRESULT CVelProperties::put_Value(BSTR name, BSTR ns, VARIANT newVal) {
  return Run([&] {
    CheckName(name);
    _variant_t value = CopyValue(newVal);
    std::lock_guard lock(data_->mutex);
    SetProperty(data_->content.properties, Text(name), Text(ns), std::move(value));
    return S_OK;
  });
}

HRESULT CVelProperties::get__NewEnum(IUnknown** ppEnum) {
  return Run([&] {
    if (!ppEnum) return E_POINTER;
    *ppEnum = nullptr;
    std::vector<Property> snapshot;
    {
      std::lock_guard lock(data_->mutex);
      snapshot = data_->content.properties;
    }
    auto elements = std::make_shared<std::vector<_variant_t>>();
    elements->reserve(snapshot.size());
    for (size_t i = 0; i < snapshot.size(); ++i) {
      ComPtr<IVelProperty> prop = CVelProperty::Create(snapshot[i], static_cast<long>(i));
      elements->emplace_back(static_cast<IDispatch*>(prop.get()));
    }
    ComPtr<IEnumVARIANT> enumerator = CVariantEnum::Create(std::move(elements));
    *ppEnum = enumerator.Detach();
    return S_OK;
  });
}

HRESULT CVelProperties::Add(VARIANT value, BSTR name, BSTR ns) {
  return Run([&] {
    CheckName(name);
    // A key already present keeps its place and takes the new value, so an
    // item never holds one key twice.
    _variant_t copy = CopyValue(value);
    std::lock_guard lock(data_->mutex);
    SetProperty(data_->content.properties, Text(name), Text(ns), std::move(copy));
    return S_OK;
  });
}

HRESULT CVelProperties::Remove(BSTR name, BSTR ns) {
  return Run([&] {
    Property old;
    {
      std::lock_guard lock(data_->mutex);
      auto& props = data_->content.properties;
      long at = FindProperty(props, Text(name), Text(ns));
      if (at < 0) return S_OK;
      old = std::move(props[static_cast<size_t>(at)]);
      props.erase(props.begin() + at);
    }
    return S_OK;
  });
}

HRESULT CVelProperties::get_Count(LONG* pCount) {
  return Run([&] {
    if (!pCount) return E_POINTER;
    std::lock_guard lock(data_->mutex);
    *pCount = static_cast<LONG>(data_->content.properties.size());
    return S_OK;
  });
}

HRESULT CVelProperties::Find(BSTR name, BSTR ns, IVelProperty** ppVal) {
  return Run([&] {
    if (!ppVal) return E_POINTER;
    *ppVal = nullptr;
    Property copy;
    long at;
    {
      std::lock_guard lock(data_->mutex);
      const auto& props = data_->content.properties;
      at = FindProperty(props, Text(name), Text(ns));
      if (at < 0) return S_FALSE;
      copy = props[static_cast<size_t>(at)];
    }
    *ppVal = CVelProperty::Create(copy, at).Detach();
    return S_OK;
  });
}

HRESULT CVelProperties::Exists(BSTR name, BSTR ns, VARIANT_BOOL* pExists) {
  return Run([&] {
    if (!pExists) return E_POINTER;
    std::lock_guard lock(data_->mutex);
    *pExists = FindProperty(data_->content.properties, Text(name), Text(ns)) >= 0 ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  });
}

}  // namespace velitems
