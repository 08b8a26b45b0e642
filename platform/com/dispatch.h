// IDispatch from a table: each dual interface carries one static member table
// naming its members, DISPIDs, kinds and parameter types; DispatchImpl<I>
// implements GetIDsOfNames and Invoke from it. The same table can drive the
// type-library keys written at registration.
//
//   struct IFoo : IDispatch {
//     STDMETHOD(Add)(LONG a, LONG b, LONG* pSum) = 0;          // [out, retval] last
//     STDMETHOD(get_Name)(BSTR* pVal) = 0;
//     STDMETHOD(put_Name)(BSTR val) = 0;
//     STDMETHOD(Split)(BSTR text, BSTR* pHead) = 0;            // [out] BSTR*, no retval
//     static const vel::com::DispatchTable kDispatch;
//   };
//   inline const vel::com::DispatchTable IFoo::kDispatch = {
//       vel::com::DispMethod<&IFoo::Add>(u"Add", 1),
//       vel::com::DispPropGet<&IFoo::get_Name>(u"Name", 2),
//       vel::com::DispPropPut<&IFoo::put_Name>(u"Name", 2),
//       vel::com::DispMethodNoRetval<&IFoo::Split>(u"Split", 3),
//   };
//   class CFoo : public vel::com::Implements<vel::com::DispatchImpl<IFoo>> { ... };
//
// Parameter types: [in] BSTR, LONG (VT_I4), VARIANT_BOOL, VARIANT, and
// interface pointers (VT_UNKNOWN/VT_DISPATCH, asked for the declared interface);
// [out] and [out, retval] BSTR*, LONG*, VARIANT_BOOL*, VARIANT*, I**. Arguments
// are converted with VariantChangeType. A failing member makes Invoke answer
// DISP_E_EXCEPTION with EXCEPINFO filled from the thread's error info.
//
// Thread safety: tables are immutable after static initialisation.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "platform/com/combase.h"
#include "platform/com/interfaces.h"
#include "platform/com/oleauto.h"

namespace vel::com {

enum class DispKind : BYTE { Method, PropGet, PropPut };

// Calls the member with the arguments of dp; argErr receives the rgvarg index
// of an argument that cannot be converted; called tells whether the member ran.
using DispInvokeFn = HRESULT (*)(IDispatch* self, DISPPARAMS* dp, VARIANT* result, UINT* argErr, bool* called);

struct DispMember {
  const char16_t* name;
  DISPID dispid;
  DispKind kind;
  const VARTYPE* params;  // the caller's arguments in order; [out] ones carry VT_BYREF
  UINT paramCount;        // without the retval
  VARTYPE retval;         // VT_EMPTY when the member has none
  DispInvokeFn invoke;
};

class DispatchTable {
 public:
  DispatchTable(std::initializer_list<DispMember> members) : members_(members) {}
  const std::vector<DispMember>& Members() const noexcept { return members_; }
  // The member answering dispid for the kinds in flags; null if none.
  const DispMember* Find(DISPID dispid, WORD flags) const noexcept;
  // The DISPID of a name, ignoring case; DISPID_UNKNOWN if none.
  DISPID IdOfName(const char16_t* name) const noexcept;

