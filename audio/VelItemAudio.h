// CVelItemAudio: the audio plugin (VelItemPluginsLib::VelItemAudio). It turns
// audio files into host items and writes item properties back into their
// tags, by extension (lower-cased):
//   ".wma", ".mp3", ".wmv", ".asf"  the Windows Media runtime (platform/wmf);
//   ".m4a", ".mp4", ".3gp", ".aac"  the plugin's own MP4 tag editor (CAacEditor);
//   ".wav"                          the plugin's own RIFF/WAVE header reader;
//   any other (".amr", ".3g2")      an item of the framework properties only.
// It keeps a video plugin, created through COM when it is constructed, for the
// extensions both plugins claim (ValidateItem asks it first).
//
// Thread safety: any thread ("Free"). Calls keep no state: every call makes
// its own editors, readers and items. The video plugin pointer is set in
// FinalConstruct and released in FinalRelease only.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "audio/MetaDataItem.h"
#include "contract/VelItemPluginsLib.h"
#include "platform/com/comdef.h"
#include "platform/com/comobject.h"
#include "ylib/YCOMClassFactory.h"

// The vocabulary that SetRemainingProps completes an item with.
enum class AudioFileKind : std::uint16_t { WindowsMedia = 1, Mp4 = 2, Wav = 3 };

class CVelItemAudio : public vel::com::Implements<vel::com::DispatchImpl<IVelItemPlugin>, IVelItemAudio,
                                                  vel::com::SupportErrorInfoFor<IVelItemPlugin>> {
 public:
  HRESULT FinalConstruct();
  void FinalRelease();

  // IVelItemPlugin
  HRESULT QueryCapability(LONG nCapability, VARIANT_BOOL* pbRetVal) override;
  HRESULT get_Name(BSTR* pVal) override;
  HRESULT get_CustomStoragePath(BSTR* pVal) override;
  HRESULT ValidateItem(IVelItem* pItem, LONG* pStatus) override;
  HRESULT ReadMetadata(BSTR strFilePath, IVelItem** ppiRetVal) override;
  HRESULT WriteMetadata(BSTR strFilePath, IVelItem* pItem) override;
  HRESULT GetItemPath(IVelItem* pItem, BSTR* pVal) override;

  // IVelItemAudio
  HRESULT ReadPicture(BSTR strFilePath, VARIANT* varPicture) override;
  HRESULT WritePicture(BSTR strFilePath, VARIANT varPicture) override;

  // Record list helpers of the Windows Media write path. Names compare
  // without regard to letter case; the first match wins.
  // Erases the first record named name; a list without one stays as it is.
  static void RemoveMetaDataItem(std::u16string_view name, CMetaDataItemList& records);
  // The first record named name, or null.
  static const CMetaDataItem* FindRecord(std::u16string_view name, const CMetaDataItemList& records);
  // The readOnly flag of the first AudioPropertyMap row of that property
  // name; false for an empty name or a name without a row.
  static bool IsReadOnlyProperty(std::u16string_view name);

 private:
  // Readers: each returns a new item the caller owns.
  static ComPtr<IVelItem> ReadWmaMetaData(const std::u16string& path, bool readPicture);
  static void ReadMediaProperties(const std::u16string& path, IVelItem* item);
  static ComPtr<IVelItem> ReadAacMetaData(const std::u16string& path, bool readPicture);
  static ComPtr<IVelItem> ReadWavMetaData(const std::u16string& path);
  // An independent copy of item holding every property of kind's vocabulary
  // (VT_EMPTY where item has none); item itself is released.
  static ComPtr<IVelItem> SetRemainingProps(ComPtr<IVelItem> item, AudioFileKind kind);

  // Writers: the tags of the file become those the item states.
  static void WriteWmaMetaData(const std::u16string& path, IVelItem* item);
  // picture, when given, stands for the item's "Picture" (which is then
  // ignored) and is written after every property of the item.
  static void WriteAacMetaData(const std::u16string& path, IVelItem* item, const VARIANT* picture = nullptr);

  // Whether the file can be opened by the runtime / loaded by the MP4 editor.
  static bool ValidateWma(const std::u16string& path);
  static bool ValidateAac(const std::u16string& path);
  // ValidateItem's answer for an existing file, by its lower-cased extension.
  LONG ValidateExisting(IVelItem* item, const std::u16string& path, const std::u16string& ext);

  CYCOMClassFactory m_classFactory;
  ComPtr<IVelItemPlugin> m_videoPlugin;
};
