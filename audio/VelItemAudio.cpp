#include "audio/VelItemAudio.h"

#include <cstring>
#include <optional>
#include <utility>
#include <vector>

#include "audio/AudioFormats.h"
#include "audio/AudioPropertyMap.h"
#include "audio/ByteArray.h"
#include "audio/MappedFile.h"
#include "audio/mp4/AacEditor.h"
#include "audio/wave/WaveHeader.h"
#include "audio/wma/WmaEditor.h"
#include "contract/VelComBoundary.h"
#include "contract/VelItemsLib.h"
#include "framework/ItemProperties.h"
#include "framework/PluginIdentity.h"
#include "framework/VelPluginHelpers.h"
#include "platform/base/Ascii.h"
#include "platform/com/oleauto.h"
#include "platform/text.h"
#include "platform/win32/fileapi.h"
#include "platform/win32/shlobj.h"
#include "platform/wmf/wmsdk.h"
#include "ylib/YCOMUtilities.h"
#include "ylib/YErrorFrame.h"
#include "ylib/YErrorText.h"
#include "ylib/YFileUtilities.h"
#include "ylib/YGUID.h"
#include "ylib/YLogging.h"

namespace {
using vel::audio::AudioCheck;
using vel::audio::AudioFamily;
using vel::audio::AudioFormat;
using vel::audio::FindAudioFormat;

constexpr char16_t kSource[] = u"VelItemAudio";
constexpr const IID& kPlugin = IID_IVelItemPlugin;
constexpr const IID& kAudio = IID_IVelItemAudio;
constexpr const char16_t* kProgId = kProgIdVelItemAudio;
const vel::framework::PluginIdentity kIdentity{u"CVelItemAudio", kSource, kProgId, u"Audio", CSIDL_MYMUSIC};

constexpr char16_t kPicture[] = u"Picture";
// The tags of a file could not be written.
constexpr YErrorDef kErrWritingAudioMetadata{61004, u"Error writing audio metadata."};

using vel::framework::Add;
using vel::framework::BstrText;
using vel::framework::Exists;
using vel::framework::LowerExtension;
using vel::framework::ForEachProperty;
using vel::framework::IsEmptyValue;
using vel::framework::NewItem;
using vel::framework::PropertiesOf;
using vel::framework::PropertyName;
using vel::framework::PropertyNamespace;
using vel::framework::Put;

// The engine of the file's format; kNone for an extension the table does not know.
AudioFamily FamilyOf(std::u16string_view ext) {
  const AudioFormat* format = FindAudioFormat(ext);
  return format ? format->family : AudioFamily::kNone;
}

bool SameNameNoCase(std::u16string_view a, std::u16string_view b) { return vel::CompareNoCase(a, b) == 0; }

// The MIME type that the audio plugin's configuration gives ext; possibly empty.
std::u16string MimeTypeOf(std::u16string_view ext) {
  return CVelPluginHelpers::RegisteredExt2MimeType(CYGUID::GUIDToString(CLSID_VelItemAudio), ext);
}

// A value as text, the way VariantChangeType makes one (VT_EMPTY: empty);
// a value that has no text raises.
std::u16string ValueText(const _variant_t& value) {
  _variant_t text;
  text.ChangeType(VT_BSTR, &value);
  return BstrText(text.bstrVal);
}

// Trimmed, with path separators turned into "_" so one name is one folder.
std::u16string FolderName(std::u16string text) {
  constexpr std::u16string_view kSpace = u" \t\r\n\v\f";
  const std::size_t first = text.find_first_not_of(kSpace);
  if (first == std::u16string::npos) return {};
  text = text.substr(first, text.find_last_not_of(kSpace) - first + 1);
  for (char16_t& c : text) {
    if (c == u'/' || c == u'\\') c = u'_';
  }
  return text;
}

// Opens the file's header for reading, with OpenEx where the editor offers it
// so that others may go on reading and deleting the file meanwhile.
HRESULT OpenForReading(IWMMetadataEditor* editor, const std::u16string& path) {
  ComPtr<IWMMetadataEditor2> editor2;
  if (SUCCEEDED(ComPtr<IWMMetadataEditor>(editor).QueryInterface(editor2)) && editor2)
    return editor2->OpenEx(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE);
  return editor->Open(path.c_str());
}

// Closes an opened runtime editor or reader on every way out of a scope.
template <class Runtime>
class ClosingScope {
 public:
  explicit ClosingScope(Runtime* runtime) noexcept : runtime_(runtime) {}
  ~ClosingScope() {
    if (runtime_) runtime_->Close();
  }
  ClosingScope(const ClosingScope&) = delete;
  ClosingScope& operator=(const ClosingScope&) = delete;
  // Closes now; the scope's end does nothing more.
  void Close() noexcept {
    if (runtime_) std::exchange(runtime_, nullptr)->Close();
  }

