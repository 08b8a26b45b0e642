// The media graph as callers see it: the platform's filter-graph interfaces,
// structures, identifiers and result codes, declared with the platform's IIDs,
// GUID values, vtable slot order and layouts.
//
// Only what reading a file's figures needs is declared. A caller creates the
// graph through COM and never links its implementation:
//
//   ComPtr<IGraphBuilder> graph;
//   CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_ALL, IID_IGraphBuilder, (void**)&graph);
//   HRESULT hr = graph->RenderFile(path, nullptr);   // S_OK, VFW_S_* or an error below
//   ComPtr<IMediaSeeking> seeking;  graph.QueryInterface(seeking);   // duration
//   ComPtr<IBasicVideo> video;      graph.QueryInterface(video);     // size, rates
//
// or, to learn which streams a file holds without rendering it:
//
//   ComPtr<IBaseFilter> source;
//   graph->AddSourceFilter(path, u"FileSource", &source);
//   source->EnumPins(&pins); pins->Next(1, &pin, nullptr); pin->QueryDirection(&dir);
//   pin->EnumMediaTypes(&types); types->Next(1, &mt, nullptr); ... DeleteMediaType(mt);
//
// Paths are the module's path texts ("\\?\" prefix and "\" separators are
// accepted, as by the platform's file functions). Methods a reader never
// calls answer E_NOTIMPL; the graph is never run.
//
// The graph (libveldshow.so, registered for CLSID_FilterGraph by its
// DllRegisterServer) answers IGraphBuilder (with IFilterGraph), IMediaSeeking
// and IBasicVideo, always:
// - RenderFile: S_OK when every stream of the file has a decoder;
//   VFW_S_VIDEO_NOT_RENDERED, VFW_S_AUDIO_NOT_RENDERED or VFW_S_PARTIAL_RENDER
//   when a video, an audio or another stream has none while the rest renders;
//   VFW_E_CANNOT_RENDER when nothing renders; VFW_E_UNKNOWN_FILE_TYPE for a
//   format the graph does not read; VFW_E_INVALID_FILE_FORMAT for a damaged
//   file; HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND / ERROR_PATH_NOT_FOUND) for
//   a missing file.
// - AddSourceFilter: the same file errors; the filter has one output pin per
//   audio or video stream (MEDIATYPE_Audio / MEDIATYPE_Video) and one
//   MEDIATYPE_Stream pin per other stream. Cover pictures are no stream.
// - IMediaSeeking: GetDuration in 100-ns units (TIME_FORMAT_MEDIA_TIME) or, after
//   SetTimeFormat(&TIME_FORMAT_FRAME), in frames of the rendered video.
//   Fails (E_NOTIMPL) until RenderFile rendered something.
// - IBasicVideo: the rendered video's size, bit rate (0 when the file does not
//   state it) and average time per frame in seconds (0 when unknown). Fails
//   (E_NOINTERFACE) when no video stream rendered.
//
// Thread safety: every graph is independent and guards its own state; any
// thread may call any graph, several threads may use one graph.
#pragma once

#include "platform/com/combase.h"
#include "platform/com/interfaces.h"

// ---- Types -------------------------------------------------------------------

using REFERENCE_TIME = LONGLONG;  // 100-ns units
using REFTIME = double;           // seconds

enum PIN_DIRECTION { PINDIR_INPUT = 0, PINDIR_OUTPUT = 1 };
enum FILTER_STATE { State_Stopped = 0, State_Paused = 1, State_Running = 2 };

// A media type; Next of IEnumMediaTypes hands out a CoTaskMemAlloc'ed one
// whose pbFormat (if any) is CoTaskMemAlloc'ed too: free it with
// DeleteMediaType.
struct AM_MEDIA_TYPE {
  GUID majortype;
  GUID subtype;
  BOOL bFixedSizeSamples;
  BOOL bTemporalCompression;
  ULONG lSampleSize;
  GUID formattype;
  IUnknown* pUnk;
  ULONG cbFormat;
  BYTE* pbFormat;
};

