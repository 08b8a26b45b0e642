// _variant_t: an owning VARIANT, and VARIANT equality.
#include <cstring>

#include "platform/com/comdef.h"

namespace {

void Check(HRESULT hr) {
  if (FAILED(hr)) _com_issue_error(hr);
}

// A DECIMAL in lowest terms: trailing decimal zeros removed, so equal values
// have equal mantissa and scale.
struct DecimalKey {
  unsigned __int128 mantissa;
  int scale;
  bool negative;
};

DecimalKey Normalise(const DECIMAL& d) {
  unsigned __int128 m = (static_cast<unsigned __int128>(d.Hi32) << 64) | d.Lo64;
  int scale = d.scale;
  while (scale > 0 && m % 10 == 0) {
    m /= 10;
    --scale;
  }
  return {m, m == 0 ? 0 : scale, m != 0 && (d.sign & DECIMAL_NEG) != 0};
}

bool DecimalEquals(const DECIMAL& a, const DECIMAL& b) {
  DecimalKey x = Normalise(a);
  DecimalKey y = Normalise(b);
  return x.mantissa == y.mantissa && x.scale == y.scale && x.negative == y.negative;
}

bool BstrEquals(BSTR a, BSTR b) {
  const UINT la = SysStringByteLen(a);
  if (la != SysStringByteLen(b)) return false;
  return la == 0 || std::memcmp(a, b, la) == 0;
}

bool ValueEquals(VARTYPE vt, const void* a, const void* b);

template <class T>
bool Same(const void* a, const void* b) {
  T x;
  T y;
  std::memcpy(&x, a, sizeof x);
  std::memcpy(&y, b, sizeof y);
  return x == y;
}

bool VariantEquals(const VARIANT& a, const VARIANT& b);

bool ArrayEquals(VARTYPE elementVt, SAFEARRAY* a, SAFEARRAY* b) {
  if (a == b) return true;
  if (!a || !b) return false;
  if (a->cDims != b->cDims || a->cbElements != b->cbElements) return false;
  std::size_t count = a->cDims ? 1 : 0;
  for (USHORT i = 0; i < a->cDims; ++i) {
    if (a->rgsabound[i].cElements != b->rgsabound[i].cElements ||
        a->rgsabound[i].lLbound != b->rgsabound[i].lLbound)
      return false;
    count *= a->rgsabound[i].cElements;
  }
  if (count == 0) return true;
  Check(SafeArrayLock(a));
  HRESULT hr = SafeArrayLock(b);
  if (FAILED(hr)) {
    SafeArrayUnlock(a);
    _com_issue_error(hr);
  }
  bool equal = true;
  const auto* pa = static_cast<const unsigned char*>(a->pvData);
  const auto* pb = static_cast<const unsigned char*>(b->pvData);
  try {
    for (std::size_t i = 0; equal && i < count; ++i)
      equal = ValueEquals(elementVt, pa + i * a->cbElements, pb + i * b->cbElements);
  } catch (...) {
    SafeArrayUnlock(b);
    SafeArrayUnlock(a);
    throw;
  }
  SafeArrayUnlock(b);
  SafeArrayUnlock(a);
  return equal;
}

// a and b point at values of type vt (the storage a VT_BYREF points to, an
// array element, or the value field of a VARIANT).
bool ValueEquals(VARTYPE vt, const void* a, const void* b) {
  switch (vt) {
    case VT_EMPTY:
    case VT_NULL:
      return true;
    case VT_I1:
    case VT_UI1:
      return Same<BYTE>(a, b);
    case VT_I2:
    case VT_UI2:
    case VT_BOOL:
      return Same<USHORT>(a, b);
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
    case VT_ERROR:
    case VT_HRESULT:
      return Same<ULONG>(a, b);
    case VT_I8:
    case VT_UI8:
    case VT_CY:
      return Same<ULONGLONG>(a, b);
    case VT_R4:
      return Same<float>(a, b);
    case VT_R8:
    case VT_DATE:
      return Same<double>(a, b);
    case VT_BSTR: {
      BSTR x;
      BSTR y;
      std::memcpy(&x, a, sizeof x);
      std::memcpy(&y, b, sizeof y);
      return BstrEquals(x, y);
    }
    case VT_UNKNOWN:
    case VT_DISPATCH:
      return Same<void*>(a, b);
    case VT_DECIMAL: {
      DECIMAL x;
      DECIMAL y;
      std::memcpy(&x, a, sizeof x);
      std::memcpy(&y, b, sizeof y);
      return DecimalEquals(x, y);
    }
    case VT_VARIANT:
      return VariantEquals(*static_cast<const VARIANT*>(a), *static_cast<const VARIANT*>(b));
    default:
      if (vt & VT_ARRAY) {
        SAFEARRAY* x;
        SAFEARRAY* y;
        std::memcpy(&x, a, sizeof x);
        std::memcpy(&y, b, sizeof y);
        return ArrayEquals(vt & VT_TYPEMASK, x, y);
      }
      _com_issue_error(E_INVALIDARG);
  }
}

bool VariantEquals(const VARIANT& a, const VARIANT& b) {
  if (&a == &b) return true;
  if (a.vt != b.vt) return false;
  const VARTYPE vt = a.vt;
  if (vt & VT_BYREF) {
    if (a.byref == b.byref) return true;
    if (!a.byref || !b.byref) return false;
    return ValueEquals(vt & ~VT_BYREF, a.byref, b.byref);
  }
  if (vt == VT_DECIMAL) return DecimalEquals(a.decVal, b.decVal);
  return ValueEquals(vt, &a.llVal, &b.llVal);
}

}  // namespace

