// Shared helpers of the item model: key lookup, failures and their error info,
// text and value copies.
#include <new>

#include "host/items/ItemModel.h"

namespace velitems {

long FindProperty(const std::vector<Property>& props, std::u16string_view name, std::u16string_view ns) noexcept {
  // Items hold a few dozen properties; a scan keeps their order without an index to maintain.
  for (size_t i = 0; i < props.size(); ++i)
    if (props[i].name == name && props[i].ns == ns) return static_cast<long>(i);
  return -1;
}

void SetProperty(std::vector<Property>& props, std::u16string_view name, std::u16string_view ns, _variant_t value) {
  long at = FindProperty(props, name, ns);
  if (at >= 0)
    props[static_cast<size_t>(at)].value = std::move(value);
  else
    props.push_back(Property{std::u16string(name), std::u16string(ns), std::move(value)});
}

void Fail(HRESULT hr, std::u16string text) { throw ItemError{hr, std::move(text)}; }

void Check(HRESULT hr, const char16_t* what) {
  if (FAILED(hr)) Fail(hr, what);
}

std::u16string Text(BSTR s) { return s ? std::u16string(s, SysStringLen(s)) : std::u16string(); }

BSTR NewBstr(std::u16string_view s) {
  BSTR out = SysAllocStringLen(s.data(), static_cast<UINT>(s.size()));
  if (!out) throw std::bad_alloc();
  return out;
}

_variant_t CopyValue(const VARIANT& value) {
  VARIANT copy;
  VariantInit(&copy);
  HRESULT hr = VariantCopyInd(&copy, &value);
  if (FAILED(hr)) Fail(hr, u"The value cannot be copied.");
  return _variant_t(copy, false);
}

void CheckName(BSTR name) {
  if (!name || SysStringLen(name) == 0) Fail(E_INVALIDARG, u"A property needs a name.");
}

HRESULT ReportFailure(const IID& iid, const char16_t* source) noexcept {
  HRESULT hr = E_UNEXPECTED;
  std::u16string text;
  try {
    throw;
  } catch (ItemError& e) {
    hr = e.hr;
    text = std::move(e.text);
  } catch (const _com_error& e) {
    hr = e.Error();
    const char16_t* message = e.ErrorMessage();
    if (message) text = message;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    text = u"Unexpected failure.";
  }
  if (SUCCEEDED(hr)) hr = E_UNEXPECTED;
  ICreateErrorInfo* create = nullptr;
  if (SUCCEEDED(CreateErrorInfo(&create)) && create) {
    create->SetGUID(iid);
    create->SetSource(const_cast<LPOLESTR>(source));
    create->SetDescription(text.data());
    IErrorInfo* info = nullptr;
    if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info))) && info) {
      SetErrorInfo(0, info);
      info->Release();
    }
    create->Release();
  }
  return hr;
}

std::vector<Property> ReadProperties(IVelProperties* set) {
  ComPtr<IUnknown> unknown;
  Check(set->get__NewEnum(&unknown), u"The property set has no enumerator.");
  if (!unknown) Fail(E_POINTER, u"The property set has no enumerator.");
  ComPtr<IEnumVARIANT> enumerator;
  Check(unknown->QueryInterface(IID_IEnumVARIANT, reinterpret_cast<void**>(&enumerator)),
        u"The property set has no enumerator.");
  std::vector<Property> props;
  for (;;) {
    _variant_t element;
    ULONG fetched = 0;
    HRESULT hr = enumerator->Next(1, element.GetAddress(), &fetched);
    Check(hr, u"The property enumeration failed.");
    if (hr != S_OK || fetched == 0) break;
    if (element.vt != VT_DISPATCH && element.vt != VT_UNKNOWN) continue;
    ComPtr<IVelProperty> prop;
    if (!element.punkVal || FAILED(element.punkVal->QueryInterface(IID_IVelProperty, reinterpret_cast<void**>(&prop))))
      continue;
    BSTR name = nullptr;
    BSTR ns = nullptr;
    _variant_t value;
    Check(prop->get_Name(&name), u"A property has no name.");
    _bstr_t ownedName(name, false);
    Check(prop->get_Namespace(&ns), u"A property has no namespace.");
    _bstr_t ownedNs(ns, false);
    Check(prop->get_Value(value.GetAddress()), u"A property has no value.");
    props.push_back(Property{Text(name), Text(ns), std::move(value)});
  }
  return props;
}

}  // namespace velitems
