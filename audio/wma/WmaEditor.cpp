#include "audio/wma/WmaEditor.h"

#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <optional>
#include <stdexcept>
#include <vector>

#include "audio/AudioPropertyMap.h"
#include "audio/ByteArray.h"
#include "audio/wma/AttributeText.h"
#include "contract/PictureBody.h"
#include "contract/VelItemsLib.h"
#include "platform/base/Ascii.h"
#include "platform/text.h"
#include "ylib/YErrorFrame.h"
#include "ylib/YFileUtilities.h"
#include "ylib/YSystem.h"

namespace {

using vel::wma::AttributeBytes;

constexpr char16_t kSource[] = u"WmaEditor";
constexpr YErrorDef kErrUndefined{1006, u"Undefined error."};
constexpr WORD kFileStream = 0;  // the file's own attributes

bool SameNoCase(std::u16string_view a, std::u16string_view b) { return vel::CompareNoCase(a, b) == 0; }

// Attributes written as 32-bit numbers (DWORD) that a file may keep as text.
constexpr std::u16string_view kNumberAttributes[] = {u"Disk", u"Zandor/TrackId", u"Zandor/AlbumId", u"Zandor/ArtistId",
                                                     u"Zandor/GenreId"};

bool IsNumberAttribute(std::u16string_view name) {
  for (std::u16string_view number : kNumberAttributes)
    if (name == number) return true;
  return false;
}

// A plain decimal integer (an optional minus sign, then digits, nothing else)
// from -2^31 to 2^32 - 1, as the 32 bits a DWORD holds; nothing otherwise.
std::optional<std::int32_t> DecimalNumber(std::u16string_view text) {
  const bool negative = !text.empty() && text.front() == u'-';
  if (negative) text.remove_prefix(1);
  if (text.empty() || text.size() > 10) return std::nullopt;
  std::int64_t n = 0;
  for (char16_t c : text) {
    if (c < u'0' || c > u'9') return std::nullopt;
    n = n * 10 + (c - u'0');
  }
  if (negative) n = -n;
  if (n < std::numeric_limits<std::int32_t>::min() || n > std::numeric_limits<std::uint32_t>::max())
    return std::nullopt;
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(n));
}

// The text of a runtime buffer of count units, up to its first zero unit.
std::u16string TextOf(const std::vector<WCHAR>& buffer) {
  const auto end = std::find(buffer.begin(), buffer.end(), u'\0');
  return std::u16string(buffer.begin(), end);
}

// The offset of p inside bounds (the end itself excluded); nothing for a
// pointer elsewhere. Compared as addresses: p may point anywhere.
std::optional<std::size_t> OffsetInside(const void* p, std::span<const std::uint8_t> bounds) {
  if (p == nullptr || bounds.empty()) return std::nullopt;
  const auto at = reinterpret_cast<std::uintptr_t>(p);
  const auto begin = reinterpret_cast<std::uintptr_t>(bounds.data());
  if (at < begin || at - begin >= bounds.size()) return std::nullopt;
  return static_cast<std::size_t>(at - begin);
}

// The UTF-16 text at p, which must lie inside bounds with its terminator;
// nothing otherwise. A null pointer is the empty text.
std::optional<std::u16string> BoundedText(const WCHAR* p, std::span<const std::uint8_t> bounds) {
  if (p == nullptr) return std::u16string();
  const std::optional<std::size_t> offset = OffsetInside(p, bounds);
  if (!offset) return std::nullopt;
  const std::span<const std::uint8_t> rest = bounds.subspan(*offset);
  std::size_t count = 0;
  std::u16string text = vel::wma::ReadUtf16Text(rest, false, count);
  // The terminator must be inside too.
  if (rest.size() - count < 2) return std::nullopt;
  return text;
}

