// The host's item model classes (libVelItems.so): VelItem, VelProperties,
// VelProperty, VelEnum and the IEnumVARIANT snapshot enumerator.
//
// Thread safety: every object may be called from any thread. An item's
// content lives in one ItemData guarded by its own mutex; VelProperties
// objects are views of that data. VelProperty objects and enumerators are
// snapshots: immutable (VelProperty) or guarded by their own mutex (the
// enumerator's position). VelEnum guards its list with its own mutex. No lock
// is held while calling into another object, except the two item locks that
// Clone takes together (in one deadlock-free acquisition).
#pragma once

#include <memory>
#include <type_traits>
#include <mutex>
#include <string>
#include <vector>

#include "contract/VelItemsLib.h"
#include "platform/com/comdef.h"
#include "platform/com/comobject.h"

namespace velitems {

// One property of an item.
struct Property {
  std::u16string name;
  std::u16string ns;
  _variant_t value;
};

// What Clone copies: properties in order, class word, label.
struct ItemContent {
  std::vector<Property> properties;
  std::u16string itemClass;
  std::u16string label;
};

struct ItemData {
  std::mutex mutex;
  ItemContent content;
  std::u16string id;  // not content: copies get none
};

// The position of a key in props, or -1.
long FindProperty(const std::vector<Property>& props, std::u16string_view name, std::u16string_view ns) noexcept;
// Replaces the value of a key present, or appends the property.
void SetProperty(std::vector<Property>& props, std::u16string_view name, std::u16string_view ns, _variant_t value);

// A failure leaving a method: its HRESULT and the text of its error info.
struct ItemError {
  HRESULT hr;
  std::u16string text;
};
[[noreturn]] void Fail(HRESULT hr, std::u16string text);
// Raises a failed HRESULT of a call into another object as an ItemError.
void Check(HRESULT hr, const char16_t* what);
// A BSTR's text (a null BSTR is the empty text).
std::u16string Text(BSTR s);
// A new BSTR for the caller; throws on exhaustion.
BSTR NewBstr(std::u16string_view s);
// value with references followed, as an owned copy.
_variant_t CopyValue(const VARIANT& value);
// A property name must not be empty.
void CheckName(BSTR name);

// The one way a method of these classes ends: the body's HRESULT, or the
// failure turned into an HRESULT with the thread's error info set (source =
// the class's ProgID, GUID = the interface's IID).
HRESULT ReportFailure(const IID& iid, const char16_t* source) noexcept;
template <class Body>
HRESULT Boundary(const IID& iid, const char16_t* source, Body&& body) noexcept {
  try {
    return body();
  } catch (...) {
    return ReportFailure(iid, source);
  }
}

// Creates a ComObject<T> and hands out both its implementation and interface I.
template <class T, class I>
ComPtr<I> CreateObject(T** impl = nullptr) {
  I* itf = nullptr;
  HRESULT hr = vel::com::CreateComObject<T>(&itf);
  if (FAILED(hr)) Fail(hr, u"Cannot create an object of the item model.");
  ComPtr<I> owned(itf, false);
  if (impl) {
    if constexpr (std::is_base_of_v<vel::com::DispatchImpl<I>, T>)
      *impl = static_cast<T*>(static_cast<vel::com::DispatchImpl<I>*>(itf));
    else
      *impl = static_cast<T*>(itf);
  }
  return owned;
}

// Reads every property of a set through its enumerator, in order.
std::vector<Property> ReadProperties(IVelProperties* set);

// ---------------------------------------------------------------------------

// Answered only by this library's items: lets one item reach another's data
// directly, so that copying between two of them is one locked step. The token
// is an address inside this loaded library, so an item of another copy of the
// library (another path) is treated as foreign.
struct IVelItemSelf : IUnknown {
  STDMETHOD_(const void*, LibraryToken)() = 0;
};
// {5C0AF7E2-1B7D-4E55-9A0B-3F6C2D8E41A7}
inline constexpr IID IID_IVelItemSelf = {0x5C0AF7E2, 0x1B7D, 0x4E55, {0x9A, 0x0B, 0x3F, 0x6C, 0x2D, 0x8E, 0x41, 0xA7}};

}  // namespace velitems
VEL_DECLARE_IID(velitems::IVelItemSelf, velitems::IID_IVelItemSelf);
namespace velitems {

class CVelItem : public vel::com::Implements<vel::com::DispatchImpl<IVelItem>, IVelItemSelf,
                                             vel::com::SupportErrorInfoFor<IVelItem>> {
 public:
  STDMETHOD_(const void*, LibraryToken)() override;

  // Tells an item of this module from other IVelItem implementations.
  static CVelItem* FromInterface(IVelItem* item) noexcept;
  const std::shared_ptr<ItemData>& Data() const noexcept { return data_; }

  STDMETHOD(get_Id)(BSTR* pVal) override;
  STDMETHOD(put_Id)(BSTR newVal) override;
  STDMETHOD(Clear)() override;
  STDMETHOD(get_Label)(BSTR* pVal) override;
  STDMETHOD(put_Label)(BSTR newVal) override;
  STDMETHOD(get_ItemClass)(BSTR* pVal) override;
  STDMETHOD(put_ItemClass)(BSTR newVal) override;
  STDMETHOD(get_Properties)(IVelProperties** ppVal) override;
  STDMETHOD(putref_Properties)(IVelProperties* pSet) override;
  STDMETHOD(Clone)(VARIANT target, IVelItem** ppItem) override;

 private:
  HRESULT GetText(std::u16string ItemContent::*field, BSTR* pVal);
  HRESULT PutText(std::u16string ItemContent::*field, BSTR newVal);

  std::shared_ptr<ItemData> data_ = std::make_shared<ItemData>();
};

class CVelProperties : public vel::com::Implements<vel::com::DispatchImpl<IVelProperties>,
                                                   vel::com::SupportErrorInfoFor<IVelProperties>> {
 public:
  void Attach(std::shared_ptr<ItemData> data) noexcept { data_ = std::move(data); }

  STDMETHOD(get_Item)(LONG index, IVelProperty** ppVal) override;
  STDMETHOD(IndexOf)(BSTR name, BSTR ns, LONG* pIndex) override;
  STDMETHOD(Clear)() override;
  STDMETHOD(get_Value)(BSTR name, BSTR ns, VARIANT* pVal) override;
  STDMETHOD(put_Value)(BSTR name, BSTR ns, VARIANT newVal) override;
  STDMETHOD(get__NewEnum)(IUnknown** ppEnum) override;
  STDMETHOD(Add)(VARIANT value, BSTR name, BSTR ns) override;
  STDMETHOD(Remove)(BSTR name, BSTR ns) override;
  STDMETHOD(get_Count)(LONG* pCount) override;
  STDMETHOD(Find)(BSTR name, BSTR ns, IVelProperty** ppVal) override;
  STDMETHOD(Exists)(BSTR name, BSTR ns, VARIANT_BOOL* pExists) override;

 private:
  std::shared_ptr<ItemData> data_;
};

class CVelProperty : public vel::com::Implements<vel::com::DispatchImpl<IVelProperty>,
                                                 vel::com::SupportErrorInfoFor<IVelProperty>> {
 public:
  // A new property object holding a copy of p, at position index.
  static ComPtr<IVelProperty> Create(const Property& p, long index);

  STDMETHOD(get_ValueType)(LONG* pVt) override;
  STDMETHOD(get_IsEmpty)(VARIANT_BOOL* pVal) override;
  STDMETHOD(get_Text)(BSTR* pVal) override;
  STDMETHOD(get_Name)(BSTR* pVal) override;
  STDMETHOD(get_ExpandedName)(BSTR* pVal) override;
  STDMETHOD(get_Value)(VARIANT* pVal) override;
  STDMETHOD(get_IsArray)(VARIANT_BOOL* pVal) override;
  STDMETHOD(get_Index)(LONG* pIndex) override;
  STDMETHOD(get_ValueTypeName)(BSTR* pVal) override;
  STDMETHOD(get_Namespace)(BSTR* pVal) override;

 private:
  // Set once by Create, before the object is handed out; read-only after.
  Property property_;
  long index_ = -1;
};

class CVelEnum : public vel::com::Implements<vel::com::DispatchImpl<IVelEnum>,
                                             vel::com::SupportErrorInfoFor<IVelEnum>> {
 public:
  STDMETHOD(get__NewEnum)(IUnknown** ppEnum) override;
  STDMETHOD(Clear)() override;
  STDMETHOD(Remove)(VARIANT index) override;
  STDMETHOD(Item)(VARIANT index, VARIANT* pItem) override;
  STDMETHOD(Replace)(VARIANT index, VARIANT item) override;
  STDMETHOD(IndexOf)(VARIANT item, LONG* pIndex) override;
  STDMETHOD(Contains)(VARIANT item, VARIANT_BOOL* pVal) override;
  STDMETHOD(Add)(VARIANT item, VARIANT before) override;
  STDMETHOD(Clone)(IVelEnum** ppEnum) override;
  STDMETHOD(get_Count)(LONG* pCount) override;

 private:
  std::mutex mutex_;
  std::vector<ComPtr<IVelItem>> items_;
};

// IEnumVARIANT over a fixed list of VARIANTs; clones share the list.
class CVariantEnum : public vel::com::Implements<IEnumVARIANT> {
 public:
  static ComPtr<IEnumVARIANT> Create(std::shared_ptr<const std::vector<_variant_t>> elements, ULONG position = 0);

  STDMETHOD(Next)(ULONG celt, VARIANT* rgVar, ULONG* pCeltFetched) override;
  STDMETHOD(Skip)(ULONG celt) override;
  STDMETHOD(Reset)() override;
  STDMETHOD(Clone)(IEnumVARIANT** ppEnum) override;

 private:
  std::mutex mutex_;
  std::shared_ptr<const std::vector<_variant_t>> elements_;
  ULONG position_ = 0;
};

}  // namespace velitems
