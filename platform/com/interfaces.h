// The platform's base COM interfaces, in vtable slot order, with their IIDs.
//
// Interfaces are abstract structs without a virtual destructor, so the vtable
// holds exactly the methods below in the order listed, as COM requires.
#pragma once

#include "platform/com/hresult.h"
#include "platform/com/types.h"

#define STDMETHODCALLTYPE
#define STDMETHOD(name) virtual HRESULT STDMETHODCALLTYPE name
#define STDMETHOD_(type, name) virtual type STDMETHODCALLTYPE name

extern "C" {
extern const IID IID_IUnknown;
extern const IID IID_IDispatch;
extern const IID IID_IEnumVARIANT;
extern const IID IID_IClassFactory;
extern const IID IID_ISupportErrorInfo;
extern const IID IID_IErrorInfo;
extern const IID IID_ICreateErrorInfo;
extern const IID IID_ITypeInfo;
}

// Associates an interface type with its IID, for the smart pointer and the
// object template: __uuidof(T) reads VelIidOf<T>::value.
template <class T>
struct VelIidOf;
#define VEL_DECLARE_IID(Itf, iidConst)                 \
  template <>                                          \
  struct VelIidOf<Itf> {                               \
    static const IID& value() noexcept { return iidConst; } \
  }
#define __uuidof(T) (VelIidOf<std::remove_cv_t<std::remove_pointer_t<T>>>::value())

#include <type_traits>

struct IUnknown {
  STDMETHOD(QueryInterface)(REFIID riid, void** ppvObject) = 0;
  STDMETHOD_(ULONG, AddRef)() = 0;
  STDMETHOD_(ULONG, Release)() = 0;

  template <class Q>
  HRESULT QueryInterface(Q** pp) {
    return QueryInterface(__uuidof(Q), reinterpret_cast<void**>(pp));
  }
};
VEL_DECLARE_IID(IUnknown, IID_IUnknown);

struct ITypeInfo;  // type information is not offered; GetTypeInfo answers E_NOTIMPL

struct IDispatch : IUnknown {
  STDMETHOD(GetTypeInfoCount)(UINT* pctinfo) = 0;
  STDMETHOD(GetTypeInfo)(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) = 0;
  STDMETHOD(GetIDsOfNames)(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid, DISPID* rgDispId) = 0;
  STDMETHOD(Invoke)(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags, DISPPARAMS* pDispParams,
                    VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) = 0;
};
VEL_DECLARE_IID(IDispatch, IID_IDispatch);

struct IEnumVARIANT : IUnknown {
  STDMETHOD(Next)(ULONG celt, VARIANT* rgVar, ULONG* pCeltFetched) = 0;
  STDMETHOD(Skip)(ULONG celt) = 0;
  STDMETHOD(Reset)() = 0;
  STDMETHOD(Clone)(IEnumVARIANT** ppEnum) = 0;
};
VEL_DECLARE_IID(IEnumVARIANT, IID_IEnumVARIANT);

struct IClassFactory : IUnknown {
  STDMETHOD(CreateInstance)(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) = 0;
  STDMETHOD(LockServer)(BOOL fLock) = 0;
};
VEL_DECLARE_IID(IClassFactory, IID_IClassFactory);

struct ISupportErrorInfo : IUnknown {
  STDMETHOD(InterfaceSupportsErrorInfo)(REFIID riid) = 0;
};
VEL_DECLARE_IID(ISupportErrorInfo, IID_ISupportErrorInfo);

struct IErrorInfo : IUnknown {
  STDMETHOD(GetGUID)(GUID* pGUID) = 0;
  STDMETHOD(GetSource)(BSTR* pBstrSource) = 0;
  STDMETHOD(GetDescription)(BSTR* pBstrDescription) = 0;
  STDMETHOD(GetHelpFile)(BSTR* pBstrHelpFile) = 0;
  STDMETHOD(GetHelpContext)(DWORD* pdwHelpContext) = 0;
};
VEL_DECLARE_IID(IErrorInfo, IID_IErrorInfo);

struct ICreateErrorInfo : IUnknown {
  STDMETHOD(SetGUID)(REFGUID rguid) = 0;
  STDMETHOD(SetSource)(LPOLESTR szSource) = 0;
  STDMETHOD(SetDescription)(LPOLESTR szDescription) = 0;
  STDMETHOD(SetHelpFile)(LPOLESTR szHelpFile) = 0;
  STDMETHOD(SetHelpContext)(DWORD dwHelpContext) = 0;
};
VEL_DECLARE_IID(ICreateErrorInfo, IID_ICreateErrorInfo);