// The dataLength bytes at p, which must all lie inside bounds.
std::optional<std::span<const std::uint8_t>> BoundedBytes(const BYTE* p, DWORD dataLength,
                                                          std::span<const std::uint8_t> bounds) {
  if (dataLength == 0) return std::span<const std::uint8_t>();
  const std::optional<std::size_t> offset = OffsetInside(p, bounds);
  if (!offset || bounds.size() - *offset < dataLength) return std::nullopt;
  return bounds.subspan(*offset, dataLength);
}

}  // namespace

CWmaEditor::CWmaEditor() : language_(&CYSystem::GetOSLanguage) {}

CWmaEditor::CWmaEditor(LanguageSource language) : language_(std::move(language)) {}

// ---------------------------------------------------------------------------
// Reading

bool CWmaEditor::ReadAll(const std::u16string& path, IWMMetadataEditor* editor, CMetaDataItemList& records) {
  return YErrorFrame(VEL_FRAME(u"CWmaEditor::ReadAll"), [&]() -> bool {
    if (path.empty() || editor == nullptr) return false;
    ComPtr<IWMHeaderInfo3> header;
    if (FAILED(ComPtr<IWMMetadataEditor>(editor).QueryInterface(header)) || !header) return false;
    if (!DetectByteOrder(header, path)) return false;
    WORD count = 0;
    if (FAILED(header->GetAttributeCountEx(kFileStream, &count))) return false;
    preferredLanguage_ = language_ ? language_() : std::u16string();
    ComPtr<IWMLanguageList> languages;
    if (!preferredLanguage_.empty() && FAILED(header.QueryInterface(languages))) languages = nullptr;

    for (WORD index = 0; index < count; ++index) {
      std::optional<Attribute> attribute = ReadAttribute(header, languages, kFileStream, index);
      if (!attribute || !attribute->value) continue;
      _variant_t& value = *attribute->value;
      int type = attribute->type;
      const std::u16string& name = attribute->name;
      if (SameNoCase(name, u"Rating")) {
        // The runtime delivers ratings as text; any other value stays as it is.
        if (value.vt == VT_BSTR) {
          bool isNumber = false;
          const std::int32_t rating =
              vel::wma::RatingFromText(value.bstrVal ? std::u16string_view(value.bstrVal, SysStringLen(value.bstrVal))
                                                     : std::u16string_view(),
                                       isNumber);
          value = isNumber ? _variant_t(static_cast<int>(rating), VT_I4) : _variant_t(0, VT_INT);
        }
      } else if (name == u"Duration") {
        if (value.vt == VT_I8) value = _variant_t(static_cast<double>(value.llVal) / 10000000.0);
      } else if (name == u"WM/TrackNumber") {
        if (value.vt == VT_BSTR) {
          const std::u16string_view text =
              value.bstrVal ? std::u16string_view(value.bstrVal, SysStringLen(value.bstrVal)) : std::u16string_view();
          value = _variant_t(static_cast<int>(vel::wma::TrackNumberFromText(text)), VT_I4);
        }
      } else if (IsNumberAttribute(name)) {
        if (value.vt == VT_BSTR) {
          const std::u16string_view text =
              value.bstrVal ? std::u16string_view(value.bstrVal, SysStringLen(value.bstrVal)) : std::u16string_view();
          if (const std::optional<std::int32_t> number = DecimalNumber(text)) value = _variant_t(*number, VT_I4);
        }
      } else if (name == u"WM/WMCollectionGroupID" || name == u"WM/WMCollectionID" || name == u"WM/WMContentID") {
        if (value.vt == (VT_ARRAY | VT_I1)) {
          std::u16string text;
          if (value.parray != nullptr && SafeArrayGetDim(value.parray) == 1 && value.parray->cbElements == 1) {
            const auto* data = static_cast<const std::uint8_t*>(value.parray->pvData);
            text = vel::wma::GuidTextFromBytes(std::span<const std::uint8_t>(data, value.parray->rgsabound[0].cElements));
          }
          value = _variant_t(std::u16string_view(text));
          type = WMT_TYPE_STRING;
        }
      }

      const auto property = AttributeToProperty(name);
      if (!property) continue;
      const auto& [propertyName, propertyNamespace] = *property;
      if (CheckDuplicateAndRemove(records, propertyName, propertyNamespace, attribute->language)) continue;
      records.emplace_back(propertyName, propertyNamespace, value, type);
      if (name == u"Author") {
        // The table maps "Author" to "Artist"; "Author" carries it too. An
        // earlier "Author" record came from the attribute just replaced.
        for (auto it = records.begin(); it != records.end(); ++it) {
          if (SameNoCase(it->name, u"Author") && SameNoCase(it->namespaceUri, kCoreNamespace)) {
            records.erase(it);
            break;
          }
        }
        records.emplace_back(u"Author", kCoreNamespace, value, type);
      }
    }
    ReadDrmProperties(path, editor, records);
    return true;
  });
}

