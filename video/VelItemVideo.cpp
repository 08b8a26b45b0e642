#include "video/VelItemVideo.h"

#include <cmath>
#include <cstdint>
#include <limits>

#include "contract/VelComBoundary.h"
#include "contract/VelItemsLib.h"
#include "framework/DateFolder.h"
#include "framework/ItemProperties.h"
#include "framework/PluginIdentity.h"
#include "framework/VelItemHelpers.h"
#include "framework/VelPluginHelpers.h"
#include "platform/base/Ascii.h"
#include "platform/base/UniqueAny.h"
#include "platform/com/oleauto.h"
#include "platform/dshow/dshow.h"
#include "platform/win32/shlobj.h"
#include "ylib/YCOMUtilities.h"
#include "ylib/YFileUtilities.h"
#include "ylib/YGUID.h"
#include "ylib/YPerformanceTimer.h"

namespace {
constexpr char16_t kSource[] = u"VelItemVideo";
constexpr const IID& kPlugin = IID_IVelItemPlugin;
constexpr const char16_t* kProgId = kProgIdVelItemVideo;
const vel::framework::PluginIdentity kIdentity{u"CVelItemVideo", kSource, kProgId, u"Video", CSIDL_MYVIDEO};

// The graph found no decoder for the file's video (its other streams rendered).
constexpr YErrorDef kErrReadingVideoMetadata{61006, u"Error reading video metadata."};

// A media type handed out by IEnumMediaTypes::Next, freed whole (format
// block, IUnknown, structure) however the walk leaves.
struct MediaTypeTraits {
  using Type = AM_MEDIA_TYPE*;
  static Type Invalid() noexcept { return nullptr; }
  static bool IsValid(Type mt) noexcept { return mt != nullptr; }
  static void Close(Type mt) noexcept { DeleteMediaType(mt); }
};
using UniqueMediaType = vel::UniqueAny<MediaTypeTraits>;

using vel::framework::BstrText;
using vel::framework::NewItem;
using vel::framework::PropertiesOf;
using vel::framework::Put;

// The item's "URI" when it is a text; empty when it is absent or not a text.
std::u16string UriOf(IVelProperties* properties) {
  const _bstr_t name(u"URI");
  const _bstr_t ns(kCoreNamespace);
  VARIANT_BOOL exists = VARIANT_FALSE;
  YCheckHr(properties->Exists(name, ns, &exists));
  if (exists != VARIANT_TRUE) return {};
  _variant_t value;
  YCheckHr(properties->get_Value(name, ns, value.GetAddress()));
  return value.vt == VT_BSTR ? BstrText(value.bstrVal) : std::u16string();
}

ComPtr<IGraphBuilder> NewGraph(const YFrame& f) {
  ComPtr<IUnknown> created = CYCOMUtils::CreateObject(CLSID_FilterGraph, u"CLSID_FilterGraph", CLSCTX_ALL);
  ComPtr<IGraphBuilder> graph;
  const HRESULT hr = created.QueryInterface(graph);
  if (FAILED(hr)) YThrowHr(hr, f);
  return graph;
}

// Containers that may hold audio alone: only a video stream makes them video.
bool MayBeAudioOnly(std::u16string_view ext) {
  const std::u16string lower = vel::AsciiLowered(std::u16string(ext));
  return lower == u".mp4" || lower == u".mpg4" || lower == u".3gp" || lower == u".3g2" || lower == u".asf";
}

// Whether an output pin of the source filter offers MEDIATYPE_Video. Every pin
// and every media type is visited (and freed), also after a video type was seen.
bool HasVideoPin(IBaseFilter* source) {
  bool video = false;
  ComPtr<IEnumPins> pins;
  if (FAILED(source->EnumPins(&pins)) || !pins) return false;
  for (;;) {
    ComPtr<IPin> pin;
    if (pins->Next(1, &pin, nullptr) != S_OK || !pin) break;
    PIN_DIRECTION direction = PINDIR_INPUT;
    if (FAILED(pin->QueryDirection(&direction)) || direction != PINDIR_OUTPUT) continue;
    ComPtr<IEnumMediaTypes> types;
    if (FAILED(pin->EnumMediaTypes(&types)) || !types) continue;
    for (;;) {
      UniqueMediaType type;
      const HRESULT hr = types->Next(1, type.put(), nullptr);
      if (hr != S_OK || !type) break;
      if (type.get()->majortype == MEDIATYPE_Video) video = true;
    }
  }
  return video;
}

// Bits per second of a file of size bytes lasting seconds (> 0), truncated;
// 0 when that does not fit a VT_I4 (a bogus, far too short duration).
LONG BitrateFromSize(std::uint64_t size, double seconds) {
  const double bits = std::trunc(static_cast<double>(size) * 8.0 / seconds);
  if (!(bits > 0) || bits > static_cast<double>(std::numeric_limits<LONG>::max())) return 0;
  return static_cast<LONG>(bits);
}

}  // namespace

