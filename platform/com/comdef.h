// C++ helpers over the COM types: _com_error (the exception a failed COM call
// raises), _bstr_t (shared, reference-counted BSTR), _variant_t (owning VARIANT)
// and ComPtr<T> (owning interface pointer).
//
// Thread safety: an object of these classes belongs to one thread at a time.
// Copies of a _bstr_t share their text with an atomic count, so copies may live
// on different threads. ComPtr only touches the object's own (thread-safe)
// reference count.
//
// Integer widths: LONG and int are 32 bits and give VT_I4, as the platform's
// `long` does; the 64-bit `long` of this ABI is LONGLONG and gives VT_I8.
#pragma once

#include <atomic>
#include <cstddef>
#include <string_view>
#include <utility>

#include "platform/com/combase.h"
#include "platform/com/interfaces.h"
#include "platform/com/oleauto.h"

class _bstr_t;
class _variant_t;

// ---------------------------------------------------------------------------
// _com_error

class _com_error {
 public:
  // Takes over the reference of perrinfo unless fAddRef asks for one of its own.
  explicit _com_error(HRESULT hr, IErrorInfo* perrinfo = nullptr, bool fAddRef = false) noexcept;
  _com_error(const _com_error& that) noexcept;
  _com_error& operator=(const _com_error& that) noexcept;
  virtual ~_com_error();

  HRESULT Error() const noexcept { return hr_; }
  // The dispatch error number for HRESULTs 0x80040200..0x8004FFFF, else 0.
  WORD WCode() const noexcept;
  // The error info with a reference for the caller (null when none).
  IErrorInfo* ErrorInfo() const noexcept;

  // Fields of the error info; empty (or GUID_NULL, 0) when there is none.
  _bstr_t Description() const;
  _bstr_t Source() const;
  _bstr_t HelpFile() const;
  DWORD HelpContext() const noexcept;
  ::GUID GUID() const noexcept;

  // The system's text for the HRESULT, without trailing line breaks; when the
  // system has none, "IDispatch error #%d" or "Unknown error 0x%08X".
  const char16_t* ErrorMessage() const noexcept;

  static HRESULT WCodeToHRESULT(WORD wCode) noexcept { return wCode >= 0xFE00 ? VEL_HR(0x80040201) : VEL_HR(0x80040200 + wCode); }
  static WORD HRESULTToWCode(HRESULT hr) noexcept;

 private:
  HRESULT hr_;
  IErrorInfo* info_;
  mutable char16_t* message_ = nullptr;  // computed on first use
};

[[noreturn]] void _com_issue_error(HRESULT hr);
// Raises hr with the thread's error info when punk says (ISupportErrorInfo)
// that riid reports error info.
[[noreturn]] void _com_issue_errorex(HRESULT hr, IUnknown* punk, REFIID riid);

// ---------------------------------------------------------------------------
// _bstr_t

class _bstr_t {
 public:
  _bstr_t() noexcept = default;
  _bstr_t(const _bstr_t& s) noexcept;
  _bstr_t(_bstr_t&& s) noexcept : data_(std::exchange(s.data_, nullptr)) {}
  _bstr_t(const char16_t* s);  // copies; null gives the null text
  _bstr_t(std::u16string_view s);
  // fCopy false takes ownership of bstr, true copies it (length-exact).
  _bstr_t(BSTR bstr, bool fCopy);
  _bstr_t(const _variant_t& var);  // converts to VT_BSTR; throws _com_error
  ~_bstr_t() { Release(); }

  _bstr_t& operator=(const _bstr_t& s) noexcept;
  _bstr_t& operator=(_bstr_t&& s) noexcept;
  _bstr_t& operator=(const char16_t* s);
  _bstr_t& operator=(const _variant_t& var);

  _bstr_t& operator+=(const _bstr_t& s);
  _bstr_t operator+(const _bstr_t& s) const;
  friend _bstr_t operator+(const char16_t* a, const _bstr_t& b);

  // The BSTR itself (null for the null text); valid while this object lives.
  operator const char16_t*() const noexcept { return data_ ? data_->bstr : nullptr; }
  operator char16_t*() const noexcept { return data_ ? data_->bstr : nullptr; }
  std::u16string_view view() const noexcept { return {data_ ? data_->bstr : u"", length()}; }

