// Reading and writing host items' properties from inside a plugin: the few
// calls every plugin makes on IVelItem and IVelProperties, each turning a
// failed HRESULT into a report (YCheckHr), so plugin code reads as a list of
// steps without an HRESULT check after each.
//
//   ComPtr<IVelItem> item = NewItem();
//   ComPtr<IVelProperties> properties = PropertiesOf(item, f);
//   Put(properties, u"Title", _variant_t(title));           // kCoreNamespace
//   Put(properties, kPicture, kExtendedNamespace, picture);  // any namespace
//
// Thread safety: stateless; the items are the host's, which guards them.
#pragma once

#include <string>
#include <string_view>

#include "contract/VelItemsLib.h"
#include "platform/com/comdef.h"
#include "platform/com/oleauto.h"
#include "ylib/YErrorFrame.h"

namespace vel::framework {

// A BSTR's text; the null BSTR is the empty text.
std::u16string BstrText(BSTR text);
// A BSTR's text as a view into it; the null BSTR is the empty view.
std::u16string_view BstrView(BSTR text);

// VT_EMPTY, or a text with nothing in it: nothing worth adding to an item.
bool IsEmptyValue(const VARIANT& value);

// A new host item (VelItemsLib.VelItem), created through COM.
ComPtr<IVelItem> NewItem();

// The item's property set. A null item, or an item that answers no set,
// raises E_POINTER in frame f.
ComPtr<IVelProperties> PropertiesOf(IVelItem* item, const YFrame& f);

// Sets the value of name in ns, adding the property when the item lacks it.
void Put(IVelProperties* properties, const char16_t* name, const char16_t* ns, const _variant_t& value);
// Sets the value of name in kCoreNamespace.
void Put(IVelProperties* properties, const char16_t* name, const _variant_t& value);
// Sets name in kCoreNamespace to a text.
void PutText(IVelProperties* properties, const char16_t* name, std::u16string_view text);
// Adds a property, the way IVelProperties::Add does (the item decides what a
// second property of the same key means).
void Add(IVelProperties* properties, const _variant_t& value, std::u16string_view name, std::u16string_view ns);
// Whether the set holds name in ns.
bool Exists(IVelProperties* properties, const char16_t* name, const char16_t* ns);

// A property's name and namespace.
std::u16string PropertyName(IVelProperty* property);
std::u16string PropertyNamespace(IVelProperty* property);

// Calls visit(IVelProperty*) for every property of the set in its
// enumeration order. An element that is no property raises E_NOINTERFACE in
// frame f.
template <class Visit>
void ForEachProperty(IVelProperties* properties, const YFrame& f, Visit&& visit) {
  ComPtr<IUnknown> unknown;
  YCheckHr(properties->get__NewEnum(&unknown));
  ComPtr<IEnumVARIANT> enumerator;
  YCheckHr(unknown.QueryInterface(enumerator));
  for (;;) {
    _variant_t element;
    ULONG fetched = 0;
    const HRESULT hr = enumerator->Next(1, element.GetAddress(), &fetched);
    YCheckHr(hr);
    if (hr != S_OK || fetched == 0) return;
    ComPtr<IVelProperty> property(static_cast<const VARIANT&>(element));
    if (!property) YThrowHr(E_NOINTERFACE, f);
    visit(property.get());
  }
}

// The file's extension (with its dot), lower-cased, as the plugins'
// configuration spells it.
std::u16string LowerExtension(std::u16string_view path);

}  // namespace vel::framework
