// CWmaEditor: the header attributes of a Windows Media family file (".wma",
// ".mp3", ".wmv", ".asf") as CMetaDataItem records named after
// AudioPropertyMap, and single property values written back as attributes.
// It works on runtime objects its caller opened and releases (the metadata
// editor, its IWMHeaderInfo3); its own work is the name mapping, the byte
// conversions, the byte order of numbers, the choice between languages and
// the picture conversion.
//
// Byte order: numbers are big-endian unless the "FileSize" attribute, read
// big-endian, is negative or misses the real file size by more than 8 bytes;
// then (in practice for every ordinary file) little-endian. A file without
// "FileSize" can be neither read nor written by this editor.
//
// Languages: when two attributes map to the same property, the first one
// stays, unless a later one is in the system's language (its first two
// letters); that one replaces it. The system's language is asked for at the
// start of every ReadAll, from CYSystem::GetOSLanguage unless the editor was
// made with another source (tests run it as a German or French system).
//
// Numbers in text: an MP3 file keeps every attribute as ID3 text, which the
// runtime hands out as STRING. The attributes this module writes as numbers
// ("Disk" and the shop identifiers, like the track number and rating already)
// are read back as the number (VT_I4) when their text is a plain decimal
// integer that fits 32 bits, as they read from an ASF file.
//
// Reading is bounded by the lengths the runtime reports: a value shorter than
// its type is dropped, a picture whose texts or bytes lie outside its value
// raises "Undefined error." (1006).
//
// Lifecycle: one object serves one read, or one write (ReadAll first, then
// one WriteAttribute per property: the byte order found by the read applies
// to the writes). The file changes only when the caller flushes the runtime
// editor.
//
// Thread safety: none; an object is used by one thread.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "audio/MetaDataItem.h"
#include "audio/wma/AttributeValue.h"
#include "audio/wma/OwnedPicture.h"
#include "platform/com/comdef.h"
#include "platform/wmf/wmsdk.h"

class CWmaEditor {
 public:
  using LanguageSource = std::function<std::u16string()>;

  // The system's language from CYSystem::GetOSLanguage.
  CWmaEditor();
  explicit CWmaEditor(LanguageSource language);

  // The attributes of the open editor's file as records (appended to
  // records). False for an empty path, an editor without IWMHeaderInfo3, a
  // file without "FileSize" or a failed attribute count.
  bool ReadAll(const std::u16string& path, IWMMetadataEditor* editor, CMetaDataItemList& records);

  // Writes one property as its attribute: VT_EMPTY and VT_NULL delete it, any
  // other value replaces or creates it. True when the runtime took the
  // change; false for a property without a (writable) attribute, a value the
  // attribute cannot hold (an empty text, another VARTYPE, a value longer
  // than the runtime call's length field) or a failed call. A malformed
  // picture raises "Undefined error." (1006). runtimeRefusal() tells a
  // failed call (the file cannot take the change) from the rest.
  bool WriteAttribute(IWMHeaderInfo3* header, const std::u16string& path, std::u16string_view name,
                      std::u16string_view namespaceUri, const VARIANT& value);

  // True means "do not add the attribute": a record of that name and
  // namespace is listed and the attribute is not in the system's language.
  // An attribute in the system's language erases the listed record (false).
  bool CheckDuplicateAndRemove(CMetaDataItemList& records, std::u16string_view name, std::u16string_view namespaceUri,
                               std::u16string_view language) const;

  // The fields of a picture body (see PictureBody.h) in picture, which owns
  // the copies its structure points to. A malformed or refused body raises
  // "Undefined error." (1006); always true otherwise.
  static bool ToWMPicture(const BYTE* bytes, std::size_t length, vel::wma::OwnedPicture& picture);
  // The picture body of a WM_PICTURE whose texts and bytes all lie inside
  // bounds (the runtime hands the structure over in one buffer with them);
  // anything outside, or a text without its terminator, raises "Undefined
  // error." (1006), as does a body that cannot be allocated.
  static _variant_t FromWMPicture(const WM_PICTURE& picture, std::span<const std::uint8_t> bounds);
  // Big-endian UTF-16 text turned around, up to its first zero unit or until
  // fewer than two bytes remain; byteCount is the number of bytes converted.
  static std::u16string BEToLE(const BYTE* bytes, std::size_t length, std::size_t& byteCount);

  // What the last ReadAll found: 1 when numbers are little-endian.
  int swapBytes() const noexcept { return swapBytes_; }
  // The runtime's failure when it refused the last WriteAttribute's change
  // (a file type that cannot store that value); S_OK otherwise.
  HRESULT runtimeRefusal() const noexcept { return runtimeRefusal_; }
  const std::u16string& preferredLanguage() const noexcept { return preferredLanguage_; }

 private:
  struct Attribute {
    std::u16string name;
    std::optional<_variant_t> value;  // nothing: dropped
    int type = 0;
    std::u16string language;
  };

  std::optional<Attribute> ReadAttribute(IWMHeaderInfo3* header, IWMLanguageList* languages, WORD stream, WORD index);
  std::optional<_variant_t> FromWMValue(std::u16string_view name, WMT_ATTR_DATATYPE type,
                                        std::span<const std::uint8_t> bytes) const;
  std::optional<vel::wma::AttributeBytes> ToWMValue(const VARIANT& value) const;
  bool DetectByteOrder(IWMHeaderInfo3* header, const std::u16string& path);
  void ReadDrmProperties(const std::u16string& path, IWMMetadataEditor* editor, CMetaDataItemList& records);
  vel::ByteOrder numberOrder() const noexcept { return swapBytes_ ? vel::ByteOrder::kLittle : vel::ByteOrder::kBig; }

  // (property, namespace) of the first AudioPropertyMap row for attribute.
  static std::optional<std::pair<std::u16string, std::u16string>> AttributeToProperty(std::u16string_view attribute);
  static std::optional<std::u16string> PropertyToAttribute(std::u16string_view name, std::u16string_view namespaceUri);
  static bool IsReadOnlyAttribute(std::u16string_view attribute);

  LanguageSource language_;
  int swapBytes_ = 0;
  HRESULT runtimeRefusal_ = S_OK;
  std::u16string preferredLanguage_;
};