 private:
  Runtime* runtime_;
};

// The byte at a byte array's lower bound; nothing when the array has none.
std::optional<BYTE> FirstByte(const VARIANT& value) {
  const CByteArrayView view(value);
  if (!view.valid() || view.bytes().empty()) return std::nullopt;
  return view.bytes().front();
}

}  // namespace

HRESULT CVelItemAudio::FinalConstruct() {
  return VelComBoundary(kPlugin, kProgId, VEL_FRAME(u"CVelItemAudio::FinalConstruct"), [&] {
    ComPtr<IUnknown> video = m_classFactory.CreateObject(CLSID_VelItemVideo, u"VelItemPluginsLib::VelItemVideo");
    YCheckHr(video.QueryInterface(m_videoPlugin));
  });
}

void CVelItemAudio::FinalRelease() {
  YErrorFrameNoThrow(VEL_FRAME(u"CVelItemAudio::FinalRelease"), [&] {
    m_videoPlugin = nullptr;
    m_classFactory.Clear();
  });
}

HRESULT CVelItemAudio::QueryCapability(LONG nCapability, VARIANT_BOOL* pbRetVal) {
  return kIdentity.QueryCapability(nCapability, pbRetVal);
}

HRESULT CVelItemAudio::get_Name(BSTR* pVal) { return kIdentity.Name(pVal); }

HRESULT CVelItemAudio::get_CustomStoragePath(BSTR* pVal) { return kIdentity.CustomStoragePath(pVal); }

// ---------------------------------------------------------------------------
// Reading

HRESULT CVelItemAudio::ReadMetadata(BSTR strFilePath, IVelItem** ppiRetVal) {
  return VelComBoundary(kPlugin, kProgId, VEL_FRAME(u"CVelItemAudio::ReadMetadata"),
                        [&](const YFrame& f) {
                          IVelItem** out = VelOutParam(ppiRetVal, f);
                          const std::u16string path = BstrText(strFilePath);
                          CYFileUtilities::CheckFileExists(path);
                          const std::u16string ext = LowerExtension(path);
                          ComPtr<IVelItem> item;
                          std::optional<AudioFileKind> kind;
                          switch (FamilyOf(ext)) {
                            case AudioFamily::kWindowsMedia:
                              item = ReadWmaMetaData(path, false);
                              kind = AudioFileKind::WindowsMedia;
                              break;
                            case AudioFamily::kMp4:
                              item = ReadAacMetaData(path, false);
                              kind = AudioFileKind::Mp4;
                              break;
                            case AudioFamily::kWave:
                              item = ReadWavMetaData(path);
                              kind = AudioFileKind::Wav;
                              break;
                            case AudioFamily::kNone:
                              item = NewItem();
                              break;
                          }
                          if (kind) item = SetRemainingProps(std::move(item), *kind);
                          const std::u16string mime = MimeTypeOf(ext);
                          ComPtr<IVelProperties> properties = PropertiesOf(item, f);
                          Put(properties, u"ItemType", kCoreNamespace, _variant_t(std::u16string_view(mime)));
                          Add(properties, _variant_t(std::u16string_view(path)), u"URI", kCoreNamespace);
                          YCheckHr(item->put_ItemClass(_bstr_t(u"Audio")));
                          *out = item.Detach();
                        });
}

