// The Windows Media Format runtime as the audio plugin reaches it: the
// factories that hand out a metadata editor and a synchronous reader, the
// content-protection test, and the interfaces those objects answer, each in
// the platform's vtable slot order with its IID. Only what callers use is
// declared; slots nobody calls are still declared (the vtable must match) and
// the objects answer E_NOTIMPL there.
//
// Calling pattern, as on the platform: a method that fills a caller's buffer
// is called once with a null buffer for the size, then again with a buffer of
// that size; a buffer that is too small is ASF_E_BUFFERTOOSMALL.
//
// A system may lack the runtime: with VEL_WMF_RUNTIME=absent in the
// environment the factories and WMIsContentProtected answer E_NOTIMPL and
// create nothing, as there (tests of callers' behaviour without it set this).
//
// Thread safety: the factories and WMIsContentProtected keep no state and may
// be called from any thread. One editor or reader object is used by one
// thread at a time.
#pragma once

#include <cstdint>

#include "platform/com/interfaces.h"

using QWORD = std::uint64_t;

// Types that appear in slots nobody calls; they stay incomplete.
struct INSSBuffer;
struct IWMOutputMediaProps;
struct IWMMutualExclusion;
struct IStream;

// ---- Result codes the runtime answers with ----
constexpr HRESULT NS_E_FILE_WRITE = VEL_HR(0xC00D0018);
constexpr HRESULT NS_E_FILE_READ = VEL_HR(0xC00D0019);
constexpr HRESULT NS_E_FILE_NOT_FOUND = VEL_HR(0xC00D001A);
constexpr HRESULT NS_E_FILE_OPEN_FAILED = VEL_HR(0xC00D001D);
constexpr HRESULT NS_E_INVALID_REQUEST = VEL_HR(0xC00D002B);   // the object is not in a state for this call
constexpr HRESULT NS_E_INVALID_DATA = VEL_HR(0xC00D002F);      // invalid or corrupt data
constexpr HRESULT NS_E_INVALID_STREAM = VEL_HR(0xC00D003C);
constexpr HRESULT NS_E_INVALID_INPUT_FORMAT = VEL_HR(0xC00D0BB8);  // not a file the runtime reads
constexpr HRESULT ASF_E_BUFFERTOOSMALL = VEL_HR(0xC00D07D1);
constexpr HRESULT ASF_E_NOTFOUND = VEL_HR(0xC00D07F0);

// ---- Plain types ----
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

enum WMT_VERSION : int {
  WMT_VER_4_0 = 0x00040000,
  WMT_VER_7_0 = 0x00070000,
  WMT_VER_8_0 = 0x00080000,
  WMT_VER_9_0 = 0x00090000,
};

enum WMT_CODEC_INFO_TYPE : int {
  WMT_CODECINFO_AUDIO = 0,
  WMT_CODECINFO_VIDEO = 1,
  WMT_CODECINFO_UNKNOWN = -1,
};

