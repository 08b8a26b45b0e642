// vel::wmf::StreamConfig: one stream of a file the synchronous reader opened,
// answering IWMStreamConfig and IWMMediaProps. GetMediaType follows the
// platform's two calls: a null pType gives the size, then the caller's buffer
// receives the WM_MEDIA_TYPE with its format block (pbFormat points into the
// same buffer, right after the structure).
//
// Thread safety: immutable after creation.
#pragma once

#include "platform/com/comobject.h"
#include "platform/wmf/Attribute.h"

namespace vel::wmf {

class StreamConfig : public com::Implements<IWMStreamConfig, IWMMediaProps> {
 public:
  static constexpr bool kAggregatable = false;
  static HRESULT Create(const StreamInfo& info, IWMStreamConfig** out);

  // IWMStreamConfig
  STDMETHOD(GetStreamType)(GUID* pguidStreamType) override;
  STDMETHOD(GetStreamNumber)(WORD* pwStreamNum) override;
  STDMETHOD(SetStreamNumber)(WORD) override { return E_NOTIMPL; }
  STDMETHOD(GetStreamName)(WCHAR*, WORD*) override { return E_NOTIMPL; }
  STDMETHOD(SetStreamName)(LPCWSTR) override { return E_NOTIMPL; }
  STDMETHOD(GetConnectionName)(WCHAR*, WORD*) override { return E_NOTIMPL; }
  STDMETHOD(SetConnectionName)(LPCWSTR) override { return E_NOTIMPL; }
  STDMETHOD(GetBitrate)(DWORD* pdwBitrate) override;
  STDMETHOD(SetBitrate)(DWORD) override { return E_NOTIMPL; }
  STDMETHOD(GetBufferWindow)(DWORD*) override { return E_NOTIMPL; }
  STDMETHOD(SetBufferWindow)(DWORD) override { return E_NOTIMPL; }

  // IWMMediaProps
  STDMETHOD(GetType)(GUID* pguidType) override { return GetStreamType(pguidType); }
  STDMETHOD(GetMediaType)(WM_MEDIA_TYPE* pType, DWORD* pcbType) override;
  STDMETHOD(SetMediaType)(WM_MEDIA_TYPE*) override { return E_NOTIMPL; }

 private:
  StreamInfo info_;
};

}  // namespace vel::wmf