ComPtr<IVelItem> CVelItemAudio::ReadWmaMetaData(const std::u16string& path, bool readPicture) {
  return YErrorFrame(VEL_FRAME(u"CVelItemAudio::ReadWmaMetaData"), [&](const YFrame& f) {
    ComPtr<IVelItem> item = NewItem();
    YCheckHr(item->put_ItemClass(_bstr_t(u"Audio")));
    Add(PropertiesOf(item, f), _variant_t(std::u16string_view(path)), u"URI", kCoreNamespace);
    ReadMediaProperties(path, item);
    ComPtr<IWMMetadataEditor> editor;
    if (FAILED(WMCreateEditor(&editor)) || !editor) return item;
    if (FAILED(OpenForReading(editor, path))) return item;
    ClosingScope<IWMMetadataEditor> open(editor.get());
    CMetaDataItemList records;
    CWmaEditor wma;
    if (!wma.ReadAll(path, editor, records)) return item;
    CYLogging::Log(kYLogDebug, u"WMA Metadata read for file: %s\n", path);
    ComPtr<IVelProperties> properties = PropertiesOf(item, f);
    for (const CMetaDataItem& record : records) {
      if (!readPicture && record.name == kPicture && record.namespaceUri == kExtendedNamespace) continue;
      if (IsEmptyValue(record.value)) continue;
      Add(properties, record.value, record.name, record.namespaceUri);
    }
    return item;
  });
}

void CVelItemAudio::ReadMediaProperties(const std::u16string& path, IVelItem* item) {
  YErrorFrame(VEL_FRAME(u"CVelItemAudio::ReadMediaProperties"), [&](const YFrame& f) {
    if (path.empty() || item == nullptr) return;
    ComPtr<IWMSyncReader> reader;
    if (FAILED(WMCreateSyncReader(nullptr, 0, &reader)) || !reader) return;
    if (FAILED(reader->Open(path.c_str()))) return;
    ClosingScope<IWMSyncReader> open(reader.get());
    ComPtr<IWMProfile> profile;
    if (FAILED(reader.QueryInterface(profile)) || !profile) return;
    DWORD streams = 0;
    if (FAILED(profile->GetStreamCount(&streams))) return;
    for (DWORD i = 0; i < streams; ++i) {
      ComPtr<IWMStreamConfig> stream;
      GUID type{};
      if (FAILED(profile->GetStream(i, &stream)) || !stream || FAILED(stream->GetStreamType(&type))) continue;
      if (type != WMMEDIATYPE_Audio) continue;
      // The first audio stream answers; the walk ends here.
      std::uint32_t bitrate = 0;
      float rate = 0;
      ComPtr<IWMMediaProps> props;
      DWORD size = 0;
      if (SUCCEEDED(stream.QueryInterface(props)) && props && SUCCEEDED(props->GetMediaType(nullptr, &size)) &&
          size >= sizeof(WM_MEDIA_TYPE)) {
        std::vector<std::uint8_t> buffer(size);
        WM_MEDIA_TYPE media{};
        if (SUCCEEDED(props->GetMediaType(reinterpret_cast<WM_MEDIA_TYPE*>(buffer.data()), &size))) {
          std::memcpy(&media, buffer.data(), sizeof media);
          // The format block must lie inside what the runtime filled.
          const std::uint8_t* block = media.pbFormat;
          const bool inside = block != nullptr && block >= buffer.data() &&
                              static_cast<std::size_t>(block - buffer.data()) <= buffer.size() &&
                              buffer.size() - static_cast<std::size_t>(block - buffer.data()) >= media.cbFormat;
          if (media.formattype == WMFORMAT_WaveFormatEx && media.cbFormat >= sizeof(WAVEFORMATEX) && inside) {
            WAVEFORMATEX wave;
            std::memcpy(&wave, block, sizeof wave);
            bitrate = wave.nAvgBytesPerSec * 8u;
            if (bitrate == 0) bitrate = static_cast<std::uint32_t>(wave.wBitsPerSample) * wave.nSamplesPerSec;
            rate = static_cast<float>(wave.nSamplesPerSec);
          }
        }
      }
      ComPtr<IVelProperties> properties = PropertiesOf(item, f);
      if (bitrate != 0) Put(properties, u"Bitrate", kCoreNamespace, _variant_t(bitrate, VT_UI4));
      if (rate > 0) Put(properties, u"SamplingFrequency", kCoreNamespace, _variant_t(rate));
      break;
    }
  });
}