std::optional<CWmaEditor::Attribute> CWmaEditor::ReadAttribute(IWMHeaderInfo3* header, IWMLanguageList* languages,
                                                               WORD stream, WORD index) {
  return YErrorFrame(VEL_FRAME(u"CWmaEditor::ReadAttribute"), [&]() -> std::optional<Attribute> {
    WORD nameLength = 0;
    WMT_ATTR_DATATYPE type = WMT_TYPE_DWORD;
    WORD languageIndex = 0;
    DWORD dataLength = 0;
    if (FAILED(header->GetAttributeByIndexEx(stream, index, nullptr, &nameLength, &type, &languageIndex, nullptr,
                                             &dataLength)))
      return std::nullopt;
    std::vector<WCHAR> name(static_cast<std::size_t>(nameLength) + 1, u'\0');
    std::vector<std::uint8_t> data(dataLength);
    WORD nameCapacity = nameLength;
    DWORD dataCapacity = dataLength;
    if (FAILED(header->GetAttributeByIndexEx(stream, index, name.data(), &nameCapacity, &type, &languageIndex,
                                             data.empty() ? nullptr : data.data(), &dataCapacity)))
      return std::nullopt;
    // The runtime reports what it wrote; never more than the buffers hold.
    data.resize(std::min<std::size_t>(dataCapacity, data.size()));
    name.back() = u'\0';

    Attribute attribute;
    attribute.name = TextOf(name);
    attribute.type = type;
    attribute.value = FromWMValue(attribute.name, type, data);
    if (languages != nullptr && !preferredLanguage_.empty()) {
      std::vector<WCHAR> text(1024, u'\0');
      WORD textLength = static_cast<WORD>(text.size());
      if (SUCCEEDED(languages->GetLanguageDetails(languageIndex, text.data(), &textLength))) {
        text.back() = u'\0';
        const std::u16string language = TextOf(text);
        if (language.size() >= 2) {
          std::u16string two = vel::AsciiLowered(language.substr(0, 2));
          constexpr std::u16string_view kSpace = u" \t\r\n\v\f";
          const std::size_t first = two.find_first_not_of(kSpace);
          attribute.language =
              first == std::u16string::npos ? std::u16string() : two.substr(first, two.find_last_not_of(kSpace) - first + 1);
        }
      }
    }
    return attribute;
  });
}

std::optional<_variant_t> CWmaEditor::FromWMValue(std::u16string_view name, WMT_ATTR_DATATYPE type,
                                                  std::span<const std::uint8_t> bytes) const {
  return YErrorFrame(VEL_FRAME(u"CWmaEditor::FromWMValue"), [&]() -> std::optional<_variant_t> {
    if (type == WMT_TYPE_BINARY && SameNoCase(name, u"WM/Picture")) {
      // The structure, then what its pointers point to, in one buffer.
      if (bytes.size() < sizeof(WM_PICTURE)) return std::nullopt;
      WM_PICTURE picture;
      std::memcpy(&picture, bytes.data(), sizeof picture);
      return FromWMPicture(picture, bytes);
    }
    return vel::wma::ValueFromAttribute(type, bytes, numberOrder());
  });
}