struct IFilterGraph;
struct IBaseFilter;
struct IPin;
struct IEnumPins;
struct IEnumMediaTypes;
struct IEnumFilters;    // not offered
struct IReferenceClock;  // not offered

struct FILTER_INFO {
  WCHAR achName[128];
  IFilterGraph* pGraph;
};
struct PIN_INFO {
  IBaseFilter* pFilter;
  PIN_DIRECTION dir;
  WCHAR achName[128];
};

// ---- Identifiers -------------------------------------------------------------

inline constexpr CLSID CLSID_FilterGraph = {0xE436EBB3, 0x524F, 0x11CE, {0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};

inline constexpr IID IID_IPersist = {0x0000010C, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID IID_IMediaFilter = {0x56A86899, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
inline constexpr IID IID_IBaseFilter = {0x56A86895, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
inline constexpr IID IID_IPin = {0x56A86891, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
inline constexpr IID IID_IEnumPins = {0x56A86892, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
inline constexpr IID IID_IEnumMediaTypes = {0x89C31040, 0x846B, 0x11CE, {0x97, 0xD3, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A}};
inline constexpr IID IID_IFilterGraph = {0x56A8689F, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
inline constexpr IID IID_IGraphBuilder = {0x56A868A9, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
inline constexpr IID IID_IMediaSeeking = {0x36B73880, 0xC2C8, 0x11CF, {0x8B, 0x46, 0x00, 0x80, 0x5F, 0x6C, 0xEF, 0x60}};
inline constexpr IID IID_IBasicVideo = {0x56A868B5, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};

// Major types: FOURCC "vids" and "auds" in the first field; a byte stream.
inline constexpr GUID MEDIATYPE_Video = {0x73646976, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
inline constexpr GUID MEDIATYPE_Audio = {0x73647561, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
inline constexpr GUID MEDIATYPE_Stream = {0xE436EB83, 0x524F, 0x11CE, {0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};

inline constexpr GUID TIME_FORMAT_NONE = {0x00000000, 0x0000, 0x0000, {0, 0, 0, 0, 0, 0, 0, 0}};
inline constexpr GUID TIME_FORMAT_FRAME = {0x7B785570, 0x8C82, 0x11CF, {0xBC, 0x0C, 0x00, 0xAA, 0x00, 0xAC, 0x74, 0xF6}};
inline constexpr GUID TIME_FORMAT_MEDIA_TIME = {0x7B785574, 0x8C82, 0x11CF, {0xBC, 0x0C, 0x00, 0xAA, 0x00, 0xAC, 0x74, 0xF6}};

// ---- Result codes (FACILITY_ITF 0x0004, codes 0x200 and up) -------------------

constexpr HRESULT VFW_E_NOT_CONNECTED = VEL_HR(0x80040209);
constexpr HRESULT VFW_E_NOT_FOUND = VEL_HR(0x80040216);
constexpr HRESULT VFW_E_CANNOT_CONNECT = VEL_HR(0x80040217);
constexpr HRESULT VFW_E_CANNOT_RENDER = VEL_HR(0x80040218);
constexpr HRESULT VFW_E_INVALID_FILE_FORMAT = VEL_HR(0x8004022F);
constexpr HRESULT VFW_E_UNKNOWN_FILE_TYPE = VEL_HR(0x80040240);
constexpr HRESULT VFW_E_CANNOT_LOAD_SOURCE_FILTER = VEL_HR(0x80040241);
constexpr HRESULT VFW_S_PARTIAL_RENDER = VEL_HR(0x00040242);
constexpr HRESULT VFW_E_FILE_TOO_SHORT = VEL_HR(0x80040243);
constexpr HRESULT VFW_E_NO_DECOMPRESSOR = VEL_HR(0x80040255);
constexpr HRESULT VFW_S_VIDEO_NOT_RENDERED = VEL_HR(0x00040257);
constexpr HRESULT VFW_S_AUDIO_NOT_RENDERED = VEL_HR(0x00040258);
constexpr HRESULT VFW_E_NO_TIME_FORMAT = VEL_HR(0x80040261);
constexpr HRESULT VFW_E_UNSUPPORTED_STREAM = VEL_HR(0x80040265);

// The symbolic name of a DirectShow, DirectX or Win32 result code as the
// platform spells it ("VFW_E_UNKNOWN_FILE_TYPE", "E_FAIL",
// "ERROR_FILE_NOT_FOUND" for 2 and for 0x80070002), "Unknown" for any other.
// Lives in libvelplatform.so; static text; thread-safe.
extern "C" const char16_t* DirectShowErrorName(HRESULT hr) noexcept;

// ---- Interfaces (slot order as on the platform) ------------------------------

struct IPersist : IUnknown {
  STDMETHOD(GetClassID)(CLSID* pClassID) = 0;
};

struct IMediaFilter : IPersist {
  STDMETHOD(Stop)() = 0;
  STDMETHOD(Pause)() = 0;
  STDMETHOD(Run)(REFERENCE_TIME tStart) = 0;
  STDMETHOD(GetState)(DWORD dwMilliSecsTimeout, FILTER_STATE* State) = 0;
  STDMETHOD(SetSyncSource)(IReferenceClock* pClock) = 0;
  STDMETHOD(GetSyncSource)(IReferenceClock** pClock) = 0;
};

struct IBaseFilter : IMediaFilter {
  STDMETHOD(EnumPins)(IEnumPins** ppEnum) = 0;
  STDMETHOD(FindPin)(LPCWSTR Id, IPin** ppPin) = 0;
  STDMETHOD(QueryFilterInfo)(FILTER_INFO* pInfo) = 0;
  STDMETHOD(JoinFilterGraph)(IFilterGraph* pGraph, LPCWSTR pName) = 0;
  STDMETHOD(QueryVendorInfo)(LPWSTR* pVendorInfo) = 0;
};

struct IPin : IUnknown {
  STDMETHOD(Connect)(IPin* pReceivePin, const AM_MEDIA_TYPE* pmt) = 0;
  STDMETHOD(ReceiveConnection)(IPin* pConnector, const AM_MEDIA_TYPE* pmt) = 0;
  STDMETHOD(Disconnect)() = 0;
  STDMETHOD(ConnectedTo)(IPin** pPin) = 0;
  STDMETHOD(ConnectionMediaType)(AM_MEDIA_TYPE* pmt) = 0;
  STDMETHOD(QueryPinInfo)(PIN_INFO* pInfo) = 0;
  STDMETHOD(QueryDirection)(PIN_DIRECTION* pPinDir) = 0;
  STDMETHOD(QueryId)(LPWSTR* Id) = 0;
  STDMETHOD(QueryAccept)(const AM_MEDIA_TYPE* pmt) = 0;
  STDMETHOD(EnumMediaTypes)(IEnumMediaTypes** ppEnum) = 0;
  STDMETHOD(QueryInternalConnections)(IPin** apPin, ULONG* nPin) = 0;
  STDMETHOD(EndOfStream)() = 0;
  STDMETHOD(BeginFlush)() = 0;
  STDMETHOD(EndFlush)() = 0;
  STDMETHOD(NewSegment)(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) = 0;
};

// Next: S_OK when cPins pins were fetched, S_FALSE when fewer; pcFetched may
// be null only when cPins is 1.
struct IEnumPins : IUnknown {
  STDMETHOD(Next)(ULONG cPins, IPin** ppPins, ULONG* pcFetched) = 0;
  STDMETHOD(Skip)(ULONG cPins) = 0;
  STDMETHOD(Reset)() = 0;
  STDMETHOD(Clone)(IEnumPins** ppEnum) = 0;
};

struct IEnumMediaTypes : IUnknown {
  STDMETHOD(Next)(ULONG cMediaTypes, AM_MEDIA_TYPE** ppMediaTypes, ULONG* pcFetched) = 0;
  STDMETHOD(Skip)(ULONG cMediaTypes) = 0;
  STDMETHOD(Reset)() = 0;
  STDMETHOD(Clone)(IEnumMediaTypes** ppEnum) = 0;
};

struct IFilterGraph : IUnknown {
  STDMETHOD(AddFilter)(IBaseFilter* pFilter, LPCWSTR pName) = 0;
  STDMETHOD(RemoveFilter)(IBaseFilter* pFilter) = 0;
  STDMETHOD(EnumFilters)(IEnumFilters** ppEnum) = 0;
  STDMETHOD(FindFilterByName)(LPCWSTR pName, IBaseFilter** ppFilter) = 0;
  STDMETHOD(ConnectDirect)(IPin* ppinOut, IPin* ppinIn, const AM_MEDIA_TYPE* pmt) = 0;
  STDMETHOD(Reconnect)(IPin* ppin) = 0;
  STDMETHOD(Disconnect)(IPin* ppin) = 0;
  STDMETHOD(SetDefaultSyncSource)() = 0;
};

struct IGraphBuilder : IFilterGraph {
  STDMETHOD(Connect)(IPin* ppinOut, IPin* ppinIn) = 0;
  STDMETHOD(Render)(IPin* ppinOut) = 0;
  STDMETHOD(RenderFile)(LPCWSTR lpcwstrFile, LPCWSTR lpcwstrPlayList) = 0;
  STDMETHOD(AddSourceFilter)(LPCWSTR lpcwstrFileName, LPCWSTR lpcwstrFilterName, IBaseFilter** ppFilter) = 0;
  STDMETHOD(SetLogFile)(ULONG_PTR hFile) = 0;
  STDMETHOD(Abort)() = 0;
  STDMETHOD(ShouldOperationContinue)() = 0;
};

struct IMediaSeeking : IUnknown {
  STDMETHOD(GetCapabilities)(DWORD* pCapabilities) = 0;
  STDMETHOD(CheckCapabilities)(DWORD* pCapabilities) = 0;
  STDMETHOD(IsFormatSupported)(const GUID* pFormat) = 0;
  STDMETHOD(QueryPreferredFormat)(GUID* pFormat) = 0;
  STDMETHOD(GetTimeFormat)(GUID* pFormat) = 0;
  STDMETHOD(IsUsingTimeFormat)(const GUID* pFormat) = 0;
  STDMETHOD(SetTimeFormat)(const GUID* pFormat) = 0;
  STDMETHOD(GetDuration)(LONGLONG* pDuration) = 0;
  STDMETHOD(GetStopPosition)(LONGLONG* pStop) = 0;
  STDMETHOD(GetCurrentPosition)(LONGLONG* pCurrent) = 0;
  STDMETHOD(ConvertTimeFormat)(LONGLONG* pTarget, const GUID* pTargetFormat, LONGLONG Source,
                               const GUID* pSourceFormat) = 0;
  STDMETHOD(SetPositions)(LONGLONG* pCurrent, DWORD dwCurrentFlags, LONGLONG* pStop, DWORD dwStopFlags) = 0;
  STDMETHOD(GetPositions)(LONGLONG* pCurrent, LONGLONG* pStop) = 0;
  STDMETHOD(GetAvailable)(LONGLONG* pEarliest, LONGLONG* pLatest) = 0;
  STDMETHOD(SetRate)(double dRate) = 0;
  STDMETHOD(GetRate)(double* pdRate) = 0;
  STDMETHOD(GetPreroll)(LONGLONG* pllPreroll) = 0;
};

// A dual interface on the platform; LONG is 32 bits as there.
struct IBasicVideo : IDispatch {
  STDMETHOD(get_AvgTimePerFrame)(REFTIME* pAvgTimePerFrame) = 0;
  STDMETHOD(get_BitRate)(LONG* pBitRate) = 0;
  STDMETHOD(get_BitErrorRate)(LONG* pBitErrorRate) = 0;
  STDMETHOD(get_VideoWidth)(LONG* pVideoWidth) = 0;
  STDMETHOD(get_VideoHeight)(LONG* pVideoHeight) = 0;
  STDMETHOD(put_SourceLeft)(LONG SourceLeft) = 0;
  STDMETHOD(get_SourceLeft)(LONG* pSourceLeft) = 0;
  STDMETHOD(put_SourceWidth)(LONG SourceWidth) = 0;
  STDMETHOD(get_SourceWidth)(LONG* pSourceWidth) = 0;
  STDMETHOD(put_SourceTop)(LONG SourceTop) = 0;
  STDMETHOD(get_SourceTop)(LONG* pSourceTop) = 0;
  STDMETHOD(put_SourceHeight)(LONG SourceHeight) = 0;
  STDMETHOD(get_SourceHeight)(LONG* pSourceHeight) = 0;
  STDMETHOD(put_DestinationLeft)(LONG DestinationLeft) = 0;
  STDMETHOD(get_DestinationLeft)(LONG* pDestinationLeft) = 0;
  STDMETHOD(put_DestinationWidth)(LONG DestinationWidth) = 0;
  STDMETHOD(get_DestinationWidth)(LONG* pDestinationWidth) = 0;
  STDMETHOD(put_DestinationTop)(LONG DestinationTop) = 0;
  STDMETHOD(get_DestinationTop)(LONG* pDestinationTop) = 0;
  STDMETHOD(put_DestinationHeight)(LONG DestinationHeight) = 0;
  STDMETHOD(get_DestinationHeight)(LONG* pDestinationHeight) = 0;
  STDMETHOD(SetSourcePosition)(LONG Left, LONG Top, LONG Width, LONG Height) = 0;
  STDMETHOD(GetSourcePosition)(LONG* pLeft, LONG* pTop, LONG* pWidth, LONG* pHeight) = 0;
  STDMETHOD(SetDefaultSourcePosition)() = 0;
  STDMETHOD(SetDestinationPosition)(LONG Left, LONG Top, LONG Width, LONG Height) = 0;
  STDMETHOD(GetDestinationPosition)(LONG* pLeft, LONG* pTop, LONG* pWidth, LONG* pHeight) = 0;
  STDMETHOD(SetDefaultDestinationPosition)() = 0;
  STDMETHOD(GetVideoSize)(LONG* pWidth, LONG* pHeight) = 0;
  STDMETHOD(GetVideoPaletteEntries)(LONG StartIndex, LONG Entries, LONG* pRetrieved, LONG* pPalette) = 0;
  STDMETHOD(GetCurrentImage)(LONG* pBufferSize, LONG* pDIBImage) = 0;
  STDMETHOD(IsUsingDefaultSource)() = 0;
  STDMETHOD(IsUsingDefaultDestination)() = 0;
};

VEL_DECLARE_IID(IPersist, IID_IPersist);
VEL_DECLARE_IID(IMediaFilter, IID_IMediaFilter);
VEL_DECLARE_IID(IBaseFilter, IID_IBaseFilter);
VEL_DECLARE_IID(IPin, IID_IPin);
VEL_DECLARE_IID(IEnumPins, IID_IEnumPins);
VEL_DECLARE_IID(IEnumMediaTypes, IID_IEnumMediaTypes);
VEL_DECLARE_IID(IFilterGraph, IID_IFilterGraph);
VEL_DECLARE_IID(IGraphBuilder, IID_IGraphBuilder);
VEL_DECLARE_IID(IMediaSeeking, IID_IMediaSeeking);
VEL_DECLARE_IID(IBasicVideo, IID_IBasicVideo);

// ---- Media type helpers (as the platform's filter base classes name them) -----

// Frees what a media type owns (format block, IUnknown) and clears those fields.
inline void FreeMediaType(AM_MEDIA_TYPE& mt) noexcept {
  if (mt.cbFormat != 0 || mt.pbFormat) CoTaskMemFree(mt.pbFormat);
  mt.cbFormat = 0;
  mt.pbFormat = nullptr;
  if (mt.pUnk) mt.pUnk->Release();
  mt.pUnk = nullptr;
}

// Frees a media type handed out by IEnumMediaTypes::Next, structure included.
inline void DeleteMediaType(AM_MEDIA_TYPE* pmt) noexcept {
  if (!pmt) return;
  FreeMediaType(*pmt);
  CoTaskMemFree(pmt);
}