ComPtr<IVelItem> CVelItemAudio::ReadAacMetaData(const std::u16string& path, bool readPicture) {
  return YErrorFrame(VEL_FRAME(u"CVelItemAudio::ReadAacMetaData"), [&](const YFrame& f) {
    ComPtr<IVelItem> item = NewItem();
    YCheckHr(item->put_ItemClass(_bstr_t(u"Audio")));
    ComPtr<IVelProperties> properties = PropertiesOf(item, f);
    Add(properties, _variant_t(std::u16string_view(path)), u"URI", kCoreNamespace);
    CMetaDataItemList records;
    bool read = false;
    {
      CAacEditor editor;
      editor.SetReadOnly(readPicture);
      read = editor.Read(path, records);
    }  // the editor's frames go before their records are copied into the item
    if (read) {
      for (CMetaDataItem& record : records) {
        if (!readPicture && record.name == kPicture && record.namespaceUri == kExtendedNamespace) continue;
        // A "gnre" number without a name is no genre.
        if (record.name == u"Genre" && record.namespaceUri == kCoreNamespace && record.value.vt != VT_BSTR) continue;
        if (record.name == u"Rating" && record.value.vt == (VT_ARRAY | VT_UI1)) {
          if (const std::optional<BYTE> rating = FirstByte(record.value))
            Add(properties, _variant_t(static_cast<unsigned int>(*rating), VT_UI4), record.name, record.namespaceUri);
          continue;
        }
        if (IsEmptyValue(record.value)) continue;
        Add(properties, record.value, record.name, record.namespaceUri);
        // The record's copy goes once the item holds the value: a picture is
        // held twice at most on the way.
        record.value.Clear();
      }
    }
    if (!Exists(properties, u"Protected", kCoreNamespace))
      Add(properties, _variant_t(static_cast<short>(0)), u"Protected", kCoreNamespace);
    return item;
  });
}

ComPtr<IVelItem> CVelItemAudio::ReadWavMetaData(const std::u16string& path) {
  return YErrorFrame(VEL_FRAME(u"CVelItemAudio::ReadWavMetaData"), [&](const YFrame& f) {
    ComPtr<IVelItem> item = NewItem();
    YCheckHr(item->put_ItemClass(_bstr_t(u"Audio")));
    ComPtr<IVelProperties> properties = PropertiesOf(item, f);
    const std::uint64_t size = CYFileUtilities::GetFileSize(path);
    const std::u16string mime = MimeTypeOf(LowerExtension(path));
    Put(properties, u"Size", kCoreNamespace, _variant_t(static_cast<long long>(size)));
    Put(properties, u"URI", kCoreNamespace, _variant_t(std::u16string_view(path)));
    Put(properties, u"ItemType", kCoreNamespace, _variant_t(std::u16string_view(mime)));
    Put(properties, u"Protected", kCoreNamespace, _variant_t(static_cast<short>(0)));
    // "RIFF", its size, "WAVE", "fmt ", its size and the shortest format: 34 bytes.
    if (size < 34) return item;
    CMappedFile file;
    if (file.Open(path) != CMappedFile::Status::kOk) return item;
    const vel::wave::WaveHeaderInfo header = vel::wave::ReadWaveHeader(file.bytes());
    if (header.duration) Put(properties, u"Duration", kCoreNamespace, _variant_t(*header.duration));
    if (static_cast<std::int32_t>(header.bitrate) > 0)
      Put(properties, u"Bitrate", kCoreNamespace, _variant_t(static_cast<int>(header.bitrate), VT_I4));
    if (static_cast<std::int32_t>(header.sampleRate) > 0)
      Put(properties, u"SamplingFrequency", kCoreNamespace, _variant_t(static_cast<double>(header.sampleRate)));
    return item;
  });
}

