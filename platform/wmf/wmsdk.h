// The Windows Media Format runtime as the audio plugin reaches it: the two
// factory functions that hand out a metadata editor and a synchronous reader,
// and those two interfaces in the platform's vtable slot order with its IIDs.
//
// This build has no Windows Media runtime yet: both factories answer E_NOTIMPL
// and a null object, which callers treat as "the runtime could not create
// one" (a file that cannot be read through it). The attribute interfaces that
// an editor or reader offers through QueryInterface come with the runtime.
//
// Thread safety: the factories keep no state; any thread.
#pragma once

#include <cstdint>

#include "platform/com/interfaces.h"

using QWORD = std::uint64_t;

// Types that appear in slots of IWMSyncReader; the audio plugin calls none of
// those slots, so the interfaces stay incomplete here.
struct INSSBuffer;
struct IWMOutputMediaProps;
struct IStream;

enum WMT_ATTR_DATATYPE : int {
  WMT_TYPE_DWORD = 0,
  WMT_TYPE_STRING = 1,
  WMT_TYPE_BINARY = 2,
  WMT_TYPE_BOOL = 3,
  WMT_TYPE_QWORD = 4,
  WMT_TYPE_WORD = 5,
  WMT_TYPE_GUID = 6,
};

enum WMT_STREAM_SELECTION : int {
  WMT_OFF = 0,
  WMT_CLEANPOINT_ONLY = 1,
  WMT_ON = 2,
};

extern "C" {
extern const IID IID_IWMMetadataEditor;  // {96406BD9-2B2B-11D3-B36B-00C04F6108FF}
extern const IID IID_IWMSyncReader;      // {9397F121-7705-4DC9-B049-98B698188414}
}

// Opens a file's header for reading and changing its attributes.
struct IWMMetadataEditor : IUnknown {
  STDMETHOD(Open)(const WCHAR* pwszFilename) = 0;  // 3
  STDMETHOD(Close)() = 0;                          // 4
  STDMETHOD(Flush)() = 0;                          // 5: writes the changed header into the file
};
VEL_DECLARE_IID(IWMMetadataEditor, IID_IWMMetadataEditor);

// Reads a file's streams and their properties.
struct IWMSyncReader : IUnknown {
  STDMETHOD(Open)(const WCHAR* pwszFilename) = 0;                                          // 3
  STDMETHOD(Close)() = 0;                                                                  // 4
  STDMETHOD(SetRange)(QWORD cnsStartTime, LONGLONG cnsDuration) = 0;                       // 5
  STDMETHOD(SetRangeByFrame)(WORD wStreamNum, QWORD qwFrameNumber, LONGLONG cFramesToRead) = 0;  // 6
  STDMETHOD(GetNextSample)(WORD wStreamNum, INSSBuffer** ppSample, QWORD* pcnsSampleTime, QWORD* pcnsDuration,
                           DWORD* pdwFlags, DWORD* pdwOutputNum, WORD* pwStreamNum) = 0;  // 7
  STDMETHOD(SetStreamsSelected)(WORD cStreamCount, WORD* pwStreamNumbers, WMT_STREAM_SELECTION* pSelections) = 0;  // 8
  STDMETHOD(GetStreamSelected)(WORD wStreamNum, WMT_STREAM_SELECTION* pSelection) = 0;  // 9
  STDMETHOD(SetReadStreamSamples)(WORD wStreamNum, BOOL fCompressed) = 0;               // 10
  STDMETHOD(GetReadStreamSamples)(WORD wStreamNum, BOOL* pfCompressed) = 0;             // 11
  STDMETHOD(GetOutputSetting)(DWORD dwOutputNum, LPCWSTR pszName, WMT_ATTR_DATATYPE* pType, BYTE* pValue,
                              WORD* pcbLength) = 0;  // 12
  STDMETHOD(SetOutputSetting)(DWORD dwOutputNum, LPCWSTR pszName, WMT_ATTR_DATATYPE Type, const BYTE* pValue,
                              WORD cbLength) = 0;                                           // 13
  STDMETHOD(GetOutputCount)(DWORD* pcOutputs) = 0;                                          // 14
  STDMETHOD(GetOutputProps)(DWORD dwOutputNum, IWMOutputMediaProps** ppOutput) = 0;         // 15
  STDMETHOD(SetOutputProps)(DWORD dwOutputNum, IWMOutputMediaProps* pOutput) = 0;           // 16
  STDMETHOD(GetOutputFormatCount)(DWORD dwOutputNum, DWORD* pcFormats) = 0;                 // 17
  STDMETHOD(GetOutputFormat)(DWORD dwOutputNum, DWORD dwFormatNum, IWMOutputMediaProps** ppProps) = 0;  // 18
  STDMETHOD(GetOutputNumberForStream)(WORD wStreamNum, DWORD* pdwOutputNum) = 0;            // 19
  STDMETHOD(GetStreamNumberForOutput)(DWORD dwOutputNum, WORD* pwStreamNum) = 0;            // 20
  STDMETHOD(GetMaxOutputSampleSize)(DWORD dwOutput, DWORD* pcbMax) = 0;                     // 21
  STDMETHOD(GetMaxStreamSampleSize)(WORD wStream, DWORD* pcbMax) = 0;                       // 22
  STDMETHOD(OpenStream)(IStream* pStream) = 0;                                              // 23
};
VEL_DECLARE_IID(IWMSyncReader, IID_IWMSyncReader);

// A new metadata editor. Here: E_NOTIMPL with *ppEditor null (E_POINTER for a
// null ppEditor).
HRESULT WMCreateEditor(IWMMetadataEditor** ppEditor);
// A new synchronous reader; pUnkCert and dwRights select DRM rights (none: null, 0).
// Here: E_NOTIMPL with *ppSyncReader null (E_POINTER for a null ppSyncReader).
HRESULT WMCreateSyncReader(IUnknown* pUnkCert, DWORD dwRights, IWMSyncReader** ppSyncReader);
