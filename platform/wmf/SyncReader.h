// vel::wmf::SyncReader: the runtime's synchronous reader, reduced to what its
// callers use: Open and Close, and the file's streams through IWMProfile
// (GetStreamCount, GetStream, GetStreamByNumber). Reading samples and output
// settings are not offered (E_NOTIMPL).
//
// Thread safety: one thread at a time.
#pragma once

#include "platform/com/comobject.h"
#include "platform/wmf/Attribute.h"

namespace vel::wmf {

class SyncReader : public com::Implements<IWMSyncReader, IWMProfile> {
 public:
  static constexpr bool kAggregatable = false;

  // IWMSyncReader
  STDMETHOD(Open)(const WCHAR* pwszFilename) override;
  STDMETHOD(Close)() override;
  STDMETHOD(SetRange)(QWORD, LONGLONG) override { return E_NOTIMPL; }
  STDMETHOD(SetRangeByFrame)(WORD, QWORD, LONGLONG) override { return E_NOTIMPL; }
  STDMETHOD(GetNextSample)(WORD, INSSBuffer**, QWORD*, QWORD*, DWORD*, DWORD*, WORD*) override { return E_NOTIMPL; }
  STDMETHOD(SetStreamsSelected)(WORD, WORD*, WMT_STREAM_SELECTION*) override { return E_NOTIMPL; }
  STDMETHOD(GetStreamSelected)(WORD, WMT_STREAM_SELECTION*) override { return E_NOTIMPL; }
  STDMETHOD(SetReadStreamSamples)(WORD, BOOL) override { return E_NOTIMPL; }
  STDMETHOD(GetReadStreamSamples)(WORD, BOOL*) override { return E_NOTIMPL; }
  STDMETHOD(GetOutputSetting)(DWORD, LPCWSTR, WMT_ATTR_DATATYPE*, BYTE*, WORD*) override { return E_NOTIMPL; }
  STDMETHOD(SetOutputSetting)(DWORD, LPCWSTR, WMT_ATTR_DATATYPE, const BYTE*, WORD) override { return E_NOTIMPL; }
  STDMETHOD(GetOutputCount)(DWORD*) override { return E_NOTIMPL; }
  STDMETHOD(GetOutputProps)(DWORD, IWMOutputMediaProps**) override { return E_NOTIMPL; }
  STDMETHOD(SetOutputProps)(DWORD, IWMOutputMediaProps*) override { return E_NOTIMPL; }
  STDMETHOD(GetOutputFormatCount)(DWORD, DWORD*) override { return E_NOTIMPL; }
  STDMETHOD(GetOutputFormat)(DWORD, DWORD, IWMOutputMediaProps**) override { return E_NOTIMPL; }
  STDMETHOD(GetOutputNumberForStream)(WORD, DWORD*) override { return E_NOTIMPL; }
  STDMETHOD(GetStreamNumberForOutput)(DWORD, WORD*) override { return E_NOTIMPL; }
  STDMETHOD(GetMaxOutputSampleSize)(DWORD, DWORD*) override { return E_NOTIMPL; }
  STDMETHOD(GetMaxStreamSampleSize)(WORD, DWORD*) override { return E_NOTIMPL; }
  STDMETHOD(OpenStream)(IStream*) override { return E_NOTIMPL; }

  // IWMProfile
  STDMETHOD(GetVersion)(WMT_VERSION* pdwVersion) override;
  STDMETHOD(GetName)(WCHAR*, DWORD*) override { return E_NOTIMPL; }
  STDMETHOD(SetName)(const WCHAR*) override { return E_NOTIMPL; }
  STDMETHOD(GetDescription)(WCHAR*, DWORD*) override { return E_NOTIMPL; }
  STDMETHOD(SetDescription)(const WCHAR*) override { return E_NOTIMPL; }
  STDMETHOD(GetStreamCount)(DWORD* pcStreams) override;
  STDMETHOD(GetStream)(DWORD dwStreamIndex, IWMStreamConfig** ppConfig) override;
  STDMETHOD(GetStreamByNumber)(WORD wStreamNum, IWMStreamConfig** ppConfig) override;
  STDMETHOD(RemoveStream)(IWMStreamConfig*) override { return E_NOTIMPL; }
  STDMETHOD(RemoveStreamByNumber)(WORD) override { return E_NOTIMPL; }
  STDMETHOD(AddStream)(IWMStreamConfig*) override { return E_NOTIMPL; }
  STDMETHOD(ReconfigStream)(IWMStreamConfig*) override { return E_NOTIMPL; }
  STDMETHOD(CreateNewStream)(REFGUID, IWMStreamConfig**) override { return E_NOTIMPL; }
  STDMETHOD(GetMutualExclusionCount)(DWORD*) override { return E_NOTIMPL; }
  STDMETHOD(GetMutualExclusion)(DWORD, IWMMutualExclusion**) override { return E_NOTIMPL; }
  STDMETHOD(RemoveMutualExclusion)(IWMMutualExclusion*) override { return E_NOTIMPL; }
  STDMETHOD(AddMutualExclusion)(IWMMutualExclusion*) override { return E_NOTIMPL; }
  STDMETHOD(CreateNewMutualExclusion)(IWMMutualExclusion**) override { return E_NOTIMPL; }

 private:
  bool open_ = false;
  std::vector<StreamInfo> streams_;
};

}  // namespace vel::wmf