ComPtr<IVelItem> CVelItemAudio::SetRemainingProps(ComPtr<IVelItem> item, AudioFileKind kind) {
  return YErrorFrame(VEL_FRAME(u"CVelItemAudio::SetRemainingProps"), [&](const YFrame& f) {
    if (!item) YThrowHr(E_POINTER, f);
    ComPtr<IVelItem> result;
    YCheckHr(item->Clone(_variant_t(static_cast<int>(DISP_E_PARAMNOTFOUND), VT_ERROR), &result));
    if (!result) YThrowHr(E_POINTER, f);
    // The keys the item holds; one snapshot serves every row.
    std::vector<std::pair<std::u16string, std::u16string>> present;
    ForEachProperty(PropertiesOf(item, f), f, [&](IVelProperty* property) {
      present.emplace_back(PropertyName(property), PropertyNamespace(property));
    });
    const auto holds = [&](std::u16string_view name, std::u16string_view ns) {
      for (const auto& [n, s] : present) {
        // Case folding keeps lengths: names of another length are passed over at once.
        if (n.size() == name.size() && s.size() == ns.size() && SameNameNoCase(n, name) && SameNameNoCase(s, ns))
          return true;
      }
      return false;
    };
    ComPtr<IVelProperties> target = PropertiesOf(result, f);
    if (kind == AudioFileKind::WindowsMedia || kind == AudioFileKind::Mp4) {
      for (const AudioPropertyMapRow& row : AudioPropertyMap) {
        if (holds(row.propertyName, row.propertyNamespace)) continue;
        // MP4 files cannot hold a property without an item type.
        if (kind == AudioFileKind::Mp4 && !row.HasAtom()) continue;
        Add(target, _variant_t(), row.propertyName, row.propertyNamespace);
      }
    } else if (kind == AudioFileKind::Wav) {
      for (const char16_t* name : {u"Duration", u"Bitrate", u"SamplingFrequency"}) {
        if (!holds(name, kCoreNamespace)) Add(target, _variant_t(), name, kCoreNamespace);
      }
    }
    item = nullptr;
    return result;
  });
}

// ---------------------------------------------------------------------------
// Writing

HRESULT CVelItemAudio::WriteMetadata(BSTR strFilePath, IVelItem* pItem) {
  return VelComBoundary(kPlugin, kProgId, VEL_FRAME(u"CVelItemAudio::WriteMetadata"), [&] {
    if (pItem == nullptr) return;
    ComPtr<IVelItem> item;
    YCheckHr(ComPtr<IUnknown>(pItem).QueryInterface(item));
    const std::u16string path = BstrText(strFilePath);
    CYFileUtilities::CheckFileExists(path);
    switch (FamilyOf(LowerExtension(path))) {
      case AudioFamily::kWindowsMedia:
        WriteWmaMetaData(path, item);
        break;
      case AudioFamily::kMp4:
        WriteAacMetaData(path, item);
        break;
      case AudioFamily::kWave:  // read only
      case AudioFamily::kNone:
        break;
    }
  });
}

void CVelItemAudio::WriteWmaMetaData(const std::u16string& path, IVelItem* item) {
  YErrorFrame(VEL_FRAME(u"CVelItemAudio::WriteWmaMetaData"), [&](const YFrame& f) {
    ComPtr<IWMMetadataEditor> editor;
    if (FAILED(WMCreateEditor(&editor)) || !editor) return;
    if (FAILED(editor->Open(path.c_str()))) {
      CYLogging::Log(kYLogWarning, u"Failed to write metadata for file: %s\n", path);
      return;
    }
    ClosingScope<IWMMetadataEditor> open(editor.get());
    ComPtr<IWMHeaderInfo3> header;
    const HRESULT hr = editor.QueryInterface(header);
    if (hr == E_NOINTERFACE) return;
    YCheckHr(hr);
    // One editor object reads and writes: the byte order the read finds
    // applies to the writes.
    CWmaEditor wma;
    CMetaDataItemList records;
    if (!wma.ReadAll(path, editor, records)) throw YReport(kErrWritingAudioMetadata, f).AddDetail(u"FilePath", path);
    bool changed = false;
    ForEachProperty(PropertiesOf(item, f), f, [&](IVelProperty* property) {
      const std::u16string name = PropertyName(property);
      const std::u16string ns = PropertyNamespace(property);
      _variant_t value;
      YCheckHr(property->get_Value(value.GetAddress()));
      const CMetaDataItem* record = FindRecord(name, records);
      // VT_NULL asks for the attribute to go; no stored value is "the same"
      // (and none could be converted to it for the comparison).
      if (record != nullptr && value.vt != VT_NULL && record->IsSameData(value)) {
        RemoveMetaDataItem(name, records);
        return;
      }
      if (wma.WriteAttribute(header, path, name, ns, value)) {
        changed = true;
        if (record != nullptr) RemoveMetaDataItem(name, records);
      } else if (FAILED(wma.runtimeRefusal())) {
        // The file cannot store that value (an MP3 keeps no GUIDs, no bytes
        // but pictures, no computed attribute): a failure, never a silent
        // success; nothing is flushed, the file stays as it was.
        throw YReport(kErrWritingAudioMetadata, f).AddDetail(u"FilePath", path);
      }
    });
    // A header that cannot be written back (a read-only file, a full disk, a
    // file changed meanwhile) is the caller's failure, not a silent success.
    if (changed && FAILED(editor->Flush())) throw YReport(kErrWritingAudioMetadata, f).AddDetail(u"FilePath", path);
  });
}

