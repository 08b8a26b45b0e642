// VelItem: one item of the host's library.
#include "host/items/ItemModel.h"

namespace velitems {

namespace {

constexpr char16_t kSource[] = u"VelItemsLib.VelItem.1";

// An address in this loaded library; see IVelItemSelf.
const char kLibraryToken = 0;

HRESULT Run(auto&& body) noexcept { return Boundary(IID_IVelItem, kSource, body); }

bool IsMissing(const VARIANT& v) noexcept {
  return v.vt == VT_EMPTY || (v.vt == VT_ERROR && v.scode == DISP_E_PARAMNOTFOUND);
}

// Replaces the content of a foreign item through its public interface.
void CopyInto(IVelItem* target, const ItemContent& content) {
  ComPtr<IVelProperties> props;
  Check(target->get_Properties(&props), u"The target item has no property set.");
  if (!props) Fail(E_POINTER, u"The target item has no property set.");
  for (const Property& old : ReadProperties(props)) {
    _bstr_t name(old.name), ns(old.ns);
    Check(props->Remove(name.GetBSTR(), ns.GetBSTR()), u"A property of the target item cannot be removed.");
  }
  for (const Property& p : content.properties) {
    _bstr_t name(p.name), ns(p.ns);
    Check(props->Add(p.value, name.GetBSTR(), ns.GetBSTR()), u"A property cannot be added to the target item.");
  }
  _bstr_t itemClass(content.itemClass), label(content.label);
  Check(target->put_ItemClass(itemClass.GetBSTR()), u"The target item refuses the class.");
  Check(target->put_Label(label.GetBSTR()), u"The target item refuses the label.");
}

}  // namespace

const void* CVelItem::LibraryToken() { return &kLibraryToken; }

CVelItem* CVelItem::FromInterface(IVelItem* item) noexcept {
  if (!item) return nullptr;
  IVelItemSelf* self = nullptr;
  if (FAILED(item->QueryInterface(IID_IVelItemSelf, reinterpret_cast<void**>(&self))) || !self) return nullptr;
  const bool ours = self->LibraryToken() == &kLibraryToken;
  CVelItem* impl = ours ? static_cast<CVelItem*>(self) : nullptr;
  self->Release();  // the caller holds item, which keeps the object alive
  return impl;
}

HRESULT CVelItem::GetText(std::u16string ItemContent::*field, BSTR* pVal) {
  return Run([&] {
    if (!pVal) return E_POINTER;
    *pVal = nullptr;
    std::lock_guard lock(data_->mutex);
    *pVal = NewBstr(data_->content.*field);
    return S_OK;
  });
}

HRESULT CVelItem::PutText(std::u16string ItemContent::*field, BSTR newVal) {
  return Run([&] {
    std::u16string text = Text(newVal);
    std::lock_guard lock(data_->mutex);
    (data_->content.*field).swap(text);
    return S_OK;
  });
}

HRESULT CVelItem::get_Id(BSTR* pVal) {
  return Run([&] {
    if (!pVal) return E_POINTER;
    *pVal = nullptr;
    std::lock_guard lock(data_->mutex);
    *pVal = NewBstr(data_->id);
    return S_OK;
  });
}

HRESULT CVelItem::put_Id(BSTR newVal) {
  return Run([&] {
    std::u16string text = Text(newVal);
    std::lock_guard lock(data_->mutex);
    data_->id.swap(text);
    return S_OK;
  });
}

HRESULT CVelItem::Clear() {
  return Run([&] {
    ItemContent old;
    {
      std::lock_guard lock(data_->mutex);
      std::swap(old, data_->content);
    }
    // Values (which may hold interfaces) are released outside the lock.
    return S_OK;
  });
}

HRESULT CVelItem::get_Label(BSTR* pVal) { return GetText(&ItemContent::label, pVal); }
HRESULT CVelItem::put_Label(BSTR newVal) { return PutText(&ItemContent::label, newVal); }
HRESULT CVelItem::get_ItemClass(BSTR* pVal) { return GetText(&ItemContent::itemClass, pVal); }
HRESULT CVelItem::put_ItemClass(BSTR newVal) { return PutText(&ItemContent::itemClass, newVal); }

HRESULT CVelItem::get_Properties(IVelProperties** ppVal) {
  return Run([&] {
    if (!ppVal) return E_POINTER;
    *ppVal = nullptr;
    CVelProperties* impl = nullptr;
    ComPtr<IVelProperties> set = CreateObject<CVelProperties, IVelProperties>(&impl);
    impl->Attach(data_);
    *ppVal = set.Detach();
    return S_OK;
  });
}

HRESULT CVelItem::putref_Properties(IVelProperties* pSet) {
  return Run([&] {
    if (!pSet) return E_POINTER;
    // Read first, without our lock: the set may be our own.
    std::vector<Property> props = ReadProperties(pSet);
    std::lock_guard lock(data_->mutex);
    props.swap(data_->content.properties);
    return S_OK;
  });
}

HRESULT CVelItem::Clone(VARIANT target, IVelItem** ppItem) {
  return Run([&] {
    if (!ppItem) return E_POINTER;
    *ppItem = nullptr;
    const VARIANT* t = &target;
    while (t->vt == (VT_BYREF | VT_VARIANT) && t->pvarVal) t = t->pvarVal;

    if (IsMissing(*t)) {
      CVelItem* copy = nullptr;
      ComPtr<IVelItem> item = CreateObject<CVelItem, IVelItem>(&copy);
      {
        std::lock_guard lock(data_->mutex);
        copy->data_->content = data_->content;
      }
      *ppItem = item.Detach();
      return S_OK;
    }

    IUnknown* unknown = nullptr;
    if (t->vt == VT_UNKNOWN || t->vt == VT_DISPATCH)
      unknown = t->punkVal;
    else if ((t->vt == (VT_BYREF | VT_UNKNOWN) || t->vt == (VT_BYREF | VT_DISPATCH)) && t->ppunkVal)
      unknown = *t->ppunkVal;
    else
      Fail(E_INVALIDARG, u"Clone takes an item or nothing as its target.");
    // A null object is not "missing": copying into nothing would lose the caller's intent.
    if (!unknown) Fail(E_INVALIDARG, u"The target item is null.");
    ComPtr<IVelItem> targetItem;
    if (FAILED(unknown->QueryInterface(IID_IVelItem, reinterpret_cast<void**>(&targetItem))) || !targetItem)
      Fail(E_INVALIDARG, u"The target is not an item.");

    if (CVelItem* other = FromInterface(targetItem)) {
      if (other->data_ != data_) {
        ItemContent old;
        {
          std::scoped_lock lock(data_->mutex, other->data_->mutex);
          ItemContent copy = data_->content;
          std::swap(old, other->data_->content);
          other->data_->content = std::move(copy);
        }
      }
    } else {
      ItemContent snapshot;
      {
        std::lock_guard lock(data_->mutex);
        snapshot = data_->content;
      }
      CopyInto(targetItem, snapshot);
    }
    *ppItem = targetItem.Detach();
    return S_OK;
  });
}

}  // namespace velitems
