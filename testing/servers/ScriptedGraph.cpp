// libVelScriptedGraph.so: see ScriptedGraph.h.
#include "testing/servers/ScriptedGraph.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "platform/com/comdef.h"
#include "platform/dshow/InterfaceBases.h"
#include "platform/registry/winreg.h"
#include "platform/text.h"
#include "platform/win32/winerror.h"
#include "platform/win32/thismodule.h"

#define SCRIPTED_GRAPH_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

std::atomic<LONG> g_live{0};
std::atomic<LONG> g_handedOut{0};

// Counts its owner among the live objects.
struct Live {
  Live() { ++g_live; }
  ~Live() { --g_live; }
  Live(const Live&) = delete;
  Live& operator=(const Live&) = delete;
};

struct PinScript {
  PIN_DIRECTION direction = PINDIR_OUTPUT;
  std::vector<GUID> types;
};

struct Script {
  HRESULT render = S_OK;
  HRESULT source = S_OK;
  std::vector<PinScript> pins;
  LONGLONG duration = 0;
  LONGLONG frames = 0;
  HRESULT frameFormat = S_FALSE;
  HRESULT setTimeFormat = S_OK;
  LONG bitrate = 0, width = 0, height = 0;
  double avgTime = 0;
  HRESULT videoHr = S_OK;
  bool noSeeking = false, noVideo = false;
};

long long Number(const std::string& text) { return std::strtoll(text.c_str(), nullptr, 0); }
HRESULT Hr(const std::string& text) { return static_cast<HRESULT>(static_cast<ULONG>(std::strtoul(text.c_str(), nullptr, 0))); }

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::string part;
  std::istringstream in(text);
  while (std::getline(in, part, separator)) parts.push_back(part);
  return parts;
}

GUID MajorType(const std::string& name) {
  if (name == "vids") return MEDIATYPE_Video;
  if (name == "auds") return MEDIATYPE_Audio;
  return MEDIATYPE_Stream;
}

// The script of path's first line; the error RenderFile answers otherwise.
HRESULT ReadScript(LPCWSTR path, Script* script) {
  if (!path) return E_POINTER;
  std::ifstream in(vel::ToUtf8(path), std::ios::binary);
  if (!in) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
  std::string line;
  std::getline(in, line);
  std::istringstream words(line);
  std::string word;
  if (!(words >> word) || word != "#scripted-graph") return VFW_E_UNKNOWN_FILE_TYPE;
  while (words >> word) {
    const std::size_t eq = word.find('=');
    const std::string key = word.substr(0, eq);
    const std::string value = eq == std::string::npos ? "" : word.substr(eq + 1);
    if (key == "render") script->render = Hr(value);
    else if (key == "source") script->source = Hr(value);
    else if (key == "duration") script->duration = Number(value);
    else if (key == "frames") script->frames = Number(value);
    else if (key == "frameformat") script->frameFormat = Hr(value);
    else if (key == "settimeformat") script->setTimeFormat = Hr(value);
    else if (key == "bitrate") script->bitrate = static_cast<LONG>(Number(value));
    else if (key == "width") script->width = static_cast<LONG>(Number(value));
    else if (key == "height") script->height = static_cast<LONG>(Number(value));
    else if (key == "avgtime") script->avgTime = std::strtod(value.c_str(), nullptr);
    else if (key == "videohr") script->videoHr = Hr(value);
    else if (key == "noseeking") script->noSeeking = value == "1";
    else if (key == "novideo") script->noVideo = value == "1";
    else if (key == "pins") {
      for (const std::string& pinText : Split(value, ',')) {
        PinScript pin;
        const std::size_t colon = pinText.find(':');
        pin.direction = pinText.substr(0, colon) == "in" ? PINDIR_INPUT : PINDIR_OUTPUT;
        if (colon != std::string::npos)
          for (const std::string& type : Split(pinText.substr(colon + 1), '|')) pin.types.push_back(MajorType(type));
        script->pins.push_back(pin);
      }
    }
  }
  return S_OK;
}

// What a media type's pUnk points to: its release shows the type was freed whole.
class MediaTypeToken : public vel::com::Implements<IPersist> {
 public:
  STDMETHOD(GetClassID)(CLSID*) override { return E_NOTIMPL; }

 private:
  Live live_;
};