void CVelItemAudio::WriteAacMetaData(const std::u16string& path, IVelItem* item, const VARIANT* picture) {
  YErrorFrame(VEL_FRAME(u"CVelItemAudio::WriteAacMetaData"), [&](const YFrame& f) {
    CAacEditor editor;
    // The changes are decided on what is read now: another writer of the file
    // waits until this one is done, then works from its result.
    editor.LockForWrite(path);
    // A picture given replaces the file's: the stored cover is neither copied
    // nor read, only compared with the new picture where it lies in the file.
    if (picture != nullptr) editor.SetPictureReplaced();
    {
      CMetaDataItemList records;  // not needed here: they go at once
      if (!editor.Read(path, records)) return;
    }
    // A raw ADTS stream has no place for tags: like a file the editor does
    // not read, it is left as it is.
    if (!editor.IsMovie()) return;
    bool changed = false;
    ForEachProperty(PropertiesOf(item, f), f, [&](IVelProperty* property) {
      const std::u16string name = PropertyName(property);
      if (picture != nullptr && name == kPicture) return;  // the picture given instead comes last
      const int type = editor.GetFrameType(name);
      if (type < 0 || IsReadOnlyProperty(name)) return;
      _variant_t value;
      YCheckHr(property->get_Value(value.GetAddress()));
      if (editor.SetProperty(path, name, type, std::move(value))) changed = true;
    });
    // As the item's last property would be: a new cover frame goes last.
    if (picture != nullptr && editor.SetProperty(path, kPicture, editor.GetFrameType(kPicture), _variant_t(*picture)))
      changed = true;
    // The file stays as it was when it cannot be written (its folder takes
    // no new file, a layout the writer does not know); the caller hears of it.
    if (changed && !editor.Write(path)) {
      CYException report = YReport(kErrWritingAudioMetadata, f);
      report.AddDetail(u"FilePath", path);
      if (editor.writeError() != 0) report.AddDetail(u"SystemError", FormatErrorMessage(editor.writeError()));
      throw report;
    }
  });
}

// ---------------------------------------------------------------------------
// Pictures

HRESULT CVelItemAudio::ReadPicture(BSTR strFilePath, VARIANT* varPicture) {
  return VelComBoundary(kAudio, kProgId, VEL_FRAME(u"CVelItemAudio::ReadPicture"), [&](const YFrame& f) {
    VARIANT* out = VelOutParam(varPicture, f);
    const std::u16string path = BstrText(strFilePath);
    CYFileUtilities::CheckFileExists(path);
    ComPtr<IVelItem> item;
    switch (FamilyOf(LowerExtension(path))) {
      case AudioFamily::kWindowsMedia:
        item = ReadWmaMetaData(path, true);
        break;
      case AudioFamily::kMp4:
        item = ReadAacMetaData(path, true);
        break;
      case AudioFamily::kWave:  // no picture
      case AudioFamily::kNone:
        return;
    }
    if (!item) return;
    ComPtr<IVelProperties> properties = PropertiesOf(item, f);
    // A file without a picture gives an item without "Picture": VT_EMPTY.
    if (!Exists(properties, kPicture, kExtendedNamespace)) return;
    _variant_t picture;
    YCheckHr(properties->get_Value(_bstr_t(kPicture), _bstr_t(kExtendedNamespace), picture.GetAddress()));
    *out = picture.Detach();
  });
}