bool CWmaEditor::DetectByteOrder(IWMHeaderInfo3* header, const std::u16string& path) {
  return YErrorFrame(VEL_FRAME(u"CWmaEditor::DetectByteOrder"), [&] {
    swapBytes_ = 0;
    WORD language = 0;
    WORD count = 0;
    if (FAILED(header->GetAttributeIndices(kFileStream, u"FileSize", &language, nullptr, &count)) || count == 0)
      return false;
    std::vector<WORD> indices(count);
    if (FAILED(header->GetAttributeIndices(kFileStream, u"FileSize", &language, indices.data(), &count)) || count == 0)
      return false;
    WORD nameLength = 0;
    WMT_ATTR_DATATYPE type = WMT_TYPE_QWORD;
    WORD languageIndex = 0;
    DWORD dataLength = 0;
    if (FAILED(header->GetAttributeByIndexEx(kFileStream, indices[0], nullptr, &nameLength, &type, &languageIndex,
                                             nullptr, &dataLength)))
      return false;
    std::vector<WCHAR> name(static_cast<std::size_t>(nameLength) + 1, u'\0');
    std::vector<std::uint8_t> data(dataLength);
    DWORD dataCapacity = dataLength;
    if (FAILED(header->GetAttributeByIndexEx(kFileStream, indices[0], name.data(), &nameLength, &type, &languageIndex,
                                             data.empty() ? nullptr : data.data(), &dataCapacity)))
      return false;
    // A size needs its eight bytes.
    if (std::min<std::size_t>(dataCapacity, data.size()) < 8) return false;
    const auto stated = static_cast<std::int64_t>(vel::LoadU64Unchecked(data.data(), vel::ByteOrder::kBig));
    if (stated < 0) {
      swapBytes_ = 1;
      return true;
    }
    const std::uint64_t actual = CYFileUtilities::GetFileSize(path);
    const std::uint64_t v = static_cast<std::uint64_t>(stated);
    const bool below = v >= 8 && actual < v - 8;
    const bool above = actual > v && actual - v > 8;
    if (below || above) swapBytes_ = 1;
    return true;
  });
}

void CWmaEditor::ReadDrmProperties(const std::u16string& path, IWMMetadataEditor* editor, CMetaDataItemList& records) {
  YErrorFrame(VEL_FRAME(u"CWmaEditor::ReadDrmProperties"), [&] {
    BOOL isProtected = FALSE;
    if (FAILED(WMIsContentProtected(path.c_str(), &isProtected)) || !isProtected) return;
    ComPtr<IWMDRMEditor> drm;
    if (FAILED(ComPtr<IWMMetadataEditor>(editor).QueryInterface(drm)) || !drm) return;
    for (const AudioPropertyMapRow& row : AudioPropertyMap) {
      if (!row.drmProperty) continue;
      const std::u16string name(row.attributeName);
      WMT_ATTR_DATATYPE type = WMT_TYPE_DWORD;
      WORD length = 0;
      if (FAILED(drm->GetDRMProperty(name.c_str(), &type, nullptr, &length))) continue;
      std::vector<std::uint8_t> data(length);
      WORD capacity = length;
      if (FAILED(drm->GetDRMProperty(name.c_str(), &type, data.empty() ? nullptr : data.data(), &capacity))) continue;
      data.resize(std::min<std::size_t>(capacity, data.size()));
      std::optional<_variant_t> value = FromWMValue(name, type, data);
      if (!value) continue;
      if (const auto property = AttributeToProperty(name))
        records.emplace_back(property->first, property->second, std::move(*value), type);
    }
  });
}

