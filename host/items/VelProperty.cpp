// VelProperty: one property as it was when handed out.
#include <cstdio>

#include "host/items/ItemModel.h"

namespace velitems {

namespace {

constexpr char16_t kSource[] = u"VelItemsLib.VelItem.1";

HRESULT Run(auto&& body) noexcept { return Boundary(IID_IVelProperty, kSource, body); }

std::u16string BaseTypeName(VARTYPE base) {
  switch (base) {
    case VT_EMPTY: return u"VT_EMPTY";
    case VT_NULL: return u"VT_NULL";
    case VT_I2: return u"VT_I2";
    case VT_I4: return u"VT_I4";
    case VT_R4: return u"VT_R4";
    case VT_R8: return u"VT_R8";
    case VT_CY: return u"VT_CY";
    case VT_DATE: return u"VT_DATE";
    case VT_BSTR: return u"VT_BSTR";
    case VT_DISPATCH: return u"VT_DISPATCH";
    case VT_ERROR: return u"VT_ERROR";
    case VT_BOOL: return u"VT_BOOL";
    case VT_VARIANT: return u"VT_VARIANT";
    case VT_UNKNOWN: return u"VT_UNKNOWN";
    case VT_DECIMAL: return u"VT_DECIMAL";
    case VT_I1: return u"VT_I1";
    case VT_UI1: return u"VT_UI1";
    case VT_UI2: return u"VT_UI2";
    case VT_UI4: return u"VT_UI4";
    case VT_I8: return u"VT_I8";
    case VT_UI8: return u"VT_UI8";
    case VT_INT: return u"VT_INT";
    case VT_UINT: return u"VT_UINT";
    case VT_RECORD: return u"VT_RECORD";
    default: {
      char text[16];
      std::snprintf(text, sizeof text, "0x%04X", static_cast<unsigned>(base));
      return std::u16string(text, text + std::char_traits<char>::length(text));
    }
  }
}

std::u16string TypeName(VARTYPE vt) {
  std::u16string name;
  if (vt & VT_BYREF) name += u"VT_BYREF|";
  if (vt & VT_ARRAY) name += u"VT_ARRAY|";
  if (vt & VT_VECTOR) name += u"VT_VECTOR|";
  return name + BaseTypeName(static_cast<VARTYPE>(vt & VT_TYPEMASK));
}

}  // namespace

ComPtr<IVelProperty> CVelProperty::Create(const Property& p, long index) {
  CVelProperty* impl = nullptr;
  ComPtr<IVelProperty> prop = CreateObject<CVelProperty, IVelProperty>(&impl);
  impl->property_ = p;
  impl->index_ = index;
  return prop;
}

HRESULT CVelProperty::get_ValueType(LONG* pVt) {
  return Run([&] {
    if (!pVt) return E_POINTER;
    *pVt = property_.value.vt;
    return S_OK;
  });
}

HRESULT CVelProperty::get_IsEmpty(VARIANT_BOOL* pVal) {
  return Run([&] {
    if (!pVal) return E_POINTER;
    const VARTYPE vt = property_.value.vt;
    *pVal = vt == VT_EMPTY || vt == VT_NULL ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  });
}

HRESULT CVelProperty::get_Text(BSTR* pVal) {
  return Run([&] {
    if (!pVal) return E_POINTER;
    *pVal = nullptr;
    if (property_.value.vt == VT_NULL || property_.value.vt == VT_EMPTY) {
      *pVal = NewBstr(u"");
      return S_OK;
    }
    VARIANT text;
    VariantInit(&text);
    HRESULT hr = VariantChangeType(&text, &property_.value, VARIANT_ALPHABOOL, VT_BSTR);
    if (FAILED(hr)) Fail(hr, u"The value of " + property_.name + u" has no text form.");
    *pVal = text.bstrVal;
    return S_OK;
  });
}

HRESULT CVelProperty::get_Name(BSTR* pVal) {
  return Run([&] {
    if (!pVal) return E_POINTER;
    *pVal = nullptr;
    *pVal = NewBstr(property_.name);
    return S_OK;
  });
}

HRESULT CVelProperty::get_ExpandedName(BSTR* pVal) {
  return Run([&] {
    if (!pVal) return E_POINTER;
    *pVal = nullptr;
    *pVal = NewBstr(property_.ns.empty() ? property_.name : u"{" + property_.ns + u"}" + property_.name);
    return S_OK;
  });
}

HRESULT CVelProperty::get_Value(VARIANT* pVal) {
  return Run([&] {
    if (!pVal) return E_POINTER;
    VariantInit(pVal);
    HRESULT hr = VariantCopy(pVal, &property_.value);
    if (FAILED(hr)) Fail(hr, u"The value of " + property_.name + u" cannot be copied.");
    return S_OK;
  });
}

HRESULT CVelProperty::get_IsArray(VARIANT_BOOL* pVal) {
  return Run([&] {
    if (!pVal) return E_POINTER;
    *pVal = (property_.value.vt & VT_ARRAY) ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  });
}

HRESULT CVelProperty::get_Index(LONG* pIndex) {
  return Run([&] {
    if (!pIndex) return E_POINTER;
    *pIndex = index_;
    return S_OK;
  });
}

HRESULT CVelProperty::get_ValueTypeName(BSTR* pVal) {
  return Run([&] {
    if (!pVal) return E_POINTER;
    *pVal = nullptr;
    *pVal = NewBstr(TypeName(property_.value.vt));
    return S_OK;
  });
}

HRESULT CVelProperty::get_Namespace(BSTR* pVal) {
  return Run([&] {
    if (!pVal) return E_POINTER;
    *pVal = nullptr;
    *pVal = NewBstr(property_.ns);
    return S_OK;
  });
}

}  // namespace velitems
