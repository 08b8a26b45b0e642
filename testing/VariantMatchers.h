// Test helpers for the OLE Automation tests: an owning VARIANT, value
// comparison with readable failure text, a counting IDispatch object and a
// scope that sets the locale environment variables.
//
// Thread safety: test code; a Var belongs to one thread, the locale scope
// changes process-wide environment variables.
#pragma once

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "platform/com/interfaces.h"
#include "platform/com/oleauto.h"
#include "platform/text.h"

namespace vel::testing {

class Var {
 public:
  Var() { VariantInit(&v_); }
  explicit Var(const VARIANT& raw) { v_ = raw; }  // takes ownership
  Var(const Var& other) {
    VariantInit(&v_);
    VariantCopy(&v_, &other.v_);
  }
  Var& operator=(const Var& other) {
    VariantCopy(&v_, &other.v_);
    return *this;
  }
  ~Var() { VariantClear(&v_); }
  VARIANT* get() { return &v_; }
  const VARIANT* get() const { return &v_; }
  VARIANT* operator->() { return &v_; }
  const VARIANT* operator->() const { return &v_; }

 private:
  VARIANT v_;
};

inline Var Make(VARTYPE vt, auto setter) {
  VARIANT v;
  VariantInit(&v);
  setter(v);
  if (vt != VT_DECIMAL) v.vt = vt;
  return Var(v);
}
inline Var Empty() {
  return Make(VT_EMPTY, [](VARIANT&) {});
}
inline Var Null() {
  return Make(VT_NULL, [](VARIANT&) {});
}
inline Var I1(CHAR x) {
  return Make(VT_I1, [&](VARIANT& v) { v.cVal = x; });
}
inline Var UI1(BYTE x) {
  return Make(VT_UI1, [&](VARIANT& v) { v.bVal = x; });
}
inline Var I2(SHORT x) {
  return Make(VT_I2, [&](VARIANT& v) { v.iVal = x; });
}
inline Var UI2(USHORT x) {
  return Make(VT_UI2, [&](VARIANT& v) { v.uiVal = x; });
}
inline Var I4(LONG x) {
  return Make(VT_I4, [&](VARIANT& v) { v.lVal = x; });
}
inline Var UI4(ULONG x) {
  return Make(VT_UI4, [&](VARIANT& v) { v.ulVal = x; });
}
inline Var Int(INT x) {
  return Make(VT_INT, [&](VARIANT& v) { v.intVal = x; });
}
inline Var I8(LONGLONG x) {
  return Make(VT_I8, [&](VARIANT& v) { v.llVal = x; });
}
inline Var UI8(ULONGLONG x) {
  return Make(VT_UI8, [&](VARIANT& v) { v.ullVal = x; });
}
inline Var R4(FLOAT x) {
  return Make(VT_R4, [&](VARIANT& v) { v.fltVal = x; });
}
inline Var R8(DOUBLE x) {
  return Make(VT_R8, [&](VARIANT& v) { v.dblVal = x; });
}
inline Var Date(DATE x) {
  return Make(VT_DATE, [&](VARIANT& v) { v.date = x; });
}
inline Var Bool(bool x) {
  return Make(VT_BOOL, [&](VARIANT& v) { v.boolVal = x ? VARIANT_TRUE : VARIANT_FALSE; });
}
inline Var Error(SCODE x) {
  return Make(VT_ERROR, [&](VARIANT& v) { v.scode = x; });
}
inline Var Cy(LONGLONG scaled) {
  return Make(VT_CY, [&](VARIANT& v) { v.cyVal.int64 = scaled; });
}
inline Var Str(std::u16string_view s) {
  return Make(VT_BSTR, [&](VARIANT& v) { v.bstrVal = SysAllocStringLen(s.data(), static_cast<UINT>(s.size())); });
}
// mantissa (up to 96 bits as hi:lo) / 10^scale
inline Var Dec(ULONGLONG lo, BYTE scale, bool neg = false, ULONG hi = 0) {
  return Make(VT_DECIMAL, [&](VARIANT& v) {
    v.decVal.Lo64 = lo;
    v.decVal.Hi32 = hi;
    v.decVal.scale = scale;
    v.decVal.sign = neg ? DECIMAL_NEG : 0;
    v.vt = VT_DECIMAL;
  });
}
inline Var Bytes(std::initializer_list<BYTE> bytes) {
  return Make(VT_ARRAY | VT_UI1, [&](VARIANT& v) {
    v.parray = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
    std::memcpy(v.parray->pvData, bytes.begin(), bytes.size());
  });
}
inline Var I4Array(std::initializer_list<LONG> values) {
  return Make(VT_ARRAY | VT_I4, [&](VARIANT& v) {
    v.parray = SafeArrayCreateVector(VT_I4, 0, static_cast<ULONG>(values.size()));
    std::memcpy(v.parray->pvData, values.begin(), values.size() * sizeof(LONG));
  });
}

inline std::string VtName(VARTYPE vt) {
  static const char* kNames[] = {"EMPTY", "NULL",     "I2",    "I4",   "R4",      "R8",      "CY",      "DATE",
                                 "BSTR",  "DISPATCH", "ERROR", "BOOL", "VARIANT", "UNKNOWN", "DECIMAL", "15",
                                 "I1",    "UI1",      "UI2",   "UI4",  "I8",      "UI8",     "INT",     "UINT"};
  std::string out;
  if (vt & VT_ARRAY) out += "ARRAY|";
  if (vt & VT_BYREF) out += "BYREF|";
  const VARTYPE base = vt & VT_TYPEMASK;
  out += base < std::size(kNames) ? kNames[base] : std::to_string(base);
  return out;
}

inline std::string Describe(const VARIANT& v) {
  std::string out = VtName(v.vt) + " ";
  switch (v.vt) {
    case VT_I1:
      return out + std::to_string(v.cVal);
    case VT_UI1:
      return out + std::to_string(v.bVal);
    case VT_I2:
      return out + std::to_string(v.iVal);
    case VT_UI2:
      return out + std::to_string(v.uiVal);
    case VT_I4:
      return out + std::to_string(v.lVal);
    case VT_INT:
      return out + std::to_string(v.intVal);
    case VT_UI4:
      return out + std::to_string(v.ulVal);
    case VT_UINT:
      return out + std::to_string(v.uintVal);
    case VT_I8:
      return out + std::to_string(v.llVal);
    case VT_UI8:
      return out + std::to_string(v.ullVal);
    case VT_BOOL:
      return out + std::to_string(v.boolVal);
    case VT_ERROR:
      return out + std::to_string(v.scode);
    case VT_CY:
      return out + std::to_string(v.cyVal.int64) + "/10000";
    case VT_R4: {
      char buf[64];
      std::snprintf(buf, sizeof buf, "%.9g", v.fltVal);
      return out + buf;
    }
    case VT_R8:
    case VT_DATE: {
      char buf[64];
      std::snprintf(buf, sizeof buf, "%.17g", v.vt == VT_R8 ? v.dblVal : v.date);
      return out + buf;
    }
    case VT_BSTR: {
      std::u16string s(v.bstrVal == nullptr ? u"" : v.bstrVal, SysStringLen(v.bstrVal));
      return out + "\"" + ToUtf8(s) + "\"";
    }
    case VT_DECIMAL:
      return out + (v.decVal.sign ? "-" : "") + std::to_string(v.decVal.Hi32) + ":" + std::to_string(v.decVal.Lo64) +
             "e-" + std::to_string(v.decVal.scale);
    default: {
      if ((v.vt & VT_ARRAY) && v.parray != nullptr) {
        out += "[";
        const BYTE* data = static_cast<const BYTE*>(v.parray->pvData);
        for (ULONG i = 0; i < v.parray->rgsabound[0].cElements * v.parray->cbElements; ++i) {
          out += std::to_string(data[i]) + " ";
        }
        return out + "]";
      }
      return out;
    }
  }
}

inline bool SameValue(const VARIANT& a, const VARIANT& b) {
  if (a.vt != b.vt) return false;
  switch (a.vt) {
    case VT_EMPTY:
    case VT_NULL:
      return true;
    case VT_I1:
    case VT_UI1:
      return a.bVal == b.bVal;
    case VT_I2:
    case VT_UI2:
    case VT_BOOL:
      return a.iVal == b.iVal;
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
    case VT_ERROR:
      return a.lVal == b.lVal;
    case VT_I8:
    case VT_UI8:
    case VT_CY:
      return a.llVal == b.llVal;
    case VT_R4:
      return a.fltVal == b.fltVal;
    case VT_R8:
      return a.dblVal == b.dblVal;
    case VT_DATE:
      return a.date == b.date;
    case VT_BSTR:
      return SysStringByteLen(a.bstrVal) == SysStringByteLen(b.bstrVal) &&
             std::memcmp(a.bstrVal == nullptr ? u"" : a.bstrVal, b.bstrVal == nullptr ? u"" : b.bstrVal,
                         SysStringByteLen(a.bstrVal)) == 0;
    case VT_DECIMAL:
      return a.decVal.scale == b.decVal.scale && a.decVal.sign == b.decVal.sign && a.decVal.Hi32 == b.decVal.Hi32 &&
             a.decVal.Lo64 == b.decVal.Lo64;
    case VT_UNKNOWN:
    case VT_DISPATCH:
      return a.punkVal == b.punkVal;
    default:
      if ((a.vt & VT_ARRAY) && a.parray != nullptr && b.parray != nullptr) {
        const std::size_t na = a.parray->rgsabound[0].cElements * a.parray->cbElements;
        const std::size_t nb = b.parray->rgsabound[0].cElements * b.parray->cbElements;
        return a.parray->cDims == 1 && b.parray->cDims == 1 && na == nb &&
               std::memcmp(a.parray->pvData, b.parray->pvData, na) == 0;
      }
      return false;
  }
}

// An object whose value property (DISPID_VALUE, property get) is a fixed VARIANT.
class ValueObject : public IDispatch {
 public:
  explicit ValueObject(Var value) : value_(std::move(value)) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IUnknown || (riid == IID_IDispatch && dispatchable)) {
      *ppv = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs; }  // lives on the test's stack
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* n) override {
    *n = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return DISP_E_UNKNOWNNAME;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                                   UINT*) override {
    ++invokes;
    if (id != DISPID_VALUE || !(flags & DISPATCH_PROPERTYGET) || params == nullptr || params->cArgs != 0) {
      return DISP_E_MEMBERNOTFOUND;
    }
    return VariantCopy(result, value_.get());
  }

  std::atomic<ULONG> refs{1};
  int invokes = 0;
  bool dispatchable = true;

 private:
  Var value_;
};

// Sets locale variables for one test and restores them afterwards.
class LocaleEnv {
 public:
  LocaleEnv() {
    for (const char* name : kNames) {
      const char* v = std::getenv(name);
      saved_[Index(name)] = v ? std::optional<std::string>(v) : std::nullopt;
      unsetenv(name);
    }
  }
  ~LocaleEnv() {
    for (const char* name : kNames) {
      const auto& v = saved_[Index(name)];
      if (v) {
        setenv(name, v->c_str(), 1);
      } else {
        unsetenv(name);
      }
    }
  }
  void Set(const char* name, const char* value) { setenv(name, value, 1); }

 private:
  static constexpr const char* kNames[] = {"LC_ALL", "LC_TIME", "LC_NUMERIC", "LANG"};
  static std::size_t Index(const char* name) {
    for (std::size_t i = 0; i < std::size(kNames); ++i) {
      if (std::strcmp(kNames[i], name) == 0) return i;
    }
    return 0;
  }
  std::optional<std::string> saved_[4];
};

}  // namespace vel::testing