ComPtr<IVelItem> CVelItemVideo::ReadMetadataImpl(std::u16string_view path) {
  return YErrorFrame({u"CVelItemVideo::ReadMetadataImpl", kSource, __LINE__}, [&](const YFrame& f) {
    ComPtr<IVelItem> item = NewItem();
    YCheckHr(item->put_ItemClass(_bstr_t(u"Video")));
    ComPtr<IVelProperties> properties = PropertiesOf(item, f);
    const std::u16string mime = CVelPluginHelpers::RegisteredExt2MimeType(
        CYGUID::GUIDToString(CLSID_VelItemVideo), CYFileUtilities::GetFileExtension(path));
    Put(properties, u"ItemType", _variant_t(std::u16string_view(mime)));

    const std::u16string file(path);
    ComPtr<IGraphBuilder> graph = NewGraph(f);
    {
      // Rendering loads the decoders: the costly step, logged on every call.
      CYPerformanceTimer timer(u"Build graph for metadata", 0.0, false);
      const HRESULT hr = graph->RenderFile(file.c_str(), nullptr);
      timer.Stop();
      if (hr == VFW_S_VIDEO_NOT_RENDERED) YThrow(kErrReadingVideoMetadata, f);
      if (FAILED(hr)) YThrow(DirectShowErrorName(hr), hr, f);
    }

    ComPtr<IMediaSeeking> seeking;
    HRESULT hr = graph.QueryInterface(seeking);
    if (FAILED(hr)) YThrowHr(hr, f);
    ComPtr<IBasicVideo> video;
    hr = graph.QueryInterface(video);
    if (FAILED(hr)) YThrowHr(hr, f);

    // A figure the graph cannot give stays 0 and is left out.
    LONGLONG duration = 0;
    LONG bitrate = 0, width = 0, height = 0;
    REFTIME timePerFrame = 0;
    seeking->GetDuration(&duration);
    video->get_BitRate(&bitrate);
    video->get_VideoWidth(&width);
    video->get_VideoHeight(&height);
    video->get_AvgTimePerFrame(&timePerFrame);

    const double seconds = static_cast<double>(duration) * 1e-7;
    double fps = timePerFrame != 0 ? 1.0 / timePerFrame : 0.0;
    if (seconds > 0) Put(properties, u"Duration", _variant_t(seconds));
    if (width > 0) Put(properties, u"Width", _variant_t(static_cast<int>(width), VT_I4));
    if (height > 0) Put(properties, u"Height", _variant_t(static_cast<int>(height), VT_I4));
    if (bitrate == 0 && seconds > 0) bitrate = BitrateFromSize(CYFileUtilities::GetFileSize(path), seconds);
    if (fps == 0 && seconds > 0 && seeking->IsFormatSupported(&TIME_FORMAT_FRAME) == S_OK) {
      LONGLONG frames = 0;
      if (SUCCEEDED(seeking->SetTimeFormat(&TIME_FORMAT_FRAME)) && SUCCEEDED(seeking->GetDuration(&frames)))
        fps = static_cast<double>(frames) / seconds;
    }
    if (bitrate > 0) Put(properties, u"Bitrate", _variant_t(static_cast<int>(bitrate), VT_I4));
    if (fps > 0 && std::isfinite(fps)) Put(properties, u"Framerate", _variant_t(fps));
    return item;
  });
}