_variant_t::_variant_t(const VARIANT& var) {
  VariantInit(this);
  Check(VariantCopy(this, &var));
}

_variant_t::_variant_t(const VARIANT* pvar) {
  VariantInit(this);
  if (pvar) Check(VariantCopy(this, pvar));
}

_variant_t::_variant_t(const _variant_t& var) : _variant_t(static_cast<const VARIANT&>(var)) {}

_variant_t::_variant_t(_variant_t&& var) noexcept : VARIANT(static_cast<VARIANT&>(var)) { var.vt = VT_EMPTY; }

_variant_t::_variant_t(VARIANT& var, bool fCopy) {
  VariantInit(this);
  if (fCopy) {
    Check(VariantCopy(this, &var));
  } else {
    static_cast<VARIANT&>(*this) = var;
    var.vt = VT_EMPTY;
  }
}

_variant_t::_variant_t(short s, VARTYPE vtSrc) {
  VariantInit(this);
  if (vtSrc == VT_BOOL) {
    vt = VT_BOOL;
    boolVal = s ? VARIANT_TRUE : VARIANT_FALSE;
  } else if (vtSrc == VT_I2) {
    vt = VT_I2;
    iVal = s;
  } else {
    _com_issue_error(E_INVALIDARG);
  }
}

_variant_t::_variant_t(int l, VARTYPE vtSrc) {
  VariantInit(this);
  switch (vtSrc) {
    case VT_I4:
      lVal = l;
      break;
    case VT_INT:
      intVal = l;
      break;
    case VT_ERROR:
      scode = l;
      break;
    case VT_BOOL:
      boolVal = l ? VARIANT_TRUE : VARIANT_FALSE;
      break;
    default:
      _com_issue_error(E_INVALIDARG);
  }
  vt = vtSrc;
}

_variant_t::_variant_t(float f, VARTYPE vtSrc) {
  VariantInit(this);
  if (vtSrc != VT_R4) _com_issue_error(E_INVALIDARG);
  vt = VT_R4;
  fltVal = f;
}

_variant_t::_variant_t(double d, VARTYPE vtSrc) {
  VariantInit(this);
  if (vtSrc != VT_R8 && vtSrc != VT_DATE) _com_issue_error(E_INVALIDARG);
  vt = vtSrc;
  dblVal = d;
}

_variant_t::_variant_t(const CY& cy) noexcept {
  VariantInit(this);
  vt = VT_CY;
  cyVal = cy;
}

_variant_t::_variant_t(const DECIMAL& dec) noexcept {
  VariantInit(this);
  decVal = dec;  // overlays the whole VARIANT, so the type goes in afterwards
  vt = VT_DECIMAL;
}

_variant_t::_variant_t(const _bstr_t& s) {
  VariantInit(this);
  BSTR copy = s.copy(true);
  vt = VT_BSTR;
  bstrVal = copy;
}

_variant_t::_variant_t(const char16_t* s) : _variant_t(_bstr_t(s)) {
  // A null text still makes a VT_BSTR (holding the null BSTR, the empty text).
}

_variant_t::_variant_t(std::u16string_view s) : _variant_t(_bstr_t(s)) {}

_variant_t::_variant_t(IDispatch* p, bool fAddRef) noexcept {
  VariantInit(this);
  vt = VT_DISPATCH;
  pdispVal = p;
  if (p && fAddRef) p->AddRef();
}

_variant_t::_variant_t(IUnknown* p, bool fAddRef) noexcept {
  VariantInit(this);
  vt = VT_UNKNOWN;
  punkVal = p;
  if (p && fAddRef) p->AddRef();
}

_variant_t::_variant_t(bool b) noexcept {
  VariantInit(this);
  vt = VT_BOOL;
  boolVal = b ? VARIANT_TRUE : VARIANT_FALSE;
}