  bool operator!() const noexcept { return !data_ || !data_->bstr; }
  // Ordering by code units, the null text equal to the empty text.
  int compare(const _bstr_t& s) const noexcept;
  bool operator==(const _bstr_t& s) const noexcept { return compare(s) == 0; }
  bool operator!=(const _bstr_t& s) const noexcept { return compare(s) != 0; }
  bool operator<(const _bstr_t& s) const noexcept { return compare(s) < 0; }
  bool operator>(const _bstr_t& s) const noexcept { return compare(s) > 0; }
  bool operator<=(const _bstr_t& s) const noexcept { return compare(s) <= 0; }
  bool operator>=(const _bstr_t& s) const noexcept { return compare(s) >= 0; }
  bool operator==(const char16_t* s) const noexcept { return compare(_bstr_t(s)) == 0; }
  bool operator!=(const char16_t* s) const noexcept { return compare(_bstr_t(s)) != 0; }

  unsigned int length() const noexcept;
  // A new BSTR for the caller (fCopy) or this object's own one.
  BSTR copy(bool fCopy = true) const;
  // Replaces the text by a copy of s / by s itself (ownership taken).
  void Assign(BSTR s);
  void Attach(BSTR s);
  // Hands the BSTR to the caller; a text shared with other copies is copied.
  BSTR Detach();
  // Empties this object and returns the address of its BSTR for an out-parameter.
  BSTR* GetAddress();
  // This object's own BSTR, unshared first so it may be changed in place.
  BSTR& GetBSTR();

 private:
  struct Data {
    std::atomic<long> refs{1};
    BSTR bstr = nullptr;
  };
  void Release() noexcept;
  void MakeUnique();
  static Data* NewData(BSTR owned);
  Data* data_ = nullptr;
};

// ---------------------------------------------------------------------------
// _variant_t

class _variant_t : public VARIANT {
 public:
  _variant_t() noexcept { VariantInit(this); }
  _variant_t(const VARIANT& var);   // copies
  _variant_t(const VARIANT* pvar);  // copies; null gives VT_EMPTY
  _variant_t(const _variant_t& var);
  _variant_t(_variant_t&& var) noexcept;
  // fCopy false takes the value over and leaves var VT_EMPTY.
  _variant_t(VARIANT& var, bool fCopy);
  // vtSrc VT_I2 or VT_BOOL.
  _variant_t(short s, VARTYPE vtSrc = VT_I2);
  // vtSrc VT_I4, VT_INT, VT_ERROR or VT_BOOL.
  _variant_t(int l, VARTYPE vtSrc = VT_I4);
  _variant_t(float f, VARTYPE vtSrc = VT_R4);
  // vtSrc VT_R8 or VT_DATE.
  _variant_t(double d, VARTYPE vtSrc = VT_R8);
  _variant_t(const CY& cy) noexcept;
  _variant_t(const DECIMAL& dec) noexcept;
  _variant_t(const _bstr_t& s);
  _variant_t(const char16_t* s);
  _variant_t(std::u16string_view s);
  _variant_t(IDispatch* p, bool fAddRef = true) noexcept;
  _variant_t(IUnknown* p, bool fAddRef = true) noexcept;
  _variant_t(bool b) noexcept;
  _variant_t(BYTE b) noexcept;
  _variant_t(char c) noexcept;
  _variant_t(unsigned short u) noexcept;
  _variant_t(unsigned int u, VARTYPE vtSrc = VT_UI4);
  _variant_t(long ll) noexcept;                 // VT_I8 (LONGLONG)
  _variant_t(long long ll) noexcept;            // VT_I8
  _variant_t(unsigned long ull) noexcept;       // VT_UI8 (ULONGLONG)
  _variant_t(unsigned long long ull) noexcept;  // VT_UI8
  _variant_t(const char*) = delete;             // narrow text would silently become VT_BOOL
  ~_variant_t();

  _variant_t& operator=(const _variant_t& var);
  _variant_t& operator=(_variant_t&& var) noexcept;
  _variant_t& operator=(const VARIANT& var);
  template <class T>
  _variant_t& operator=(const T& value) {
    _variant_t tmp(value);
    return *this = std::move(tmp);
  }

