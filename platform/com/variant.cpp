// VARIANT lifetime and VariantChangeType(Ex).
//
// Conversion reads the (dereferenced) source into a temporary and only then
// replaces the destination, so the destination may be the source and a
// failed conversion leaves the destination as it was.
#include <cstring>
#include <string>

#include "platform/com/interfaces.h"
#include "platform/com/localeinfo.h"
#include "platform/com/oleauto.h"
#include "platform/com/varnumber.h"
#include "platform/text.h"

namespace {

using vel::oanum::Int128;
using vel::oanum::Num;

bool IsScalarType(VARTYPE base) noexcept {
  switch (base) {
    case VT_I2:
    case VT_I4:
    case VT_R4:
    case VT_R8:
    case VT_CY:
    case VT_DATE:
    case VT_BSTR:
    case VT_DISPATCH:
    case VT_ERROR:
    case VT_BOOL:
    case VT_UNKNOWN:
    case VT_DECIMAL:
    case VT_I1:
    case VT_UI1:
    case VT_UI2:
    case VT_UI4:
    case VT_I8:
    case VT_UI8:
    case VT_INT:
    case VT_UINT:
      return true;
    default:
      return false;
  }
}

// The VARTYPEs a VARIANT may hold here; records are not supported.
bool IsValidType(VARTYPE vt) noexcept {
  if (vt & ~(VT_BYREF | VT_ARRAY | VT_TYPEMASK)) return false;
  const VARTYPE base = vt & VT_TYPEMASK;
  if (vt & VT_ARRAY) return IsScalarType(base) || base == VT_VARIANT;
  if (vt & VT_BYREF) return IsScalarType(base) || base == VT_VARIANT;
  return base == VT_EMPTY || base == VT_NULL || IsScalarType(base);
}

BSTR CopyBstr(BSTR s) noexcept { return SysAllocStringByteLen(reinterpret_cast<const char*>(s), SysStringByteLen(s)); }

// A non-owning view of what a VT_BYREF VARIANT points at.
HRESULT Deref(const VARIANT* src, VARIANT* view) noexcept {
  if (!IsValidType(src->vt)) return DISP_E_BADVARTYPE;
  if (!(src->vt & VT_BYREF)) {
    *view = *src;
    return S_OK;
  }
  if (src->byref == nullptr) return E_INVALIDARG;
  const VARTYPE vt = src->vt & ~VT_BYREF;
  VariantInit(view);
  if (vt == VT_VARIANT) {
    const VARIANT* inner = src->pvarVal;
    if (inner->vt & VT_BYREF || !IsValidType(inner->vt)) return E_INVALIDARG;
    *view = *inner;
    return S_OK;
  }
  if (vt & VT_ARRAY) {
    view->parray = *src->pparray;
  } else {
    switch (vt) {
      case VT_I1:
      case VT_UI1:
        view->bVal = *src->pbVal;
        break;
      case VT_I2:
      case VT_UI2:
      case VT_BOOL:
        view->iVal = *src->piVal;
        break;
      case VT_I4:
      case VT_UI4:
      case VT_INT:
      case VT_UINT:
      case VT_ERROR:
        view->lVal = *src->plVal;
        break;
      case VT_R4:
        view->fltVal = *src->pfltVal;
        break;
      case VT_I8:
      case VT_UI8:
      case VT_R8:
      case VT_DATE:
      case VT_CY:
        view->llVal = *src->pllVal;
        break;
      case VT_BSTR:
        view->bstrVal = *src->pbstrVal;
        break;
      case VT_UNKNOWN:
      case VT_DISPATCH:
        view->punkVal = *src->ppunkVal;
        break;
      case VT_DECIMAL:
        view->decVal = *src->pdecVal;
        break;
      default:
        return DISP_E_BADVARTYPE;
    }
  }
  view->vt = vt;
  return S_OK;
}

// Deep copy of a non-BYREF value into a VARIANT that owns nothing.
HRESULT CopyValue(VARIANT* dest, const VARIANT* src) noexcept {
  *dest = *src;
  if (src->vt & VT_BYREF) return S_OK;
  if (src->vt & VT_ARRAY) {
    dest->parray = nullptr;
    HRESULT hr = SafeArrayCopy(src->parray, &dest->parray);
    if (FAILED(hr)) {
      VariantInit(dest);
      return hr;
    }
    return S_OK;
  }
  switch (src->vt) {
    case VT_BSTR:
      if (src->bstrVal != nullptr) {
        dest->bstrVal = CopyBstr(src->bstrVal);
        if (dest->bstrVal == nullptr) {
          VariantInit(dest);
          return E_OUTOFMEMORY;
        }
      }
      break;
    case VT_UNKNOWN:
    case VT_DISPATCH:
      if (src->punkVal != nullptr) src->punkVal->AddRef();
      break;
    default:
      break;
  }
  return S_OK;
}

// ---- conversion --------------------------------------------------------------

struct IntRange {
  Int128 lo, hi;
  bool isUnsigned;
};

bool IntRangeOf(VARTYPE vt, IntRange* r) noexcept {
  switch (vt) {
    case VT_I1:
      *r = {-128, 127, false};
      return true;
    case VT_UI1:
      *r = {0, 255, true};
      return true;
    case VT_I2:
      *r = {-32768, 32767, false};
      return true;
    case VT_UI2:
      *r = {0, 65535, true};
      return true;
    case VT_I4:
    case VT_INT:
      *r = {INT32_MIN, INT32_MAX, false};
      return true;
    case VT_UI4:
    case VT_UINT:
      *r = {0, UINT32_MAX, true};
      return true;
    case VT_I8:
      *r = {INT64_MIN, INT64_MAX, false};
      return true;
    case VT_UI8:
      *r = {0, UINT64_MAX, true};
      return true;
    default:
      return false;
  }
}

void StoreInt(VARIANT* out, VARTYPE vt, Int128 v) noexcept {
  switch (vt) {
    case VT_I1:
      out->cVal = static_cast<CHAR>(v);
      break;
    case VT_UI1:
      out->bVal = static_cast<BYTE>(v);
      break;
    case VT_I2:
      out->iVal = static_cast<SHORT>(v);
      break;
    case VT_UI2:
      out->uiVal = static_cast<USHORT>(v);
      break;
    case VT_I4:
      out->lVal = static_cast<LONG>(v);
      break;
    case VT_INT:
      out->intVal = static_cast<INT>(v);
      break;
    case VT_UI4:
      out->ulVal = static_cast<ULONG>(v);
      break;
    case VT_UINT:
      out->uintVal = static_cast<UINT>(v);
      break;
    case VT_I8:
      out->llVal = static_cast<LONGLONG>(v);
      break;
    case VT_UI8:
      out->ullVal = static_cast<ULONGLONG>(v);
      break;
    default:
      break;
  }
  out->vt = vt;
}

std::u16string_view TextOf(BSTR s) noexcept {
  return s == nullptr ? std::u16string_view() : std::u16string_view(s, SysStringLen(s));
}

std::u16string_view Trim(std::u16string_view t) noexcept {
  while (!t.empty() && (t.front() == u' ' || t.front() == u'\t')) t.remove_prefix(1);
  while (!t.empty() && (t.back() == u' ' || t.back() == u'\t')) t.remove_suffix(1);
  return t;
}

// 1 true, 0 false, -1 not a boolean word.
int BoolWord(std::u16string_view text, const vel::LocaleInfo& locale) noexcept {
  text = Trim(text);
  const std::u16string_view trues[] = {u"True", u"#TRUE#", locale.trueName};
  const std::u16string_view falses[] = {u"False", u"#FALSE#", locale.falseName};
  for (auto w : trues) {
    if (vel::CompareNoCase(text, w) == 0) return 1;
  }
  for (auto w : falses) {
    if (vel::CompareNoCase(text, w) == 0) return 0;
  }
  return -1;
}

// The number a scalar VARIANT holds; BSTRs are read in the numeric locale.
HRESULT NumOf(const VARIANT* in, const vel::LocaleInfo& locale, Num* out) {
  switch (in->vt) {
    case VT_EMPTY:
      *out = vel::oanum::FromInt(0);
      return S_OK;
    case VT_I1:
      *out = vel::oanum::FromInt(in->cVal);
      return S_OK;
    case VT_UI1:
      *out = vel::oanum::FromInt(in->bVal);
      return S_OK;
    case VT_I2:
      *out = vel::oanum::FromInt(in->iVal);
      return S_OK;
    case VT_UI2:
      *out = vel::oanum::FromInt(in->uiVal);
      return S_OK;
    case VT_I4:
      *out = vel::oanum::FromInt(in->lVal);
      return S_OK;
    case VT_INT:
      *out = vel::oanum::FromInt(in->intVal);
      return S_OK;
    case VT_UI4:
      *out = vel::oanum::FromInt(in->ulVal);
      return S_OK;
    case VT_UINT:
      *out = vel::oanum::FromInt(in->uintVal);
      return S_OK;
    case VT_I8:
      *out = vel::oanum::FromInt(in->llVal);
      return S_OK;
    case VT_UI8:
      *out = vel::oanum::FromInt(in->ullVal);
      return S_OK;
    case VT_BOOL:
      *out = vel::oanum::FromInt(in->boolVal != 0 ? -1 : 0);
      return S_OK;
    case VT_R4:
      *out = vel::oanum::FromReal(in->fltVal, true);
      return S_OK;
    case VT_R8:
      *out = vel::oanum::FromReal(in->dblVal, false);
      return S_OK;
    case VT_DATE:
      *out = vel::oanum::FromReal(in->date, false);
      return S_OK;
    case VT_CY:
      *out = vel::oanum::FromCy(in->cyVal);
      return S_OK;
    case VT_DECIMAL:
      return vel::oanum::FromDecimal(in->decVal, out);
    case VT_BSTR:
      return vel::oanum::Parse(TextOf(in->bstrVal), locale, out);
    default:
      return DISP_E_TYPEMISMATCH;
  }
}

HRESULT ToBstr(const VARIANT* in, LCID lcid, USHORT flags, VARIANT* out) {
  std::u16string text;
  if (in->vt == VT_DATE) {
    BSTR b = nullptr;
    HRESULT hr = VarBstrFromDate(in->date, lcid, 0, &b);
    if (FAILED(hr)) return hr;
    out->bstrVal = b;
    out->vt = VT_BSTR;
    return S_OK;
  }
  if (in->vt == VT_BOOL) {
    const bool value = in->boolVal != 0;
    if (flags & VARIANT_LOCALBOOL) {
      const vel::LocaleInfo& locale = vel::LocaleInfoFor(lcid, vel::LocaleCategory::Numeric);
      text = value ? locale.trueName : locale.falseName;
    } else if (flags & VARIANT_ALPHABOOL) {
      text = value ? u"True" : u"False";
    } else {
      text = value ? u"-1" : u"0";
    }
  } else if (in->vt != VT_EMPTY) {
    // Whole numbers read and print alike in every locale: the caller's
    // locale (the user's comes from the environment) is looked up only for
    // text, fractions and money.
    const bool whole = in->vt != VT_BSTR && in->vt != VT_R4 && in->vt != VT_R8 && in->vt != VT_CY &&
                       in->vt != VT_DECIMAL;
    const vel::LocaleInfo& locale =
        vel::LocaleInfoFor(whole ? LOCALE_SYSTEM_DEFAULT : lcid, vel::LocaleCategory::Numeric);
    Num n;
    HRESULT hr = NumOf(in, locale, &n);
    if (FAILED(hr)) return hr;
    text = vel::oanum::Format(n, locale);
  }
  out->bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  if (out->bstrVal == nullptr) return E_OUTOFMEMORY;
  out->vt = VT_BSTR;
  return S_OK;
}

HRESULT ToValue(const VARIANT* in, LCID lcid, USHORT flags, VARTYPE vt, VARIANT* out);

// The value property of an object, converted on (once: a value that is an
// object again is not followed).
HRESULT FromObject(const VARIANT* in, LCID lcid, USHORT flags, VARTYPE vt, VARIANT* out) {
  if (flags & VARIANT_NOVALUEPROP) return DISP_E_TYPEMISMATCH;
  IDispatch* disp = nullptr;
  if (in->vt == VT_DISPATCH) {
    disp = in->pdispVal;
    if (disp != nullptr) disp->AddRef();
  } else if (in->punkVal != nullptr &&
             FAILED(in->punkVal->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&disp)))) {
    disp = nullptr;
  }
  if (disp == nullptr) return DISP_E_TYPEMISMATCH;
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  VARIANT value;
  VariantInit(&value);
  HRESULT hr = disp->Invoke(DISPID_VALUE, IID_NULL, lcid, DISPATCH_PROPERTYGET, &none, &value, nullptr, nullptr);
  disp->Release();
  if (FAILED(hr)) {
    VariantClear(&value);
    return DISP_E_TYPEMISMATCH;
  }
  VARIANT view;
  hr = Deref(&value, &view);
  if (SUCCEEDED(hr)) hr = ToValue(&view, lcid, flags | VARIANT_NOVALUEPROP, vt, out);
  VariantClear(&value);
  return hr;
}