// A stream's media type. GetMediaType places the format block (pbFormat,
// cbFormat bytes) in the caller's buffer right after the structure.
struct WM_MEDIA_TYPE {
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

#pragma pack(push, 1)
// The audio format block of WMFORMAT_WaveFormatEx; 18 bytes, packed.
struct WAVEFORMATEX {
  WORD wFormatTag;
  WORD nChannels;
  DWORD nSamplesPerSec;
  DWORD nAvgBytesPerSec;
  WORD nBlockAlign;
  WORD wBitsPerSample;
  WORD cbSize;
};

// The value of the "WM/Picture" attribute as the runtime hands it over and
// takes it: packed, pointers to the MIME type, the description and the
// picture bytes. The platform's 32-bit layout is 17 bytes; with 64-bit
// pointers it is sizeof(WM_PICTURE) (29) bytes, and SetAttribute and
// ModifyAttribute accept either length for it. A value read back is one
// buffer: the structure, then the texts and bytes its pointers point to.
struct WM_PICTURE {
  LPWSTR pwszMIMEType;
  BYTE bPictureType;
  LPWSTR pwszDescription;
  DWORD dwDataLen;
  BYTE* pbData;
};
#pragma pack(pop)
static_assert(sizeof(WAVEFORMATEX) == 18);
constexpr WORD kWmPictureLength32 = 17;  // the platform's 32-bit sizeof(WM_PICTURE)

constexpr WORD WAVE_FORMAT_PCM = 0x0001;
constexpr WORD WAVE_FORMAT_MPEGLAYER3 = 0x0055;

// ---- Attribute names ----
inline constexpr WCHAR g_wszWMFileSize[] = u"FileSize";
inline constexpr WCHAR g_wszWMDuration[] = u"Duration";
inline constexpr WCHAR g_wszWMBitrate[] = u"Bitrate";
inline constexpr WCHAR g_wszWMIsProtected[] = u"Is_Protected";
inline constexpr WCHAR g_wszWMIsVBR[] = u"IsVBR";
inline constexpr WCHAR g_wszWMTitle[] = u"Title";
inline constexpr WCHAR g_wszWMAuthor[] = u"Author";
inline constexpr WCHAR g_wszWMDescription[] = u"Description";
inline constexpr WCHAR g_wszWMRating[] = u"Rating";
inline constexpr WCHAR g_wszWMCopyright[] = u"Copyright";
inline constexpr WCHAR g_wszWMAlbumTitle[] = u"WM/AlbumTitle";
inline constexpr WCHAR g_wszWMAlbumArtist[] = u"WM/AlbumArtist";
inline constexpr WCHAR g_wszWMTrackNumber[] = u"WM/TrackNumber";
inline constexpr WCHAR g_wszWMYear[] = u"WM/Year";
inline constexpr WCHAR g_wszWMGenre[] = u"WM/Genre";
inline constexpr WCHAR g_wszWMComposer[] = u"WM/Composer";
inline constexpr WCHAR g_wszWMWriter[] = u"WM/Writer";
inline constexpr WCHAR g_wszWMPublisher[] = u"WM/Publisher";
inline constexpr WCHAR g_wszWMOriginalArtist[] = u"WM/OriginalArtist";
inline constexpr WCHAR g_wszWMPartOfSet[] = u"WM/PartOfSet";
inline constexpr WCHAR g_wszWMLyrics[] = u"WM/Lyrics";
inline constexpr WCHAR g_wszWMPicture[] = u"WM/Picture";
inline constexpr WCHAR g_wszWMMCDI[] = u"WM/MCDI";

// ---- Identifiers ----
extern "C" {
extern const IID IID_IWMMetadataEditor;   // {96406BD9-2B2B-11D3-B36B-00C04F6108FF}
extern const IID IID_IWMMetadataEditor2;  // {203CFFE3-2E18-4FDF-B59D-6E71530534CF}
extern const IID IID_IWMHeaderInfo;       // {96406BDA-2B2B-11D3-B36B-00C04F6108FF}
extern const IID IID_IWMHeaderInfo2;      // {15CF9781-454E-482E-B393-85FAE487A810}
extern const IID IID_IWMHeaderInfo3;      // {15CC68E3-27CC-4ECD-B222-3F5D02D80BD5}
extern const IID IID_IWMLanguageList;     // {DF683F00-2D49-4D8E-92B7-FB19F6A0DC57}
extern const IID IID_IWMDRMEditor;        // {FF130EBC-A6C3-42A6-B401-C3382C3E08B3}
extern const IID IID_IWMSyncReader;       // {9397F121-7705-4DC9-B049-98B698188414}
extern const IID IID_IWMProfile;          // {96406BDB-2B2B-11D3-B36B-00C04F6108FF}
extern const IID IID_IWMStreamConfig;     // {96406BDC-2B2B-11D3-B36B-00C04F6108FF}
extern const IID IID_IWMMediaProps;       // {96406BCE-2B2B-11D3-B36B-00C04F6108FF}

extern const GUID WMMEDIATYPE_Audio;         // {73647561-0000-0010-8000-00AA00389B71}
extern const GUID WMMEDIATYPE_Video;         // {73646976-0000-0010-8000-00AA00389B71}
extern const GUID WMMEDIASUBTYPE_PCM;        // {00000001-0000-0010-8000-00AA00389B71}
extern const GUID WMMEDIASUBTYPE_MP3;        // {00000055-0000-0010-8000-00AA00389B71}
extern const GUID WMMEDIASUBTYPE_WMAudioV8;  // {00000161-0000-0010-8000-00AA00389B71}
extern const GUID WMMEDIASUBTYPE_WMAudioV9;  // {00000162-0000-0010-8000-00AA00389B71}
extern const GUID WMFORMAT_WaveFormatEx;     // {05589F81-C356-11CE-BF01-00AA0055595A}
}

// ---- Interfaces ----

// Opens a file's header for reading and changing its attributes.
struct IWMMetadataEditor : IUnknown {
  STDMETHOD(Open)(const WCHAR* pwszFilename) = 0;  // 3
  STDMETHOD(Close)() = 0;                          // 4
  STDMETHOD(Flush)() = 0;                          // 5: writes the changed header into the file
};
VEL_DECLARE_IID(IWMMetadataEditor, IID_IWMMetadataEditor);

// Open with the caller's access and sharing (GENERIC_READ, FILE_SHARE_...).
struct IWMMetadataEditor2 : IWMMetadataEditor {
  STDMETHOD(OpenEx)(const WCHAR* pwszFilename, DWORD dwDesiredAccess, DWORD dwShareMode) = 0;  // 6
};
VEL_DECLARE_IID(IWMMetadataEditor2, IID_IWMMetadataEditor2);

// The header's attributes (stream 0: the file's own), markers and scripts.
struct IWMHeaderInfo : IUnknown {
  STDMETHOD(GetAttributeCount)(WORD wStreamNum, WORD* pcAttributes) = 0;  // 3
  STDMETHOD(GetAttributeByIndex)(WORD wIndex, WORD* pwStreamNum, WCHAR* pwszName, WORD* pcchNameLen,
                                 WMT_ATTR_DATATYPE* pType, BYTE* pValue, WORD* pcbLength) = 0;  // 4
  STDMETHOD(GetAttributeByName)(WORD* pwStreamNum, LPCWSTR pszName, WMT_ATTR_DATATYPE* pType, BYTE* pValue,
                                WORD* pcbLength) = 0;  // 5
  STDMETHOD(SetAttribute)(WORD wStreamNum, LPCWSTR pszName, WMT_ATTR_DATATYPE Type, const BYTE* pValue,
                          WORD cbLength) = 0;                                                       // 6
  STDMETHOD(GetMarkerCount)(WORD* pcMarkers) = 0;                                                   // 7
  STDMETHOD(GetMarker)(WORD wIndex, WCHAR* pwszMarkerName, WORD* pcchMarkerNameLen, QWORD* pcnsMarkerTime) = 0;  // 8
  STDMETHOD(AddMarker)(LPCWSTR pwszMarkerName, QWORD cnsMarkerTime) = 0;                           // 9
  STDMETHOD(RemoveMarker)(WORD wIndex) = 0;                                                         // 10
  STDMETHOD(GetScriptCount)(WORD* pcScripts) = 0;                                                   // 11
  STDMETHOD(GetScript)(WORD wIndex, WCHAR* pwszType, WORD* pcchTypeLen, WCHAR* pwszCommand, WORD* pcchCommandLen,
                       QWORD* pcnsScriptTime) = 0;                                   // 12
  STDMETHOD(AddScript)(LPCWSTR pwszType, LPCWSTR pwszCommand, QWORD cnsScriptTime) = 0;  // 13
  STDMETHOD(RemoveScript)(WORD wIndex) = 0;                                              // 14
};
VEL_DECLARE_IID(IWMHeaderInfo, IID_IWMHeaderInfo);

struct IWMHeaderInfo2 : IWMHeaderInfo {
  STDMETHOD(GetCodecInfoCount)(DWORD* pcCodecInfos) = 0;  // 15
  STDMETHOD(GetCodecInfo)(DWORD wIndex, WORD* pcchName, WCHAR* pwszName, WORD* pcchDescription,
                          WCHAR* pwszDescription, WMT_CODEC_INFO_TYPE* pCodecType, WORD* pcbCodecInfo,
                          BYTE* pbCodecInfo) = 0;  // 16
};
VEL_DECLARE_IID(IWMHeaderInfo2, IID_IWMHeaderInfo2);

// Attributes with languages: indexes are places in the ordered attribute list
// of the stream; a language index is a place in the file's language list.
struct IWMHeaderInfo3 : IWMHeaderInfo2 {
  STDMETHOD(GetAttributeCountEx)(WORD wStreamNum, WORD* pcAttributes) = 0;  // 17
  // pwLangIndex null: every language. pwIndices null: only the count.
  STDMETHOD(GetAttributeIndices)(WORD wStreamNum, LPCWSTR pwszName, WORD* pwLangIndex, WORD* pwIndices,
                                 WORD* pwCount) = 0;  // 18
  STDMETHOD(GetAttributeByIndexEx)(WORD wStreamNum, WORD wIndex, LPWSTR pwszName, WORD* pwNameLen,
                                   WMT_ATTR_DATATYPE* pType, WORD* pwLangIndex, BYTE* pValue,
                                   DWORD* pdwDataLength) = 0;  // 19
  STDMETHOD(ModifyAttribute)(WORD wStreamNum, WORD wIndex, WMT_ATTR_DATATYPE Type, WORD wLangIndex,
                             const BYTE* pValue, DWORD dwLength) = 0;  // 20
  STDMETHOD(AddAttribute)(WORD wStreamNum, LPCWSTR pszName, WORD* pwIndex, WMT_ATTR_DATATYPE Type,
                          WORD wLangIndex, const BYTE* pValue, DWORD dwLength) = 0;  // 21
  STDMETHOD(DeleteAttribute)(WORD wStreamNum, WORD wIndex) = 0;                      // 22
  STDMETHOD(AddCodecInfo)(LPCWSTR pwszName, LPCWSTR pwszDescription, WMT_CODEC_INFO_TYPE codecType,
                          WORD cbCodecInfo, BYTE* pbCodecInfo) = 0;  // 23
};
VEL_DECLARE_IID(IWMHeaderInfo3, IID_IWMHeaderInfo3);

// The file's languages (RFC 1766 texts such as "en-us"), by language index.
struct IWMLanguageList : IUnknown {
  STDMETHOD(GetLanguageCount)(WORD* pwCount) = 0;                                                  // 3
  STDMETHOD(GetLanguageDetails)(WORD wIndex, WCHAR* pwszLanguageString, WORD* pcchLanguageStringLength) = 0;  // 4
  STDMETHOD(AddLanguageByRFC1766String)(LPCWSTR pwszLanguageString, WORD* pwIndex) = 0;            // 5
};
VEL_DECLARE_IID(IWMLanguageList, IID_IWMLanguageList);

// Properties of a protected file's rights header ("DRMHeader.KID", ...).
struct IWMDRMEditor : IUnknown {
  STDMETHOD(GetDRMProperty)(LPCWSTR pwstrName, WMT_ATTR_DATATYPE* pdwType, BYTE* pValue, WORD* pcbLength) = 0;  // 3
};
VEL_DECLARE_IID(IWMDRMEditor, IID_IWMDRMEditor);

// A stream's media type.
struct IWMMediaProps : IUnknown {
  STDMETHOD(GetType)(GUID* pguidType) = 0;                               // 3
  STDMETHOD(GetMediaType)(WM_MEDIA_TYPE* pType, DWORD* pcbType) = 0;     // 4: null pType for the size
  STDMETHOD(SetMediaType)(WM_MEDIA_TYPE* pType) = 0;                     // 5
};
VEL_DECLARE_IID(IWMMediaProps, IID_IWMMediaProps);

// One stream of a profile; the same object answers IWMMediaProps.
struct IWMStreamConfig : IUnknown {
  STDMETHOD(GetStreamType)(GUID* pguidStreamType) = 0;                        // 3
  STDMETHOD(GetStreamNumber)(WORD* pwStreamNum) = 0;                          // 4
  STDMETHOD(SetStreamNumber)(WORD wStreamNum) = 0;                            // 5
  STDMETHOD(GetStreamName)(WCHAR* pwszStreamName, WORD* pcchStreamName) = 0;  // 6
  STDMETHOD(SetStreamName)(LPCWSTR pwszStreamName) = 0;                       // 7
  STDMETHOD(GetConnectionName)(WCHAR* pwszInputName, WORD* pcchInputName) = 0;  // 8
  STDMETHOD(SetConnectionName)(LPCWSTR pwszInputName) = 0;                    // 9
  STDMETHOD(GetBitrate)(DWORD* pdwBitrate) = 0;                               // 10
  STDMETHOD(SetBitrate)(DWORD pdwBitrate) = 0;                                // 11
  STDMETHOD(GetBufferWindow)(DWORD* pmsBufferWindow) = 0;                     // 12
  STDMETHOD(SetBufferWindow)(DWORD msBufferWindow) = 0;                       // 13
};
VEL_DECLARE_IID(IWMStreamConfig, IID_IWMStreamConfig);

// The streams of an open file (the synchronous reader answers it).
struct IWMProfile : IUnknown {
  STDMETHOD(GetVersion)(WMT_VERSION* pdwVersion) = 0;                          // 3
  STDMETHOD(GetName)(WCHAR* pwszName, DWORD* pcchName) = 0;                    // 4
  STDMETHOD(SetName)(const WCHAR* pwszName) = 0;                               // 5
  STDMETHOD(GetDescription)(WCHAR* pwszDescription, DWORD* pcchDescription) = 0;  // 6
  STDMETHOD(SetDescription)(const WCHAR* pwszDescription) = 0;                 // 7
  STDMETHOD(GetStreamCount)(DWORD* pcStreams) = 0;                             // 8
  STDMETHOD(GetStream)(DWORD dwStreamIndex, IWMStreamConfig** ppConfig) = 0;   // 9
  STDMETHOD(GetStreamByNumber)(WORD wStreamNum, IWMStreamConfig** ppConfig) = 0;  // 10
  STDMETHOD(RemoveStream)(IWMStreamConfig* pConfig) = 0;                       // 11
  STDMETHOD(RemoveStreamByNumber)(WORD wStreamNum) = 0;                        // 12
  STDMETHOD(AddStream)(IWMStreamConfig* pConfig) = 0;                          // 13
  STDMETHOD(ReconfigStream)(IWMStreamConfig* pConfig) = 0;                     // 14
  STDMETHOD(CreateNewStream)(REFGUID guidStreamType, IWMStreamConfig** ppConfig) = 0;  // 15
  STDMETHOD(GetMutualExclusionCount)(DWORD* pcME) = 0;                         // 16
  STDMETHOD(GetMutualExclusion)(DWORD dwMEIndex, IWMMutualExclusion** ppME) = 0;  // 17
  STDMETHOD(RemoveMutualExclusion)(IWMMutualExclusion* pME) = 0;               // 18
  STDMETHOD(AddMutualExclusion)(IWMMutualExclusion* pME) = 0;                  // 19
  STDMETHOD(CreateNewMutualExclusion)(IWMMutualExclusion** ppME) = 0;          // 20
};
VEL_DECLARE_IID(IWMProfile, IID_IWMProfile);

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

// ---- Entry points ----

// A new metadata editor (answers IWMMetadataEditor/2, IWMHeaderInfo/2/3,
// IWMLanguageList and IWMDRMEditor). E_POINTER for a null ppEditor.
HRESULT WMCreateEditor(IWMMetadataEditor** ppEditor);
// A new synchronous reader (answers IWMSyncReader and IWMProfile); pUnkCert
// and dwRights select DRM rights (none: null, 0). E_POINTER for a null
// ppSyncReader.
HRESULT WMCreateSyncReader(IUnknown* pUnkCert, DWORD dwRights, IWMSyncReader** ppSyncReader);
// Whether the file carries content protection: S_OK with TRUE, S_FALSE with
// FALSE, or a failure for a file that cannot be read.
HRESULT WMIsContentProtected(const WCHAR* pwszFileName, BOOL* pfIsProtected);