  // Equality: the VARTYPEs must be equal, then the values: numbers, dates and
  // booleans by value (CY and DECIMAL too, so 1.0 equals 1.00); BSTRs by length
  // and content; interface pointers by identity of the pointer held; arrays by
  // element type, bounds and element values; VT_BYREF values by what they
  // point to. Other types (VT_RECORD ...) raise E_INVALIDARG.
  bool operator==(const VARIANT& var) const;
  bool operator==(const _variant_t& var) const { return *this == static_cast<const VARIANT&>(var); }

  void Clear();
  // Converts in place (or from src into this object); throws _com_error.
  void ChangeType(VARTYPE vartype, const _variant_t* src = nullptr);
  void Attach(VARIANT& var);
  VARIANT Detach() noexcept;
  VARIANT& GetVARIANT() noexcept { return *this; }
  // Clears and returns the address for an out-parameter.
  VARIANT* GetAddress();
  void SetString(const char16_t* s);

  // Conversions through VariantChangeType; throw _com_error on failure.
  operator short() const;
  operator int() const;  // LONG
  operator unsigned int() const;
  operator long() const;  // LONGLONG
  operator unsigned long() const;
  operator float() const;
  operator double() const;
  operator bool() const;
  operator BYTE() const;
  operator char() const;
  operator unsigned short() const;
  operator CY() const;
  operator DECIMAL() const;
  operator _bstr_t() const;

 private:
  void Converted(VARTYPE vt, VARIANT& out) const;
};

// ---------------------------------------------------------------------------
// ComPtr<T>

template <class T>
class ComPtr {
 public:
  using Interface = T;
  static const IID& GetIID() noexcept { return __uuidof(T); }