bool CWmaEditor::CheckDuplicateAndRemove(CMetaDataItemList& records, std::u16string_view name,
                                         std::u16string_view namespaceUri, std::u16string_view language) const {
  for (auto it = records.begin(); it != records.end(); ++it) {
    if (!SameNoCase(it->name, name) || !SameNoCase(it->namespaceUri, namespaceUri)) continue;
    if (preferredLanguage_.empty() || language.empty() || !SameNoCase(language, preferredLanguage_)) return true;
    records.erase(it);
    return false;
  }
  return false;
}

// ---------------------------------------------------------------------------
// Writing

bool CWmaEditor::WriteAttribute(IWMHeaderInfo3* header, const std::u16string& path, std::u16string_view name,
                                std::u16string_view namespaceUri, const VARIANT& value) {
  return YErrorFrame(VEL_FRAME(u"CWmaEditor::WriteAttribute"), [&]() -> bool {
    runtimeRefusal_ = S_OK;
    if (path.empty() || header == nullptr) return false;
    // A runtime call's answer, kept when it refuses the change.
    const auto took = [&](HRESULT hr) {
      if (FAILED(hr)) runtimeRefusal_ = hr;
      return SUCCEEDED(hr);
    };
    const std::optional<std::u16string> attribute = PropertyToAttribute(name, namespaceUri);
    if (!attribute || IsReadOnlyAttribute(*attribute)) return false;

    WORD language = 0;
    const auto firstIndex = [&]() -> std::optional<WORD> {
      WORD count = 0;
      if (FAILED(header->GetAttributeIndices(kFileStream, attribute->c_str(), &language, nullptr, &count)) ||
          count == 0)
        return std::nullopt;
      std::vector<WORD> indices(count);
      if (FAILED(header->GetAttributeIndices(kFileStream, attribute->c_str(), &language, indices.data(), &count)) ||
          count == 0)
        return std::nullopt;
      return indices[0];
    };

    if (value.vt == VT_EMPTY || value.vt == VT_NULL) {
      const std::optional<WORD> index = firstIndex();
      if (!index) return true;  // nothing to delete
      return took(header->DeleteAttribute(kFileStream, *index));
    }

    _variant_t converted(value);
    if (SameNoCase(*attribute, u"Rating") || SameNoCase(*attribute, u"WM/TrackNumber")) {
      switch (converted.vt) {
        case VT_I2: case VT_I4: case VT_I1: case VT_UI1: case VT_UI2: case VT_UI4: case VT_I8: case VT_UI8:
        case VT_INT: case VT_UINT:
          converted.ChangeType(VT_BSTR);
          break;
        default:
          break;
      }
    }
    std::optional<AttributeBytes> bytes = ToWMValue(converted);
    if (!bytes) return false;
    const std::optional<WORD> index = firstIndex();

    if (SameNoCase(*attribute, u"WM/Picture")) {
      // The picture's own length is 32 bits inside the structure; the call
      // carries only the structure.
      vel::wma::OwnedPicture picture;
      ToWMPicture(bytes->bytes.data(), bytes->bytes.size(), picture);
      const auto* structure = reinterpret_cast<const BYTE*>(&picture.get());
      if (index)
        return took(header->ModifyAttribute(kFileStream, *index, WMT_TYPE_BINARY, 0, structure, kWmPictureLength32));
      return took(header->SetAttribute(kFileStream, u"WM/Picture", WMT_TYPE_BINARY, structure, kWmPictureLength32));
    }
    // A value is never cut to fit a call's length field: one that does not
    // fit is not written.
    if (index) {
      if (bytes->bytes.size() > std::numeric_limits<DWORD>::max()) return false;
      return took(header->ModifyAttribute(kFileStream, *index, bytes->type, 0, bytes->bytes.data(),
                                          static_cast<DWORD>(bytes->bytes.size())));
    }
    if (bytes->bytes.size() > std::numeric_limits<WORD>::max()) return false;
    return took(header->SetAttribute(kFileStream, attribute->c_str(), bytes->type, bytes->bytes.data(),
                                     static_cast<WORD>(bytes->bytes.size())));
  });
}