 private:
  std::vector<DispMember> members_;
};

HRESULT DispatchGetIDsOfNames(const DispatchTable& table, REFIID riid, LPOLESTR* names, UINT cNames, DISPID* ids);
HRESULT DispatchInvoke(const DispatchTable& table, IDispatch* self, DISPID dispid, REFIID riid, WORD flags,
                       DISPPARAMS* dp, VARIANT* result, EXCEPINFO* excepInfo, UINT* argErr);

namespace detail {

template <class T>
constexpr bool kIsInterface = std::is_class_v<T> && std::is_base_of_v<IUnknown, T>;

// VARTYPE of a value type.
template <class T>
constexpr VARTYPE ValueVt() {
  if constexpr (std::is_same_v<T, BSTR>)
    return VT_BSTR;
  else if constexpr (std::is_same_v<T, LONG>)
    return VT_I4;
  else if constexpr (std::is_same_v<T, VARIANT_BOOL>)
    return VT_BOOL;
  else if constexpr (std::is_same_v<T, VARIANT>)
    return VT_VARIANT;
  else if constexpr (std::is_pointer_v<T> && kIsInterface<std::remove_pointer_t<T>>)
    return std::is_base_of_v<IDispatch, std::remove_pointer_t<T>> ? VT_DISPATCH : VT_UNKNOWN;
  else
    static_assert(sizeof(T) == 0, "parameter type not supported by the dispatch table");
}

template <class T>
void FreeValue(T& v) noexcept {
  if constexpr (std::is_same_v<T, BSTR>) {
    SysFreeString(v);
  } else if constexpr (std::is_same_v<T, VARIANT>) {
    VariantClear(&v);
  } else if constexpr (std::is_pointer_v<T>) {
    if (v) v->Release();
  }
  v = T{};
}

// Moves v into the VARIANT out (which is empty), leaving v empty.
template <class T>
void MoveToVariant(T& v, VARIANT* out) noexcept {
  if constexpr (std::is_same_v<T, VARIANT>) {
    *out = v;
    VariantInit(&v);
  } else {
    VariantInit(out);
    out->vt = ValueVt<T>();
    if constexpr (std::is_same_v<T, BSTR>)
      out->bstrVal = v;
    else if constexpr (std::is_same_v<T, LONG>)
      out->lVal = v;
    else if constexpr (std::is_same_v<T, VARIANT_BOOL>)
      out->boolVal = v;
    else if constexpr (std::is_base_of_v<IDispatch, std::remove_pointer_t<T>>)
      out->pdispVal = static_cast<IDispatch*>(v);
    else
      out->punkVal = static_cast<IUnknown*>(v);
    v = T{};
  }
}

// Converts an argument to a scalar type held in a VARIANT of type VT.
HRESULT ConvertArg(VARIANTARG* src, VARTYPE vt, VARIANT* out) noexcept;
// Follows VT_BYREF|VT_VARIANT to the VARIANT it points to.
VARIANTARG* Deref(VARIANTARG* src) noexcept;
// An interface argument as IUnknown (no reference), or an error.
HRESULT UnknownArg(VARIANTARG* src, IUnknown** punk) noexcept;

template <class T, class = void>
struct InArg {
  static constexpr VARTYPE kVt = ValueVt<T>();
  VARIANT v;
  InArg() noexcept { VariantInit(&v); }
  ~InArg() { VariantClear(&v); }
  HRESULT Load(VARIANTARG* src) noexcept { return ConvertArg(src, kVt, &v); }
  T Get() noexcept {
    if constexpr (std::is_same_v<T, BSTR>)
      return v.bstrVal;
    else if constexpr (std::is_same_v<T, LONG>)
      return v.lVal;
    else
      return v.boolVal;
  }
};

template <>
struct InArg<VARIANT, void> {
  static constexpr VARTYPE kVt = VT_VARIANT;
  VARIANTARG* src = nullptr;
  HRESULT Load(VARIANTARG* s) noexcept {
    src = Deref(s);
    return src ? S_OK : DISP_E_TYPEMISMATCH;
  }
  VARIANT Get() noexcept { return *src; }  // a view: the member does not own it
};

template <class I>
struct InArg<I*, std::enable_if_t<kIsInterface<I>>> {
  static constexpr VARTYPE kVt = ValueVt<I*>();
  I* p = nullptr;
  ~InArg() {
    if (p) p->Release();
  }
  HRESULT Load(VARIANTARG* src) noexcept {
    IUnknown* unk = nullptr;
    HRESULT hr = UnknownArg(src, &unk);
    if (FAILED(hr)) return hr;
    if (unk && FAILED(unk->QueryInterface(__uuidof(I), reinterpret_cast<void**>(&p)))) {
      p = nullptr;
      return DISP_E_TYPEMISMATCH;
    }
    return S_OK;
  }
  I* Get() noexcept { return p; }
};

template <class T>
struct OutArg {
  static constexpr VARTYPE kVt = ValueVt<T>();
  T value{};
  T* target = &value;
  VARIANT* writeback = nullptr;
  ~OutArg() { FreeValue(value); }
  // [out] parameter passed by reference.
  HRESULT Load(VARIANTARG* src) noexcept {
    if (src->vt == (VT_BYREF | kVt) && src->byref) {
      target = static_cast<T*>(src->byref);
      return S_OK;
    }
    if (src->vt == (VT_BYREF | VT_VARIANT) && src->pvarVal) {
      writeback = src->pvarVal;
      return S_OK;
    }
    return DISP_E_TYPEMISMATCH;
  }
  T* Get() noexcept { return target; }
  void FinishRetval(VARIANT* result) noexcept {
    if (result) MoveToVariant(value, result);
  }
  void FinishByRef() noexcept {
    if (writeback) {
      VariantClear(writeback);
      MoveToVariant(value, writeback);
    }
  }
};

template <class P>
struct SlotOf {
  using type = InArg<P>;
};
template <class T>
struct SlotOf<T*> {
  using type = std::conditional_t<kIsInterface<T>, InArg<T*>, OutArg<T>>;
};
template <>
struct SlotOf<BSTR> {
  using type = InArg<BSTR>;
};

template <class M>
struct MethodTraits;
template <class C, class... A>
struct MethodTraits<HRESULT (C::*)(A...)> {
  using Class = C;
  static constexpr std::size_t kCount = sizeof...(A);
  template <std::size_t I>
  using Slot = typename SlotOf<std::tuple_element_t<I, std::tuple<A...>>>::type;
  using Slots = std::tuple<typename SlotOf<A>::type...>;
};

template <class Slot, class = void>
struct IsOutSlot : std::false_type {};
template <class Slot>
struct IsOutSlot<Slot, std::void_t<decltype(&Slot::FinishByRef)>> : std::true_type {};

template <auto M, bool Retval, std::size_t... I>
HRESULT InvokeWith(IDispatch* self, DISPPARAMS* dp, VARIANT* result, UINT* argErr, bool* called,
                   std::index_sequence<I...>) {
  using Traits = MethodTraits<decltype(M)>;
  constexpr std::size_t kInputs = Traits::kCount - (Retval ? 1 : 0);
  typename Traits::Slots slots;
  HRESULT hr = S_OK;
  auto load = [&](auto& slot, std::size_t index) {
    if (FAILED(hr) || index >= kInputs) return;
    const UINT at = dp->cArgs - 1 - static_cast<UINT>(index);
    hr = slot.Load(&dp->rgvarg[at]);
    if (FAILED(hr) && argErr) *argErr = at;
  };
  (void)load;  // a member without parameters folds over nothing
  (load(std::get<I>(slots), I), ...);
  if (FAILED(hr)) return hr;
  *called = true;
  try {
    hr = (static_cast<typename Traits::Class*>(self)->*M)(std::get<I>(slots).Get()...);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
  if (FAILED(hr)) return hr;
  auto finish = [&](auto& slot, std::size_t index) {
    using S = std::remove_reference_t<decltype(slot)>;
    if constexpr (IsOutSlot<S>::value) {
      if (Retval && index == Traits::kCount - 1)
        slot.FinishRetval(result);
      else
        slot.FinishByRef();
    }
  };
  (void)finish;
  (finish(std::get<I>(slots), I), ...);
  return hr;
}

template <auto M, bool Retval>
HRESULT Invoke(IDispatch* self, DISPPARAMS* dp, VARIANT* result, UINT* argErr, bool* called) {
  using Traits = MethodTraits<decltype(M)>;
  return InvokeWith<M, Retval>(self, dp, result, argErr, called, std::make_index_sequence<Traits::kCount>());
}

template <class P>
constexpr VARTYPE ParamVt() {
  using S = typename SlotOf<P>::type;
  return IsOutSlot<S>::value ? static_cast<VARTYPE>(VT_BYREF | S::kVt) : S::kVt;
}

template <auto M>
struct ParamTypes;
template <class C, class... A, HRESULT (C::*M)(A...)>
struct ParamTypes<M> {
  static constexpr VARTYPE kTypes[sizeof...(A) + 1] = {ParamVt<A>()..., VT_EMPTY};
};

template <auto M, bool Retval>
DispMember Make(const char16_t* name, DISPID dispid, DispKind kind) {
  using Traits = MethodTraits<decltype(M)>;
  static_assert(!Retval || Traits::kCount > 0, "a retval needs a parameter");
  VARTYPE retval = VT_EMPTY;
  UINT count = static_cast<UINT>(Traits::kCount);
  if constexpr (Retval) {
    using Last = typename Traits::template Slot<Traits::kCount - 1>;
    static_assert(IsOutSlot<Last>::value, "the retval must be the last, pointer, parameter");
    retval = Last::kVt;
    --count;
  }
  return DispMember{name, dispid, kind, ParamTypes<M>::kTypes, count, retval, &Invoke<M, Retval>};
}

}  // namespace detail

// A method whose last pointer parameter is its [out, retval] (none if its last
// parameter is an [in] one).
template <auto M>
DispMember DispMethod(const char16_t* name, DISPID dispid) {
  using Traits = detail::MethodTraits<decltype(M)>;
  if constexpr (Traits::kCount == 0) {
    return detail::Make<M, false>(name, dispid, DispKind::Method);
  } else {
    constexpr bool kRetval = detail::IsOutSlot<typename Traits::template Slot<Traits::kCount - 1>>::value;
    return detail::Make<M, kRetval>(name, dispid, DispKind::Method);
  }
}
// A method without retval: its pointer parameters are [out] by reference.
template <auto M>
DispMember DispMethodNoRetval(const char16_t* name, DISPID dispid) {
  return detail::Make<M, false>(name, dispid, DispKind::Method);
}
template <auto M>
DispMember DispPropGet(const char16_t* name, DISPID dispid) {
  return detail::Make<M, true>(name, dispid, DispKind::PropGet);
}
template <auto M>
DispMember DispPropPut(const char16_t* name, DISPID dispid) {
  return detail::Make<M, false>(name, dispid, DispKind::PropPut);
}

// IDispatch of the dual interface Itf, from Itf::kDispatch. List it in
// Implements<> in place of Itf.
template <class Itf>
class DispatchImpl : public Itf {
 public:
  using VelInterface = Itf;
  STDMETHOD(GetTypeInfoCount)(UINT* pctinfo) override {
    if (!pctinfo) return E_INVALIDARG;
    *pctinfo = 0;
    return S_OK;
  }
  STDMETHOD(GetTypeInfo)(UINT, LCID, ITypeInfo** ppTInfo) override {
    if (ppTInfo) *ppTInfo = nullptr;
    return E_NOTIMPL;
  }
  STDMETHOD(GetIDsOfNames)(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID, DISPID* rgDispId) override {
    return DispatchGetIDsOfNames(Itf::kDispatch, riid, rgszNames, cNames, rgDispId);
  }
  STDMETHOD(Invoke)(DISPID dispIdMember, REFIID riid, LCID, WORD wFlags, DISPPARAMS* pDispParams,
                    VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) override {
    return DispatchInvoke(Itf::kDispatch, static_cast<IDispatch*>(this), dispIdMember, riid, wFlags, pDispParams,
                          pVarResult, pExcepInfo, puArgErr);
  }
};

}  // namespace vel::com