  ComPtr() noexcept = default;
  ComPtr(std::nullptr_t) noexcept {}
  ComPtr(T* p, bool fAddRef = true) noexcept : p_(p) {
    if (p_ && fAddRef) p_->AddRef();
  }
  ComPtr(const ComPtr& o) noexcept : ComPtr(o.p_) {}
  ComPtr(ComPtr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  // Another interface: a base interface is converted, any other one asked for.
  template <class U, class = std::enable_if_t<!std::is_same_v<U, T>>>
  ComPtr(U* p) noexcept {
    Assign(p);
  }
  template <class U, class = std::enable_if_t<!std::is_same_v<U, T>>>
  ComPtr(const ComPtr<U>& o) noexcept {
    Assign(o.GetInterfacePtr());
  }
  // Asks the VARIANT's VT_UNKNOWN/VT_DISPATCH object for T (null otherwise).
  explicit ComPtr(const VARIANT& var) noexcept {
    if (var.vt == VT_UNKNOWN || var.vt == VT_DISPATCH) Assign(var.punkVal);
  }
  // Creates an object of clsid (throws _com_error on failure, as a ptr typedef does).
  explicit ComPtr(REFCLSID clsid, IUnknown* outer = nullptr, DWORD ctx = CLSCTX_ALL) {
    HRESULT hr = CreateInstance(clsid, outer, ctx);
    if (FAILED(hr)) _com_issue_error(hr);
  }
  ~ComPtr() { Release(); }

  ComPtr& operator=(const ComPtr& o) noexcept {
    ComPtr tmp(o);
    Swap(tmp);
    return *this;
  }
  ComPtr& operator=(ComPtr&& o) noexcept {
    ComPtr tmp(std::move(o));
    Swap(tmp);
    return *this;
  }
  ComPtr& operator=(T* p) noexcept {
    ComPtr tmp(p);
    Swap(tmp);
    return *this;
  }
  ComPtr& operator=(std::nullptr_t) noexcept {
    Release();
    return *this;
  }
  template <class U, class = std::enable_if_t<!std::is_same_v<U, T>>>
  ComPtr& operator=(U* p) noexcept {
    ComPtr tmp(p);
    Swap(tmp);
    return *this;
  }

  void Swap(ComPtr& o) noexcept { std::swap(p_, o.p_); }
  void Attach(T* p, bool fAddRef = false) noexcept {
    T* old = p_;
    p_ = p;
    if (p_ && fAddRef) p_->AddRef();
    if (old) old->Release();
  }
  T* Detach() noexcept { return std::exchange(p_, nullptr); }
  void Release() noexcept {
    if (T* p = std::exchange(p_, nullptr)) p->Release();
  }
  void AddRef() noexcept {
    if (p_) p_->AddRef();
  }

  T* GetInterfacePtr() const noexcept { return p_; }
  T* get() const noexcept { return p_; }
  T* operator->() const noexcept { return p_; }
  T& operator*() const noexcept { return *p_; }
  operator T*() const noexcept { return p_; }
  explicit operator bool() const noexcept { return p_ != nullptr; }
  bool operator!() const noexcept { return p_ == nullptr; }
  // Releases what is held: the address is for an out-parameter.
  T** operator&() noexcept {
    Release();
    return &p_;
  }
  T** GetAddressOf() noexcept {
    Release();
    return &p_;
  }

  HRESULT QueryInterface(REFIID riid, void** ppv) const noexcept {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    return p_ ? p_->QueryInterface(riid, ppv) : E_POINTER;
  }
  template <class Q>
  HRESULT QueryInterface(Q** pp) const noexcept {
    return QueryInterface(__uuidof(Q), reinterpret_cast<void**>(pp));
  }
  template <class Q>
  HRESULT QueryInterface(ComPtr<Q>& out) const noexcept {
    return QueryInterface(__uuidof(Q), reinterpret_cast<void**>(&out));
  }

  HRESULT CreateInstance(REFCLSID clsid, IUnknown* outer = nullptr, DWORD ctx = CLSCTX_ALL) noexcept;

  // Object identity: both pointers lead to the same IUnknown.
  template <class U>
  bool IsSameObject(U* other) const noexcept {
    if (static_cast<void*>(p_) == static_cast<void*>(other)) return true;
    if (!p_ || !other) return false;
    IUnknown* a = nullptr;
    IUnknown* b = nullptr;
    p_->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&a));
    other->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&b));
    bool same = a && a == b;
    if (a) a->Release();
    if (b) b->Release();
    return same;
  }

 private:
  template <class U>
  void Assign(U* p) noexcept {
    if constexpr (std::is_convertible_v<U*, T*>) {
      Attach(static_cast<T*>(p), true);
    } else {
      T* q = nullptr;
      if (p) p->QueryInterface(__uuidof(T), reinterpret_cast<void**>(&q));
      Attach(q);
    }
  }
  T* p_ = nullptr;
};

template <class T>
HRESULT ComPtr<T>::CreateInstance(REFCLSID clsid, IUnknown* outer, DWORD ctx) noexcept {
  Release();
  // An aggregated object can only hand out its inner IUnknown first.
  if (outer) {
    IUnknown* inner = nullptr;
    HRESULT hr = CoCreateInstance(clsid, outer, ctx, IID_IUnknown, reinterpret_cast<void**>(&inner));
    if (FAILED(hr)) return hr;
    if constexpr (std::is_same_v<T, IUnknown>) {
      p_ = inner;
      return hr;
    } else {
      hr = inner->QueryInterface(__uuidof(T), reinterpret_cast<void**>(&p_));
      inner->Release();
      return hr;
    }
  }
  return CoCreateInstance(clsid, nullptr, ctx, __uuidof(T), reinterpret_cast<void**>(&p_));
}

// Declares IFooPtr as ComPtr<IFoo>.
#define VEL_SMARTPTR_TYPEDEF(Itf) using Itf##Ptr = ComPtr<Itf>

VEL_SMARTPTR_TYPEDEF(IUnknown);
VEL_SMARTPTR_TYPEDEF(IDispatch);
VEL_SMARTPTR_TYPEDEF(IEnumVARIANT);
VEL_SMARTPTR_TYPEDEF(IClassFactory);
VEL_SMARTPTR_TYPEDEF(ISupportErrorInfo);
VEL_SMARTPTR_TYPEDEF(IErrorInfo);
VEL_SMARTPTR_TYPEDEF(ICreateErrorInfo);
