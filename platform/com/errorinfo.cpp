// Error objects and the per-thread error info. Living in libvelplatform.so,
// the slot is shared by every module of the process: what a module sets on a
// thread, its caller on that thread reads.
#include <utility>

#include "platform/com/combase.h"
#include "platform/com/comobject.h"
#include "platform/com/oleauto.h"

namespace {

// The fields of an error object are set once by its creator before it is
// handed out; it is not meant to be changed from several threads at once.
class CErrorInfo : public vel::com::Implements<IErrorInfo, ICreateErrorInfo> {
 public:
  static constexpr bool kAggregatable = false;

  void FinalRelease() {
    SysFreeString(source_);
    SysFreeString(description_);
    SysFreeString(helpFile_);
  }

  STDMETHOD(GetGUID)(GUID* pGUID) override {
    if (!pGUID) return E_INVALIDARG;
    *pGUID = guid_;
    return S_OK;
  }
  STDMETHOD(GetSource)(BSTR* p) override { return CopyOut(source_, p); }
  STDMETHOD(GetDescription)(BSTR* p) override { return CopyOut(description_, p); }
  STDMETHOD(GetHelpFile)(BSTR* p) override { return CopyOut(helpFile_, p); }
  STDMETHOD(GetHelpContext)(DWORD* p) override {
    if (!p) return E_INVALIDARG;
    *p = helpContext_;
    return S_OK;
  }

  STDMETHOD(SetGUID)(REFGUID rguid) override {
    guid_ = rguid;
    return S_OK;
  }
  STDMETHOD(SetSource)(LPOLESTR s) override { return Replace(source_, s); }
  STDMETHOD(SetDescription)(LPOLESTR s) override { return Replace(description_, s); }
  STDMETHOD(SetHelpFile)(LPOLESTR s) override { return Replace(helpFile_, s); }
  STDMETHOD(SetHelpContext)(DWORD context) override {
    helpContext_ = context;
    return S_OK;
  }

 private:
  static HRESULT CopyOut(BSTR value, BSTR* out) {
    if (!out) return E_INVALIDARG;
    *out = nullptr;
    if (!value) return S_OK;
    *out = SysAllocStringLen(value, SysStringLen(value));
    return *out ? S_OK : E_OUTOFMEMORY;
  }
  static HRESULT Replace(BSTR& field, LPOLESTR value) {
    BSTR copy = nullptr;
    if (value && !(copy = SysAllocString(value))) return E_OUTOFMEMORY;
    SysFreeString(std::exchange(field, copy));
    return S_OK;
  }

  GUID guid_ = GUID_NULL;
  BSTR source_ = nullptr;
  BSTR description_ = nullptr;
  BSTR helpFile_ = nullptr;
  DWORD helpContext_ = 0;
};

// Releases what a thread leaves behind when it ends.
struct ThreadErrorInfo {
  IErrorInfo* info = nullptr;
  ~ThreadErrorInfo() {
    if (info) info->Release();
  }
};
thread_local ThreadErrorInfo t_errorInfo;

}  // namespace

extern "C" {

HRESULT CreateErrorInfo(ICreateErrorInfo** pperrinfo) {
  if (!pperrinfo) return E_INVALIDARG;
  return vel::com::CreateComObject<CErrorInfo>(pperrinfo);
}

HRESULT SetErrorInfo(ULONG, IErrorInfo* perrinfo) {
  if (perrinfo) perrinfo->AddRef();
  IErrorInfo* old = std::exchange(t_errorInfo.info, perrinfo);
  if (old) old->Release();
  return S_OK;
}

HRESULT GetErrorInfo(ULONG, IErrorInfo** pperrinfo) {
  if (!pperrinfo) return E_INVALIDARG;
  *pperrinfo = std::exchange(t_errorInfo.info, nullptr);
  return *pperrinfo ? S_OK : S_FALSE;
}

}  // extern "C"