HRESULT CVelItemAudio::WritePicture(BSTR strFilePath, VARIANT varPicture) {
  return VelComBoundary(kAudio, kProgId, VEL_FRAME(u"CVelItemAudio::WritePicture"), [&](const YFrame& f) {
    if (varPicture.vt != VT_EMPTY && varPicture.vt != VT_NULL && varPicture.vt != (VT_ARRAY | VT_UI1))
      YThrow(kYErrInvalidParameter, f);
    const std::u16string path = BstrText(strFilePath);
    CYFileUtilities::CheckFileExists(path);
    // Every tag is written back as just read (unchanged values are left
    // alone), with the new picture in place of the old one.
    switch (FamilyOf(LowerExtension(path))) {
      case AudioFamily::kWindowsMedia: {
        ComPtr<IVelItem> item = ReadWmaMetaData(path, true);
        // Either kind of "no picture" removes it: VT_NULL is the value the
        // write path deletes with (VT_EMPTY cannot be compared with a
        // stored picture).
        _variant_t picture(varPicture);
        if (picture.vt == VT_EMPTY) picture.vt = VT_NULL;  // VT_EMPTY holds nothing to free
        Put(PropertiesOf(item, f), kPicture, kExtendedNamespace, picture);
        WriteWmaMetaData(path, item);
        break;
      }
      case AudioFamily::kMp4: {
        // The tags without the old picture; the new one is handed to the
        // writer as it is, so the module holds it once (in its tag frame).
        ComPtr<IVelItem> item = ReadAacMetaData(path, false);
        WriteAacMetaData(path, item, &varPicture);
        break;
      }
      case AudioFamily::kWave:  // no picture
      case AudioFamily::kNone:
        break;
    }
  });
}

// ---------------------------------------------------------------------------
// Validation

HRESULT CVelItemAudio::ValidateItem(IVelItem* pItem, LONG* pStatus) {
  return VelComBoundary(kPlugin, kProgId, VEL_FRAME(u"CVelItemAudio::ValidateItem"),
                        [&](const YFrame& f) {
                          LONG* status = VelOutParam(pStatus, f);
                          ComPtr<IVelProperties> properties = PropertiesOf(pItem, f);
                          _variant_t uri;
                          YCheckHr(properties->get_Value(_bstr_t(u"URI"), _bstr_t(kCoreNamespace), uri.GetAddress()));
                          const std::u16string path = ValueText(uri);
                          if (!CYFileUtilities::FileExists(path)) {
                            *status = EVelValidateStatus_FileMissing;
                            return;
                          }
                          const std::u16string ext = LowerExtension(path);
                          try {
                            *status = ValidateExisting(pItem, path, ext);
                          } catch (const CYException&) {
                            // The video plugin, the runtime or the MP4 editor could not judge
                            // the file: it is not one this plugin can use.
                            *status = EVelValidateStatus_FileCorrupt;
                          }
                        });
}

LONG CVelItemAudio::ValidateExisting(IVelItem* item, const std::u16string& path, const std::u16string& ext) {
  return YErrorFrame(VEL_FRAME(u"CVelItemAudio::ValidateExisting"), [&](const YFrame& f) -> LONG {
    const AudioFormat* format = FindAudioFormat(ext);
    if (!format) return EVelValidateStatus_FileCorrupt;
    if (format->videoFirst) {
      if (!m_videoPlugin) YThrowHr(E_POINTER, f);
      LONG video = EVelValidateStatus_FileCorrupt;
      YCheckHr(m_videoPlugin->ValidateItem(item, &video));
      // A valid video belongs to the video plugin.
      if (video == EVelValidateStatus_OK) return EVelValidateStatus_FileCorrupt;
    }
    switch (format->check) {
      case AudioCheck::kWindowsMedia:
        if (!ValidateWma(path)) CYLogging::Log(kYLogWarning, u"Failed to validate file: %s\n", path);
        return EVelValidateStatus_OK;
      case AudioCheck::kMp4:
        return ValidateAac(path) ? EVelValidateStatus_OK : EVelValidateStatus_FileCorrupt;
      case AudioCheck::kAccept:
        return EVelValidateStatus_OK;
    }
    return EVelValidateStatus_FileCorrupt;
  });
}

