// The table-driven parts of IDispatch that do not depend on the interface.
#include "platform/com/dispatch.h"

#include "platform/text.h"

namespace vel::com {

namespace {

bool KindAnswers(DispKind kind, WORD flags) noexcept {
  switch (kind) {
    case DispKind::Method:
      return (flags & DISPATCH_METHOD) != 0;
    case DispKind::PropGet:
      return (flags & DISPATCH_PROPERTYGET) != 0;
    case DispKind::PropPut:
      return (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0;
  }
  return false;
}

void FillExcepInfo(EXCEPINFO* info, HRESULT hr) noexcept {
  *info = EXCEPINFO{};
  info->scode = hr;
  IErrorInfo* error = nullptr;
  if (GetErrorInfo(0, &error) != S_OK || !error) return;
  error->GetSource(&info->bstrSource);
  error->GetDescription(&info->bstrDescription);
  error->GetHelpFile(&info->bstrHelpFile);
  error->GetHelpContext(&info->dwHelpContext);
  error->Release();
}

}  // namespace

const DispMember* DispatchTable::Find(DISPID dispid, WORD flags) const noexcept {
  // A caller asking for "method or property get" gets the method first.
  for (DispKind kind : {DispKind::Method, DispKind::PropGet, DispKind::PropPut}) {
    if (!KindAnswers(kind, flags)) continue;
    for (const DispMember& m : members_)
      if (m.dispid == dispid && m.kind == kind) return &m;
  }
  return nullptr;
}

DISPID DispatchTable::IdOfName(const char16_t* name) const noexcept {
  if (!name) return DISPID_UNKNOWN;
  const std::u16string_view wanted(name);
  for (const DispMember& m : members_)
    if (vel::CompareNoCase(wanted, m.name) == 0) return m.dispid;
  return DISPID_UNKNOWN;
}

HRESULT DispatchGetIDsOfNames(const DispatchTable& table, REFIID riid, LPOLESTR* names, UINT cNames, DISPID* ids) {
  if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
  if (cNames == 0) return S_OK;
  if (!names || !ids) return E_INVALIDARG;
  ids[0] = table.IdOfName(names[0]);
  // Parameter names are not in the table, so named arguments are unknown.
  for (UINT i = 1; i < cNames; ++i) ids[i] = DISPID_UNKNOWN;
  return ids[0] != DISPID_UNKNOWN && cNames == 1 ? S_OK : DISP_E_UNKNOWNNAME;
}

HRESULT DispatchInvoke(const DispatchTable& table, IDispatch* self, DISPID dispid, REFIID riid, WORD flags,
                       DISPPARAMS* dp, VARIANT* result, EXCEPINFO* excepInfo, UINT* argErr) {
  if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
  const DispMember* member = table.Find(dispid, flags);
  if (!member) return DISP_E_MEMBERNOTFOUND;
  if (!dp || (dp->cArgs > 0 && !dp->rgvarg) || (dp->cNamedArgs > 0 && !dp->rgdispidNamedArgs) ||
      dp->cNamedArgs > dp->cArgs)
    return E_INVALIDARG;
  // The only named argument understood is the value of a property put.
  for (UINT i = 0; i < dp->cNamedArgs; ++i) {
    if (member->kind != DispKind::PropPut || dp->rgdispidNamedArgs[i] != DISPID_PROPERTYPUT || i > 0) {
      if (argErr) *argErr = i;
      return DISP_E_PARAMNOTFOUND;
    }
  }
  if (dp->cArgs != member->paramCount) return DISP_E_BADPARAMCOUNT;
  if (member->kind == DispKind::PropPut) result = nullptr;
  if (result) VariantInit(result);

  // An error info left over from an earlier call must not be taken for this one's.
  SetErrorInfo(0, nullptr);
  bool called = false;
  HRESULT hr = member->invoke(self, dp, result, argErr, &called);
  if (SUCCEEDED(hr) || !called) return hr;
  // Without EXCEPINFO the caller keeps the member's HRESULT and the thread's error info.
  if (!excepInfo) return hr;
  FillExcepInfo(excepInfo, hr);
  return DISP_E_EXCEPTION;
}

namespace detail {

VARIANTARG* Deref(VARIANTARG* src) noexcept {
  // Nested references are followed a few levels only, against cycles.
  for (int depth = 0; src && src->vt == (VT_BYREF | VT_VARIANT) && depth < 4; ++depth) src = src->pvarVal;
  return src && src->vt == (VT_BYREF | VT_VARIANT) ? nullptr : src;
}

HRESULT ConvertArg(VARIANTARG* src, VARTYPE vt, VARIANT* out) noexcept {
  src = Deref(src);
  if (!src) return DISP_E_TYPEMISMATCH;
  VARIANT direct;
  VariantInit(&direct);
  HRESULT hr = VariantCopyInd(&direct, src);
  if (SUCCEEDED(hr)) hr = VariantChangeType(out, &direct, 0, vt);
  VariantClear(&direct);
  return FAILED(hr) ? DISP_E_TYPEMISMATCH : S_OK;
}

HRESULT UnknownArg(VARIANTARG* src, IUnknown** punk) noexcept {
  *punk = nullptr;
  src = Deref(src);
  if (!src) return DISP_E_TYPEMISMATCH;
  switch (src->vt) {
    case VT_UNKNOWN:
    case VT_DISPATCH:
      *punk = src->punkVal;
      return S_OK;
    case VT_BYREF | VT_UNKNOWN:
    case VT_BYREF | VT_DISPATCH:
      *punk = src->ppunkVal ? *src->ppunkVal : nullptr;
      return S_OK;
    default:
      return DISP_E_TYPEMISMATCH;
  }
}

}  // namespace detail

}  // namespace vel::com