std::optional<AttributeBytes> CWmaEditor::ToWMValue(const VARIANT& value) const {
  return YErrorFrame(VEL_FRAME(u"CWmaEditor::ToWMValue"), [&] { return vel::wma::AttributeFromValue(value, numberOrder()); });
}

// ---------------------------------------------------------------------------
// Pictures

bool CWmaEditor::ToWMPicture(const BYTE* bytes, std::size_t length, vel::wma::OwnedPicture& picture) {
  return YErrorFrame(VEL_FRAME(u"CWmaEditor::ToWMPicture"), [&](const YFrame& f) {
    picture.Reset({});
    if (length == 0 || bytes == nullptr) YThrow(kErrUndefined, f);
    std::optional<vel::wma::PictureFields> fields =
        vel::wma::DecodePictureBody(std::span<const std::uint8_t>(bytes, length));
    if (!fields || fields->data.size() > std::numeric_limits<DWORD>::max()) YThrow(kErrUndefined, f);
    picture.Reset(std::move(*fields));
    return true;
  });
}

_variant_t CWmaEditor::FromWMPicture(const WM_PICTURE& picture, std::span<const std::uint8_t> bounds) {
  return YErrorFrame(VEL_FRAME(u"CWmaEditor::FromWMPicture"), [&](const YFrame& f) {
    const std::optional<std::u16string> mime = BoundedText(picture.pwszMIMEType, bounds);
    const std::optional<std::u16string> description = BoundedText(picture.pwszDescription, bounds);
    if (!mime || !description) YThrow(kErrUndefined, f);
    const std::optional<std::span<const std::uint8_t>> data = BoundedBytes(picture.pbData, picture.dwDataLen, bounds);
    if (!data) YThrow(kErrUndefined, f);
    std::vector<std::uint8_t> body;
    try {
      body = vel::wma::EncodePictureBody(*mime, picture.bPictureType, *description, *data);
    } catch (const std::bad_alloc&) {
      YThrow(kErrUndefined, f);
    } catch (const std::length_error&) {
      YThrow(kErrUndefined, f);
    }
    return MakeByteArrayVariant(body.data(), body.size());
  });
}

std::u16string CWmaEditor::BEToLE(const BYTE* bytes, std::size_t length, std::size_t& byteCount) {
  return YErrorFrame({u"BEToLE", kSource, __LINE__}, [&] {
    byteCount = 0;
    if (bytes == nullptr) return std::u16string();
    return vel::wma::ReadUtf16Text(std::span<const std::uint8_t>(bytes, length), true, byteCount);
  });
}

// ---------------------------------------------------------------------------
// The vocabulary

std::optional<std::pair<std::u16string, std::u16string>> CWmaEditor::AttributeToProperty(std::u16string_view attribute) {
  if (attribute.empty()) return std::nullopt;
  const AudioPropertyMapRow* row = FindAudioPropertyByAttribute(attribute);
  if (row == nullptr || row->propertyName.empty()) return std::nullopt;
  return std::make_pair(std::u16string(row->propertyName), std::u16string(row->propertyNamespace));
}

std::optional<std::u16string> CWmaEditor::PropertyToAttribute(std::u16string_view name, std::u16string_view namespaceUri) {
  if (name.empty()) return std::nullopt;
  const AudioPropertyMapRow* row = FindAudioPropertyByNameAndNamespace(name, namespaceUri);
  if (row == nullptr || !row->HasAttribute()) return std::nullopt;
  return std::u16string(row->attributeName);
}

bool CWmaEditor::IsReadOnlyAttribute(std::u16string_view attribute) {
  if (attribute.empty()) return false;
  const AudioPropertyMapRow* row = FindAudioPropertyByAttribute(attribute);
  return row != nullptr && row->readOnly;
}