bool CVelItemAudio::ValidateWma(const std::u16string& path) {
  return YErrorFrame(VEL_FRAME(u"CVelItemAudio::ValidateWma"), [&] {
    if (path.empty()) return false;
    ComPtr<IWMSyncReader> reader;
    if (SUCCEEDED(WMCreateSyncReader(nullptr, 0, &reader)) && reader && SUCCEEDED(reader->Open(path.c_str()))) {
      reader->Close();
      return true;
    }
    ComPtr<IWMMetadataEditor> editor;
    if (FAILED(WMCreateEditor(&editor)) || !editor) return false;
    if (FAILED(OpenForReading(editor, path))) return false;
    editor->Close();
    return true;
  });
}

bool CVelItemAudio::ValidateAac(const std::u16string& path) {
  return YErrorFrame(VEL_FRAME(u"CVelItemAudio::ValidateAac"), [&] {
    if (path.empty()) return false;
    CAacEditor editor;
    return editor.Validate(path);
  });
}

// ---------------------------------------------------------------------------
// Storage folder

HRESULT CVelItemAudio::GetItemPath(IVelItem* pItem, BSTR* pVal) {
  return VelComBoundary(kPlugin, kProgId, VEL_FRAME(u"CVelItemAudio::GetItemPath"),
                        [&](const YFrame& f) {
                          BSTR* out = VelOutParam(pVal, f);
                          if (pItem == nullptr) return;
                          ComPtr<IVelItem> item;
                          YCheckHr(ComPtr<IUnknown>(pItem).QueryInterface(item));
                          ComPtr<IVelProperties> properties = PropertiesOf(item, f);
                          const auto text = [&](const char16_t* name) {
                            _variant_t value;
                            YCheckHr(properties->get_Value(_bstr_t(name), _bstr_t(kCoreNamespace), value.GetAddress()));
                            return ValueText(value);
                          };
                          // Presence decides, not content: an empty "AlbumArtist" hides "Artist".
                          std::u16string artist;
                          if (Exists(properties, u"AlbumArtist", kCoreNamespace))
                            artist = text(u"AlbumArtist");
                          else if (Exists(properties, u"Artist", kCoreNamespace))
                            artist = text(u"Artist");
                          artist = FolderName(std::move(artist));
                          std::u16string result = artist;
                          if (Exists(properties, u"Album", kCoreNamespace)) {
                            const std::u16string album = FolderName(text(u"Album"));
                            if (!album.empty())
                              result = artist.empty()
                                           ? album
                                           : CYFileUtilities::ConcatPathname(artist, album, kNativePathSeparator);
                          }
                          *out = _bstr_t(std::u16string_view(result)).Detach();
                        });
}

// ---------------------------------------------------------------------------
// Records

// These three cannot throw (the name compare is noexcept, records move
// without throwing): no error frame.
void CVelItemAudio::RemoveMetaDataItem(std::u16string_view name, CMetaDataItemList& records) {
  for (auto it = records.begin(); it != records.end(); ++it) {
    if (SameNameNoCase(it->name, name)) {
      records.erase(it);
      return;
    }
  }
}

const CMetaDataItem* CVelItemAudio::FindRecord(std::u16string_view name, const CMetaDataItemList& records) {
  for (const CMetaDataItem& record : records) {
    if (SameNameNoCase(record.name, name)) return &record;
  }
  return nullptr;
}

bool CVelItemAudio::IsReadOnlyProperty(std::u16string_view name) {
  if (name.empty()) return false;
  const AudioPropertyMapRow* row = FindAudioPropertyByName(name);
  return row != nullptr && row->readOnly;
}