bool CVelItemVideo::IsReadableVideo(const std::u16string& path) {
  return YErrorFrame({u"CVelItemVideo::IsReadableVideo", kSource, __LINE__}, [&](const YFrame& f) {
    ComPtr<IGraphBuilder> graph = NewGraph(f);
    ComPtr<IBaseFilter> source;
    HRESULT hr = graph->AddSourceFilter(path.c_str(), u"FileSource", &source);
    // Other formats: the source filter accepting the file decides.
    if (SUCCEEDED(hr) && MayBeAudioOnly(CYFileUtilities::GetFileExtension(path)) && !(source && HasVideoPin(source)))
      hr = E_FAIL;
    return SUCCEEDED(hr);
  });
}

HRESULT CVelItemVideo::QueryCapability(LONG nCapability, VARIANT_BOOL* pbRetVal) {
  return kIdentity.QueryCapability(nCapability, pbRetVal);
}

HRESULT CVelItemVideo::get_Name(BSTR* pVal) { return kIdentity.Name(pVal); }

HRESULT CVelItemVideo::get_CustomStoragePath(BSTR* pVal) { return kIdentity.CustomStoragePath(pVal); }

HRESULT CVelItemVideo::ValidateItem(IVelItem* pItem, LONG* pStatus) {
  return VelComBoundary(kPlugin, kProgId, {u"CVelItemVideo::ValidateItem", kSource, __LINE__},
                        [&](const YFrame& f) {
                          LONG* status = VelOutParam(pStatus, f);
                          const std::u16string uri = UriOf(PropertiesOf(pItem, f));
                          if (uri.empty() || !CYFileUtilities::FileExists(uri)) {
                            *status = EVelValidateStatus_FileMissing;
                            return;
                          }
                          *status = IsReadableVideo(uri) ? EVelValidateStatus_OK : EVelValidateStatus_FileCorrupt;
                        });
}

HRESULT CVelItemVideo::ReadMetadata(BSTR strFilePath, IVelItem** ppiRetVal) {
  return VelComBoundary(kPlugin, kProgId, {u"CVelItemVideo::ReadMetadata", kSource, __LINE__},
                        [&](const YFrame& f) {
                          // The out-parameter is checked first: the right side of "=" runs before the left.
                          IVelItem** out = VelOutParam(ppiRetVal, f);
                          *out = ReadMetadataImpl(BstrText(strFilePath)).Detach();
                        });
}

HRESULT CVelItemVideo::WriteMetadata(BSTR strFilePath, IVelItem* pItem) {
  return VelComBoundary(kPlugin, kProgId, {u"CVelItemVideo::WriteMetadata", kSource, __LINE__},
                        [&](const YFrame& f) {
                          if (!pItem) YThrow(kYErrInvalidParameter, f);
                          ComPtr<IVelItem> fresh = ReadMetadataImpl(BstrText(strFilePath));
                          // The caller's creation date survives the merge.
                          YCheckHr(PropertiesOf(fresh, f)->Remove(_bstr_t(u"CreationDate"), _bstr_t(kCoreNamespace)));
                          ComPtr<IVelItem> merged = CVelItemHelpers::MergeItems(pItem, fresh, 0);
                          ComPtr<IVelItem> cloned;
                          YCheckHr(merged->Clone(_variant_t(static_cast<IDispatch*>(pItem)), &cloned));
                        });
}

HRESULT CVelItemVideo::GetItemPath(IVelItem* pItem, BSTR* pVal) {
  return VelComBoundary(kPlugin, kProgId, {u"CVelItemVideo::GetItemPath", kSource, __LINE__},
                        [&](const YFrame& f) {
                          BSTR* out = VelOutParam(pVal, f);
                          const std::u16string folder = vel::framework::DateFolder(this, pItem);
                          *out = _bstr_t(std::u16string_view(folder)).Detach();
                        });
}