class MediaTypes : public vel::com::Implements<IEnumMediaTypes> {
 public:
  void Initialize(std::vector<GUID> types) { types_ = std::move(types); }
  STDMETHOD(Next)(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched) override {
    if (!types || (!fetched && count != 1)) return E_POINTER;
    std::lock_guard lock(mutex_);
    ULONG n = 0;
    for (; n < count && position_ < types_.size(); ++n, ++position_) {
      auto* mt = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
      std::memset(mt, 0, sizeof *mt);
      mt->majortype = types_[position_];
      mt->cbFormat = 16;
      mt->pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(16));
      vel::com::CreateComObject<MediaTypeToken>(&mt->pUnk);
      types[n] = mt;
      ++g_handedOut;
    }
    if (fetched) *fetched = n;
    return n == count ? S_OK : S_FALSE;
  }
  STDMETHOD(Skip)(ULONG) override { return E_NOTIMPL; }
  STDMETHOD(Reset)() override { return E_NOTIMPL; }
  STDMETHOD(Clone)(IEnumMediaTypes**) override { return E_NOTIMPL; }

 private:
  Live live_;
  std::mutex mutex_;
  std::vector<GUID> types_;
  std::size_t position_ = 0;
};

class Pin : public vel::com::Implements<IPin> {
 public:
  void Initialize(PinScript script) { script_ = std::move(script); }
  STDMETHOD(QueryDirection)(PIN_DIRECTION* dir) override {
    if (!dir) return E_POINTER;
    *dir = script_.direction;
    return S_OK;
  }
  STDMETHOD(EnumMediaTypes)(IEnumMediaTypes** out) override {
    if (!out) return E_POINTER;
    ComPtr<IEnumMediaTypes> types;
    const HRESULT hr = vel::com::CreateComObject<MediaTypes>(&types);
    if (FAILED(hr)) return hr;
    static_cast<MediaTypes*>(types.get())->Initialize(script_.types);
    *out = types.Detach();
    return S_OK;
  }
  STDMETHOD(Connect)(IPin*, const AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
  STDMETHOD(ReceiveConnection)(IPin*, const AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
  STDMETHOD(Disconnect)() override { return E_NOTIMPL; }
  STDMETHOD(ConnectedTo)(IPin**) override { return E_NOTIMPL; }
  STDMETHOD(ConnectionMediaType)(AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
  STDMETHOD(QueryPinInfo)(PIN_INFO*) override { return E_NOTIMPL; }
  STDMETHOD(QueryId)(LPWSTR*) override { return E_NOTIMPL; }
  STDMETHOD(QueryAccept)(const AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
  STDMETHOD(QueryInternalConnections)(IPin**, ULONG*) override { return E_NOTIMPL; }
  STDMETHOD(EndOfStream)() override { return E_NOTIMPL; }
  STDMETHOD(BeginFlush)() override { return E_NOTIMPL; }
  STDMETHOD(EndFlush)() override { return E_NOTIMPL; }
  STDMETHOD(NewSegment)(REFERENCE_TIME, REFERENCE_TIME, double) override { return E_NOTIMPL; }

 private:
  Live live_;
  PinScript script_;
};

class Pins : public vel::com::Implements<IEnumPins> {
 public:
  void Initialize(std::vector<ComPtr<IPin>> pins) { pins_ = std::move(pins); }
  STDMETHOD(Next)(ULONG count, IPin** pins, ULONG* fetched) override {
    if (!pins || (!fetched && count != 1)) return E_POINTER;
    std::lock_guard lock(mutex_);
    ULONG n = 0;
    for (; n < count && position_ < pins_.size(); ++n, ++position_) {
      pins[n] = pins_[position_].get();
      pins[n]->AddRef();
    }
    if (fetched) *fetched = n;
    return n == count ? S_OK : S_FALSE;
  }
  STDMETHOD(Skip)(ULONG) override { return E_NOTIMPL; }
  STDMETHOD(Reset)() override { return E_NOTIMPL; }
  STDMETHOD(Clone)(IEnumPins**) override { return E_NOTIMPL; }

 private:
  Live live_;
  std::mutex mutex_;
  std::vector<ComPtr<IPin>> pins_;
  std::size_t position_ = 0;
};

class SourceFilter : public vel::com::Implements<IBaseFilter> {
 public:
  HRESULT Initialize(const std::vector<PinScript>& pins) {
    for (const PinScript& script : pins) {
      ComPtr<IPin> pin;
      const HRESULT hr = vel::com::CreateComObject<Pin>(&pin);
      if (FAILED(hr)) return hr;
      static_cast<Pin*>(pin.get())->Initialize(script);
      pins_.push_back(std::move(pin));
    }
    return S_OK;
  }
  STDMETHOD(EnumPins)(IEnumPins** out) override {
    if (!out) return E_POINTER;
    ComPtr<IEnumPins> pins;
    const HRESULT hr = vel::com::CreateComObject<Pins>(&pins);
    if (FAILED(hr)) return hr;
    static_cast<Pins*>(pins.get())->Initialize(pins_);
    *out = pins.Detach();
    return S_OK;
  }
  STDMETHOD(FindPin)(LPCWSTR, IPin**) override { return E_NOTIMPL; }
  STDMETHOD(QueryFilterInfo)(FILTER_INFO*) override { return E_NOTIMPL; }
  STDMETHOD(JoinFilterGraph)(IFilterGraph*, LPCWSTR) override { return E_NOTIMPL; }
  STDMETHOD(QueryVendorInfo)(LPWSTR*) override { return E_NOTIMPL; }
  STDMETHOD(Stop)() override { return E_NOTIMPL; }
  STDMETHOD(Pause)() override { return E_NOTIMPL; }
  STDMETHOD(Run)(REFERENCE_TIME) override { return E_NOTIMPL; }
  STDMETHOD(GetState)(DWORD, FILTER_STATE*) override { return E_NOTIMPL; }
  STDMETHOD(SetSyncSource)(IReferenceClock*) override { return E_NOTIMPL; }
  STDMETHOD(GetSyncSource)(IReferenceClock**) override { return E_NOTIMPL; }
  STDMETHOD(GetClassID)(CLSID*) override { return E_NOTIMPL; }

 private:
  Live live_;
  std::vector<ComPtr<IPin>> pins_;
};

// IUnknown is written by hand here: which interfaces the graph answers
// depends on the script of the file it rendered.
class Graph final : public IGraphBuilder, public IMediaSeeking, public IBasicVideo {
 public:
  // IUnknown
  STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    std::lock_guard lock(mutex_);
    if (riid == IID_IUnknown || riid == IID_IGraphBuilder || riid == IID_IFilterGraph)
      *ppv = static_cast<IGraphBuilder*>(this);
    else if (riid == IID_IMediaSeeking && !script_.noSeeking)
      *ppv = static_cast<IMediaSeeking*>(this);
    else if ((riid == IID_IBasicVideo || riid == IID_IDispatch) && !script_.noVideo)
      *ppv = static_cast<IBasicVideo*>(this);
    if (!*ppv) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  STDMETHOD_(ULONG, AddRef)() override { return ++refs_; }
  STDMETHOD_(ULONG, Release)() override {
    const ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }

  // IGraphBuilder
  STDMETHOD(RenderFile)(LPCWSTR file, LPCWSTR) override {
    std::lock_guard lock(mutex_);
    script_ = Script{};
    const HRESULT hr = ReadScript(file, &script_);
    return FAILED(hr) ? hr : script_.render;
  }
  STDMETHOD(AddSourceFilter)(LPCWSTR file, LPCWSTR, IBaseFilter** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    Script script;
    HRESULT hr = ReadScript(file, &script);
    if (FAILED(hr)) return hr;
    if (FAILED(script.source)) return script.source;
    ComPtr<IBaseFilter> filter;
    hr = vel::com::CreateComObject<SourceFilter>(&filter);
    if (FAILED(hr)) return hr;
    hr = static_cast<SourceFilter*>(filter.get())->Initialize(script.pins);
    if (FAILED(hr)) return hr;
    *out = filter.Detach();
    return S_OK;
  }
  STDMETHOD(Connect)(IPin*, IPin*) override { return E_NOTIMPL; }
  STDMETHOD(Render)(IPin*) override { return E_NOTIMPL; }
  STDMETHOD(SetLogFile)(ULONG_PTR) override { return E_NOTIMPL; }
  STDMETHOD(Abort)() override { return E_NOTIMPL; }
  STDMETHOD(ShouldOperationContinue)() override { return E_NOTIMPL; }
  STDMETHOD(AddFilter)(IBaseFilter*, LPCWSTR) override { return E_NOTIMPL; }
  STDMETHOD(RemoveFilter)(IBaseFilter*) override { return E_NOTIMPL; }
  STDMETHOD(EnumFilters)(IEnumFilters**) override { return E_NOTIMPL; }
  STDMETHOD(FindFilterByName)(LPCWSTR, IBaseFilter**) override { return E_NOTIMPL; }
  STDMETHOD(ConnectDirect)(IPin*, IPin*, const AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
  STDMETHOD(Reconnect)(IPin*) override { return E_NOTIMPL; }
  STDMETHOD(Disconnect)(IPin*) override { return E_NOTIMPL; }
  STDMETHOD(SetDefaultSyncSource)() override { return E_NOTIMPL; }

  // IMediaSeeking
  STDMETHOD(IsFormatSupported)(const GUID* format) override {
    if (!format) return E_POINTER;
    std::lock_guard lock(mutex_);
    if (*format == TIME_FORMAT_MEDIA_TIME) return S_OK;
    return *format == TIME_FORMAT_FRAME ? script_.frameFormat : S_FALSE;
  }
  STDMETHOD(SetTimeFormat)(const GUID* format) override {
    if (!format) return E_POINTER;
    std::lock_guard lock(mutex_);
    if (FAILED(script_.setTimeFormat)) return script_.setTimeFormat;
    inFrames_ = *format == TIME_FORMAT_FRAME;
    return S_OK;
  }
  STDMETHOD(GetDuration)(LONGLONG* duration) override {
    if (!duration) return E_POINTER;
    std::lock_guard lock(mutex_);
    *duration = inFrames_ ? script_.frames : script_.duration;
    return S_OK;
  }
  STDMETHOD(GetCapabilities)(DWORD*) override { return E_NOTIMPL; }
  STDMETHOD(CheckCapabilities)(DWORD*) override { return E_NOTIMPL; }
  STDMETHOD(QueryPreferredFormat)(GUID*) override { return E_NOTIMPL; }
  STDMETHOD(GetTimeFormat)(GUID*) override { return E_NOTIMPL; }
  STDMETHOD(IsUsingTimeFormat)(const GUID*) override { return E_NOTIMPL; }
  STDMETHOD(GetStopPosition)(LONGLONG*) override { return E_NOTIMPL; }
  STDMETHOD(GetCurrentPosition)(LONGLONG*) override { return E_NOTIMPL; }
  STDMETHOD(ConvertTimeFormat)(LONGLONG*, const GUID*, LONGLONG, const GUID*) override { return E_NOTIMPL; }
  STDMETHOD(SetPositions)(LONGLONG*, DWORD, LONGLONG*, DWORD) override { return E_NOTIMPL; }
  STDMETHOD(GetPositions)(LONGLONG*, LONGLONG*) override { return E_NOTIMPL; }
  STDMETHOD(GetAvailable)(LONGLONG*, LONGLONG*) override { return E_NOTIMPL; }
  STDMETHOD(SetRate)(double) override { return E_NOTIMPL; }
  STDMETHOD(GetRate)(double*) override { return E_NOTIMPL; }
  STDMETHOD(GetPreroll)(LONGLONG*) override { return E_NOTIMPL; }

  // IBasicVideo
  STDMETHOD(get_AvgTimePerFrame)(REFTIME* out) override { return Figure(out, script_.avgTime); }
  STDMETHOD(get_BitRate)(LONG* out) override { return Figure(out, script_.bitrate); }
  STDMETHOD(get_VideoWidth)(LONG* out) override { return Figure(out, script_.width); }
  STDMETHOD(get_VideoHeight)(LONG* out) override { return Figure(out, script_.height); }
  STDMETHOD(get_BitErrorRate)(LONG*) override { return E_NOTIMPL; }
  STDMETHOD(put_SourceLeft)(LONG) override { return E_NOTIMPL; }
  STDMETHOD(get_SourceLeft)(LONG*) override { return E_NOTIMPL; }
  STDMETHOD(put_SourceWidth)(LONG) override { return E_NOTIMPL; }
  STDMETHOD(get_SourceWidth)(LONG*) override { return E_NOTIMPL; }
  STDMETHOD(put_SourceTop)(LONG) override { return E_NOTIMPL; }
  STDMETHOD(get_SourceTop)(LONG*) override { return E_NOTIMPL; }
  STDMETHOD(put_SourceHeight)(LONG) override { return E_NOTIMPL; }
  STDMETHOD(get_SourceHeight)(LONG*) override { return E_NOTIMPL; }
  STDMETHOD(put_DestinationLeft)(LONG) override { return E_NOTIMPL; }
  STDMETHOD(get_DestinationLeft)(LONG*) override { return E_NOTIMPL; }
  STDMETHOD(put_DestinationWidth)(LONG) override { return E_NOTIMPL; }
  STDMETHOD(get_DestinationWidth)(LONG*) override { return E_NOTIMPL; }
  STDMETHOD(put_DestinationTop)(LONG) override { return E_NOTIMPL; }
  STDMETHOD(get_DestinationTop)(LONG*) override { return E_NOTIMPL; }
  STDMETHOD(put_DestinationHeight)(LONG) override { return E_NOTIMPL; }
  STDMETHOD(get_DestinationHeight)(LONG*) override { return E_NOTIMPL; }
  STDMETHOD(SetSourcePosition)(LONG, LONG, LONG, LONG) override { return E_NOTIMPL; }
  STDMETHOD(GetSourcePosition)(LONG*, LONG*, LONG*, LONG*) override { return E_NOTIMPL; }
  STDMETHOD(SetDefaultSourcePosition)() override { return E_NOTIMPL; }
  STDMETHOD(SetDestinationPosition)(LONG, LONG, LONG, LONG) override { return E_NOTIMPL; }
  STDMETHOD(GetDestinationPosition)(LONG*, LONG*, LONG*, LONG*) override { return E_NOTIMPL; }
  STDMETHOD(SetDefaultDestinationPosition)() override { return E_NOTIMPL; }
  STDMETHOD(GetVideoSize)(LONG*, LONG*) override { return E_NOTIMPL; }
  STDMETHOD(GetVideoPaletteEntries)(LONG, LONG, LONG*, LONG*) override { return E_NOTIMPL; }
  STDMETHOD(GetCurrentImage)(LONG*, LONG*) override { return E_NOTIMPL; }
  STDMETHOD(IsUsingDefaultSource)() override { return E_NOTIMPL; }
  STDMETHOD(IsUsingDefaultDestination)() override { return E_NOTIMPL; }
  STDMETHOD(GetTypeInfoCount)(UINT* count) override {
    if (count) *count = 0;
    return S_OK;
  }
  STDMETHOD(GetTypeInfo)(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  STDMETHOD(GetIDsOfNames)(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  STDMETHOD(Invoke)(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    return E_NOTIMPL;
  }

 private:
  template <class T>
  HRESULT Figure(T* out, const T& value) {
    if (!out) return E_POINTER;
    std::lock_guard lock(mutex_);
    if (FAILED(script_.videoHr)) return script_.videoHr;
    *out = value;
    return S_OK;
  }

  Live live_;
  std::atomic<ULONG> refs_{1};
  std::mutex mutex_;
  Script script_;
  bool inFrames_ = false;
};

class GraphClass final : public IClassFactory {
 public:
  STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid != IID_IUnknown && riid != IID_IClassFactory) return E_NOINTERFACE;
    *ppv = static_cast<IClassFactory*>(this);
    return S_OK;
  }
  STDMETHOD_(ULONG, AddRef)() override { return 2; }
  STDMETHOD_(ULONG, Release)() override { return 1; }
  STDMETHOD(CreateInstance)(IUnknown* outer, REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    auto* graph = new Graph;
    const HRESULT hr = graph->QueryInterface(riid, ppv);
    graph->Release();
    return hr;
  }
  STDMETHOD(LockServer)(BOOL) override { return S_OK; }
};

GraphClass g_graphClass;

std::u16string ClassKey() {
  OLECHAR guid[40];
  StringFromGUID2(CLSID_FilterGraph, guid, 40);
  return u"CLSID\\" + std::u16string(guid) + u"\\InprocServer32";
}

}  // namespace

SCRIPTED_GRAPH_EXPORT LONG ScriptedGraphLiveObjects() { return g_live.load(); }
SCRIPTED_GRAPH_EXPORT LONG ScriptedGraphMediaTypesHandedOut() { return g_handedOut.load(); }

SCRIPTED_GRAPH_EXPORT HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (rclsid != CLSID_FilterGraph) return CLASS_E_CLASSNOTAVAILABLE;
  return g_graphClass.QueryInterface(riid, ppv);
}

SCRIPTED_GRAPH_EXPORT HRESULT DllCanUnloadNow() { return S_FALSE; }

// Takes CLSID_FilterGraph over in the current store.
SCRIPTED_GRAPH_EXPORT HRESULT DllRegisterServer() {
  const std::u16string path = vel::ThisModulePath();
  HKEY key = nullptr;
  if (path.empty() || RegCreateKeyExW(HKEY_CLASSES_ROOT, ClassKey().c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                      &key, nullptr) != ERROR_SUCCESS)
    return SELFREG_E_CLASS;
  const LSTATUS status = RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(path.c_str()),
                                        static_cast<DWORD>((path.size() + 1) * sizeof(char16_t)));
  RegCloseKey(key);
  return status == ERROR_SUCCESS ? S_OK : SELFREG_E_CLASS;
}