_variant_t::_variant_t(BYTE b) noexcept {
  VariantInit(this);
  vt = VT_UI1;
  bVal = b;
}

_variant_t::_variant_t(char c) noexcept {
  VariantInit(this);
  vt = VT_I1;
  cVal = c;
}

_variant_t::_variant_t(unsigned short u) noexcept {
  VariantInit(this);
  vt = VT_UI2;
  uiVal = u;
}

_variant_t::_variant_t(unsigned int u, VARTYPE vtSrc) {
  VariantInit(this);
  if (vtSrc != VT_UI4 && vtSrc != VT_UINT) _com_issue_error(E_INVALIDARG);
  vt = vtSrc;
  ulVal = u;
}

_variant_t::_variant_t(long ll) noexcept {
  VariantInit(this);
  vt = VT_I8;
  llVal = ll;
}

_variant_t::_variant_t(long long ll) noexcept {
  VariantInit(this);
  vt = VT_I8;
  llVal = ll;
}

_variant_t::_variant_t(unsigned long ull) noexcept {
  VariantInit(this);
  vt = VT_UI8;
  ullVal = ull;
}

_variant_t::_variant_t(unsigned long long ull) noexcept {
  VariantInit(this);
  vt = VT_UI8;
  ullVal = ull;
}

_variant_t::~_variant_t() { VariantClear(this); }

_variant_t& _variant_t::operator=(const _variant_t& var) { return *this = static_cast<const VARIANT&>(var); }

_variant_t& _variant_t::operator=(_variant_t&& var) noexcept {
  if (this != &var) {
    VariantClear(this);
    static_cast<VARIANT&>(*this) = var;
    var.vt = VT_EMPTY;
  }
  return *this;
}

_variant_t& _variant_t::operator=(const VARIANT& var) {
  if (this != &var) Check(VariantCopy(this, &var));  // VariantCopy clears the target first
  return *this;
}

bool _variant_t::operator==(const VARIANT& var) const { return VariantEquals(*this, var); }

void _variant_t::Clear() { Check(VariantClear(this)); }

void _variant_t::ChangeType(VARTYPE vartype, const _variant_t* src) {
  if (!src) src = this;
  if (src == this && vt == vartype) return;
  _variant_t converted;
  Check(VariantChangeType(&converted, src, 0, vartype));
  *this = std::move(converted);
}

void _variant_t::Attach(VARIANT& var) {
  Clear();
  static_cast<VARIANT&>(*this) = var;
  var.vt = VT_EMPTY;
}

VARIANT _variant_t::Detach() noexcept {
  VARIANT out = *this;
  vt = VT_EMPTY;
  return out;
}

VARIANT* _variant_t::GetAddress() {
  Clear();
  return this;
}

void _variant_t::SetString(const char16_t* s) { *this = _variant_t(s); }

void _variant_t::Converted(VARTYPE type, VARIANT& out) const {
  VariantInit(&out);
  Check(VariantChangeType(&out, this, 0, type));
}

#define VEL_VARIANT_CONVERSION(Type, VT, field) \
  _variant_t::operator Type() const {           \
    if (vt == VT) return field;                 \
    _variant_t tmp;                             \
    Converted(VT, tmp);                         \
    return tmp.field;                           \
  }

VEL_VARIANT_CONVERSION(short, VT_I2, iVal)
VEL_VARIANT_CONVERSION(int, VT_I4, lVal)
VEL_VARIANT_CONVERSION(unsigned int, VT_UI4, ulVal)
VEL_VARIANT_CONVERSION(long, VT_I8, llVal)
VEL_VARIANT_CONVERSION(unsigned long, VT_UI8, ullVal)
VEL_VARIANT_CONVERSION(float, VT_R4, fltVal)
VEL_VARIANT_CONVERSION(double, VT_R8, dblVal)
VEL_VARIANT_CONVERSION(BYTE, VT_UI1, bVal)
VEL_VARIANT_CONVERSION(char, VT_I1, cVal)
VEL_VARIANT_CONVERSION(unsigned short, VT_UI2, uiVal)
VEL_VARIANT_CONVERSION(CY, VT_CY, cyVal)
VEL_VARIANT_CONVERSION(DECIMAL, VT_DECIMAL, decVal)
#undef VEL_VARIANT_CONVERSION

_variant_t::operator bool() const {
  if (vt == VT_BOOL) return boolVal != VARIANT_FALSE;
  _variant_t tmp;
  Converted(VT_BOOL, tmp);
  return tmp.boolVal != VARIANT_FALSE;
}

_variant_t::operator _bstr_t() const { return _bstr_t(*this); }