// Converts a dereferenced source into `out`, which owns nothing yet.
HRESULT ToValue(const VARIANT* in, LCID lcid, USHORT flags, VARTYPE vt, VARIANT* out) {
  if (in->vt == vt) return CopyValue(out, in);

  // Byte arrays and texts convert into each other byte for byte.
  if (in->vt == (VT_ARRAY | VT_UI1) && vt == VT_BSTR) {
    SAFEARRAY* psa = in->parray;
    if (psa == nullptr || psa->cDims != 1) return DISP_E_TYPEMISMATCH;
    out->bstrVal = SysAllocStringByteLen(static_cast<const char*>(psa->pvData), psa->rgsabound[0].cElements);
    if (out->bstrVal == nullptr) return E_OUTOFMEMORY;
    out->vt = VT_BSTR;
    return S_OK;
  }
  if (in->vt == VT_BSTR && vt == (VT_ARRAY | VT_UI1)) {
    const UINT bytes = SysStringByteLen(in->bstrVal);
    SAFEARRAY* psa = SafeArrayCreateVector(VT_UI1, 0, bytes);
    if (psa == nullptr) return E_OUTOFMEMORY;
    if (bytes != 0) std::memcpy(psa->pvData, in->bstrVal, bytes);
    out->parray = psa;
    out->vt = vt;
    return S_OK;
  }
  if ((in->vt & VT_ARRAY) || (vt & VT_ARRAY)) return DISP_E_TYPEMISMATCH;

  if (vt == VT_EMPTY) {
    out->vt = VT_EMPTY;
    return S_OK;
  }
  if (vt == VT_NULL) {
    if (in->vt != VT_EMPTY) return DISP_E_TYPEMISMATCH;
    out->vt = VT_NULL;
    return S_OK;
  }
  if (in->vt == VT_NULL || in->vt == VT_ERROR || vt == VT_ERROR) return DISP_E_TYPEMISMATCH;

  if (vt == VT_UNKNOWN || vt == VT_DISPATCH) {
    if (in->vt == VT_EMPTY) {
      out->punkVal = nullptr;
      out->vt = vt;
      return S_OK;
    }
    if (in->vt != VT_UNKNOWN && in->vt != VT_DISPATCH) return DISP_E_TYPEMISMATCH;
    void* itf = nullptr;
    if (in->punkVal != nullptr &&
        FAILED(in->punkVal->QueryInterface(vt == VT_DISPATCH ? IID_IDispatch : IID_IUnknown, &itf))) {
      return vt == VT_DISPATCH ? DISP_E_TYPEMISMATCH : E_NOINTERFACE;
    }
    out->punkVal = static_cast<IUnknown*>(itf);
    out->vt = vt;
    return S_OK;
  }
  if (in->vt == VT_UNKNOWN || in->vt == VT_DISPATCH) return FromObject(in, lcid, flags, vt, out);

  if (vt == VT_BSTR) return ToBstr(in, lcid, flags, out);

  // Only text is read by the caller's locale's rules.
  const vel::LocaleInfo& locale =
      vel::LocaleInfoFor(in->vt == VT_BSTR ? lcid : LOCALE_SYSTEM_DEFAULT, vel::LocaleCategory::Numeric);
  if (in->vt == VT_BSTR && vt == VT_DATE) {
    HRESULT hr = VarDateFromStr(in->bstrVal == nullptr ? u"" : in->bstrVal, lcid, 0, &out->date);
    if (SUCCEEDED(hr)) out->vt = VT_DATE;
    return hr;
  }
  if (in->vt == VT_BSTR && vt == VT_BOOL) {
    const int word = BoolWord(TextOf(in->bstrVal), locale);
    if (word >= 0) {
      out->boolVal = word ? VARIANT_TRUE : VARIANT_FALSE;
      out->vt = VT_BOOL;
      return S_OK;
    }
  }
  // A true VT_BOOL is all bits set, in unsigned types too.
  IntRange range;
  if (in->vt == VT_BOOL && IntRangeOf(vt, &range) && range.isUnsigned) {
    StoreInt(out, vt, in->boolVal != 0 ? range.hi : 0);
    return S_OK;
  }

  Num n;
  HRESULT hr = NumOf(in, locale, &n);
  if (FAILED(hr)) return hr;
  if (IntRangeOf(vt, &range)) {
    Int128 v;
    hr = vel::oanum::ToInt(n, range.lo, range.hi, &v);
    if (SUCCEEDED(hr)) StoreInt(out, vt, v);
    return hr;
  }
  switch (vt) {
    case VT_BOOL:
      out->boolVal = vel::oanum::IsZero(n) ? VARIANT_FALSE : VARIANT_TRUE;
      break;
    case VT_R4:
      hr = vel::oanum::ToFloat(n, &out->fltVal);
      break;
    case VT_R8:
      hr = vel::oanum::ToDouble(n, &out->dblVal);
      break;
    case VT_DATE: {
      double d = 0;
      hr = vel::oanum::ToDouble(n, &d);
      if (SUCCEEDED(hr) && !(d >= -657434.0 && d < 2958466.0)) hr = DISP_E_OVERFLOW;
      out->date = d;
      break;
    }
    case VT_CY:
      hr = vel::oanum::ToCy(n, &out->cyVal);
      break;
    case VT_DECIMAL: {
      DECIMAL dec;
      hr = vel::oanum::ToDecimal(n, &dec);
      if (SUCCEEDED(hr)) out->decVal = dec;  // overlays vt, which is set below
      break;
    }
    default:
      return DISP_E_BADVARTYPE;
  }
  if (FAILED(hr)) {
    VariantInit(out);
    return hr;
  }
  out->vt = vt;
  return S_OK;
}

bool IsValidTarget(VARTYPE vt) noexcept {
  if (vt & (VT_BYREF | VT_VECTOR | VT_RESERVED)) return false;
  if (vt == VT_EMPTY || vt == VT_NULL) return true;
  return IsValidType(vt);
}

}  // namespace

extern "C" {

void VariantInit(VARIANTARG* pvarg) {
  if (pvarg == nullptr) return;
  std::memset(pvarg, 0, sizeof *pvarg);
  pvarg->vt = VT_EMPTY;
}

HRESULT VariantClear(VARIANTARG* pvarg) {
  if (pvarg == nullptr) return E_INVALIDARG;
  if (!IsValidType(pvarg->vt)) return DISP_E_BADVARTYPE;
  if (!(pvarg->vt & VT_BYREF)) {
    if (pvarg->vt & VT_ARRAY) {
      HRESULT hr = SafeArrayDestroy(pvarg->parray);
      if (FAILED(hr)) return hr;
    } else if (pvarg->vt == VT_BSTR) {
      SysFreeString(pvarg->bstrVal);
    } else if ((pvarg->vt == VT_UNKNOWN || pvarg->vt == VT_DISPATCH) && pvarg->punkVal != nullptr) {
      pvarg->punkVal->Release();
    }
  }
  VariantInit(pvarg);
  return S_OK;
}

HRESULT VariantCopy(VARIANTARG* pvargDest, const VARIANTARG* pvargSrc) {
  if (pvargDest == nullptr || pvargSrc == nullptr) return E_INVALIDARG;
  if (pvargDest == pvargSrc) return S_OK;
  if (!IsValidType(pvargSrc->vt)) return DISP_E_BADVARTYPE;
  VARIANT copy;
  HRESULT hr = CopyValue(&copy, pvargSrc);
  if (FAILED(hr)) return hr;
  hr = VariantClear(pvargDest);
  if (FAILED(hr)) {
    VariantClear(&copy);
    return hr;
  }
  *pvargDest = copy;
  return S_OK;
}

HRESULT VariantCopyInd(VARIANT* pvarDest, const VARIANTARG* pvargSrc) {
  if (pvarDest == nullptr || pvargSrc == nullptr) return E_INVALIDARG;
  if (pvarDest == pvargSrc && !(pvargSrc->vt & VT_BYREF)) return IsValidType(pvargSrc->vt) ? S_OK : DISP_E_BADVARTYPE;
  VARIANT view;
  HRESULT hr = Deref(pvargSrc, &view);
  if (FAILED(hr)) return hr;
  VARIANT copy;
  hr = CopyValue(&copy, &view);
  if (FAILED(hr)) return hr;
  hr = VariantClear(pvarDest);
  if (FAILED(hr)) {
    VariantClear(&copy);
    return hr;
  }
  *pvarDest = copy;
  return S_OK;
}

HRESULT VariantChangeTypeEx(VARIANTARG* pvargDest, const VARIANTARG* pvarSrc, LCID lcid, USHORT wFlags, VARTYPE vt) {
  if (pvargDest == nullptr || pvarSrc == nullptr) return E_INVALIDARG;
  if (!IsValidTarget(vt)) return DISP_E_BADVARTYPE;
  VARIANT view;
  HRESULT hr = Deref(pvarSrc, &view);
  if (FAILED(hr)) return hr;
  VARIANT result;
  VariantInit(&result);
  hr = ToValue(&view, lcid, wFlags, vt, &result);
  if (FAILED(hr)) return hr;
  hr = VariantClear(pvargDest);
  if (FAILED(hr)) {
    VariantClear(&result);
    return hr;
  }
  *pvargDest = result;
  return S_OK;
}

HRESULT VariantChangeType(VARIANTARG* pvargDest, const VARIANTARG* pvarSrc, USHORT wFlags, VARTYPE vt) {
  return VariantChangeTypeEx(pvargDest, pvarSrc, LOCALE_USER_DEFAULT, wFlags, vt);
}

}  // extern "C"
