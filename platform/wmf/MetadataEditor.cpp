#include "platform/wmf/MetadataEditor.h"

#include <cstring>

#include "platform/base/Ascii.h"
#include "platform/win32/fileapi.h"

namespace vel::wmf {

namespace {

bool IsPicture(const std::u16string& name, WMT_ATTR_DATATYPE type) {
  return type == WMT_TYPE_BINARY && name == g_wszWMPicture;
}

// A picture handed out as WM_PICTURE: the structure, then (from an even
// address) the MIME type, the description and the data it points to. The
// size includes one byte for that alignment.
std::uint64_t OutgoingSize(const Attribute& a) {
  Picture picture;
  if (!IsPicture(a.name, a.type) || !ParsePictureBody(a.value, picture)) return a.value.size();
  return sizeof(WM_PICTURE) + 1 + (picture.mimeType.size() + 1) * 2 + (picture.description.size() + 1) * 2 +
         picture.data.size();
}

void WriteOutgoing(const Attribute& a, BYTE* dest) {
  Picture picture;
  if (!IsPicture(a.name, a.type) || !ParsePictureBody(a.value, picture)) {
    if (!a.value.empty()) std::memcpy(dest, a.value.data(), a.value.size());
    return;
  }
  std::size_t at = sizeof(WM_PICTURE);
  if (reinterpret_cast<std::uintptr_t>(dest + at) % 2 != 0) ++at;
  auto putText = [&](const std::u16string& text) {
    auto* start = reinterpret_cast<WCHAR*>(dest + at);
    std::memcpy(dest + at, text.c_str(), (text.size() + 1) * 2);
    at += (text.size() + 1) * 2;
    return start;
  };
  WM_PICTURE out{};
  out.pwszMIMEType = putText(picture.mimeType);
  out.bPictureType = picture.pictureType;
  out.pwszDescription = putText(picture.description);
  out.dwDataLen = static_cast<DWORD>(picture.data.size());
  out.pbData = picture.data.empty() ? nullptr : dest + at;
  if (!picture.data.empty()) std::memcpy(dest + at, picture.data.data(), picture.data.size());
  std::memcpy(dest, &out, sizeof(out));
}

std::u16string TextAt(const WCHAR* text) {
  std::u16string out;
  if (text != nullptr)
    while (*text != 0) out.push_back(*text++);
  return out;
}

bool IsComputedName(const std::vector<Attribute>& computed, const std::u16string& name) {
  for (const Attribute& a : computed)
    if (AsciiEqualsNoCase(a.name, name)) return true;
  return false;
}

}  // namespace

HRESULT MetadataEditor::OpenFile(const WCHAR* path, bool writable) {
  if (path == nullptr || *path == 0) return E_INVALIDARG;
  if (container_) return NS_E_INVALID_REQUEST;
  std::u16string text = TextAt(path);
  // A writer locks the file before reading it: what it saves later is then
  // built on the file as it is, whoever wrote it last.
  std::unique_ptr<ReplacingFile> writer;
  if (writable) {
    writer = std::make_unique<ReplacingFile>(text);
    writer->Lock();
  }
  std::unique_ptr<Container> container;
  HRESULT hr = OpenContainer(text, container, writable);
  if (FAILED(hr)) return hr;  // a file that cannot be read says why, before a lock failure
  if (writer && writer->error() != 0) return SaveFailure(writer->error());
  path_ = std::move(text);
  writer_ = std::move(writer);
  container_ = std::move(container);
  computed_ = container_->ComputedAttributes();
  savedAttributes_ = container_->attributes();
  savedLanguages_ = container_->languages();
  writable_ = writable;
  return S_OK;
}

HRESULT MetadataEditor::Open(const WCHAR* pwszFilename) { return OpenFile(pwszFilename, true); }

HRESULT MetadataEditor::OpenEx(const WCHAR* pwszFilename, DWORD dwDesiredAccess, DWORD) {
  return OpenFile(pwszFilename, (dwDesiredAccess & GENERIC_WRITE) != 0);
}

HRESULT MetadataEditor::Close() {
  if (!container_) return NS_E_INVALID_REQUEST;
  container_.reset();
  writer_.reset();  // releases the lock
  computed_.clear();
  savedAttributes_.clear();
  savedLanguages_.clear();
  path_.clear();
  return S_OK;
}

HRESULT MetadataEditor::Flush() {
  if (!container_) return NS_E_INVALID_REQUEST;
  if (container_->attributes() == savedAttributes_ && container_->languages() == savedLanguages_) return S_OK;
  if (!writable_) return E_ACCESSDENIED;
  if (!writer_) return NS_E_INVALID_REQUEST;
  HRESULT hr = container_->Save(*writer_);
  if (FAILED(hr)) {
    writer_.reset();  // the temporary file and the lock go
    return hr;
  }
  savedAttributes_ = container_->attributes();
  savedLanguages_ = container_->languages();
  return S_OK;
}

std::vector<MetadataEditor::Entry> MetadataEditor::List(WORD stream) const {
  std::vector<Entry> list;
  if (!container_) return list;
  if (stream == 0)
    for (const Attribute& a : computed_) list.push_back(Entry{&a, -1});
  const auto& stored = container_->attributes();
  for (std::size_t i = 0; i < stored.size(); ++i)
    if (stored[i].stream == stream) list.push_back(Entry{&stored[i], static_cast<std::ptrdiff_t>(i)});
  return list;
}

HRESULT MetadataEditor::Incoming(const std::u16string& name, WMT_ATTR_DATATYPE type, const BYTE* value,
                                 DWORD length, Bytes& out) const {
  if (value == nullptr && length != 0) return E_INVALIDARG;
  if (IsPicture(name, type) && (length == kWmPictureLength32 || length == sizeof(WM_PICTURE))) {
    WM_PICTURE in;
    std::memcpy(&in, value, sizeof(in));
    if (in.dwDataLen != 0 && in.pbData == nullptr) return E_INVALIDARG;
    Picture picture{TextAt(in.pwszMIMEType), in.bPictureType, TextAt(in.pwszDescription),
                    Bytes(in.pbData, in.pbData + in.dwDataLen)};
    out = PictureBody(picture);
    return S_OK;
  }
  out.assign(value, value + length);
  switch (type) {
    case WMT_TYPE_DWORD: return length == 4 ? S_OK : E_INVALIDARG;
    case WMT_TYPE_QWORD: return length == 8 ? S_OK : E_INVALIDARG;
    case WMT_TYPE_WORD: return length == 2 ? S_OK : E_INVALIDARG;
    case WMT_TYPE_GUID: return length == 16 ? S_OK : E_INVALIDARG;
    case WMT_TYPE_BOOL: {
      if (length == 0 || length > 4) return E_INVALIDARG;
      bool on = false;
      for (BYTE b : out) on = on || b != 0;
      out = DwordValue(on ? 1 : 0);
      return S_OK;
    }
    case WMT_TYPE_STRING:
      if (length % 2 != 0) return E_INVALIDARG;
      if (out.size() < 2 || out[out.size() - 1] != 0 || out[out.size() - 2] != 0) out.insert(out.end(), {0, 0});
      return S_OK;
    case WMT_TYPE_BINARY: return S_OK;
  }
  return E_INVALIDARG;
}

HRESULT MetadataEditor::GetAttributeCount(WORD wStreamNum, WORD* pcAttributes) {
  return GetAttributeCountEx(wStreamNum, pcAttributes);
}

HRESULT MetadataEditor::GetAttributeCountEx(WORD wStreamNum, WORD* pcAttributes) {
  if (pcAttributes == nullptr) return E_INVALIDARG;
  if (!container_) return NS_E_INVALID_REQUEST;
  std::size_t n = List(wStreamNum).size();
  *pcAttributes = static_cast<WORD>(n > 0xFFFF ? 0xFFFF : n);
  return S_OK;
}

HRESULT MetadataEditor::GetAttributeByIndexEx(WORD wStreamNum, WORD wIndex, LPWSTR pwszName, WORD* pwNameLen,
                                              WMT_ATTR_DATATYPE* pType, WORD* pwLangIndex, BYTE* pValue,
                                              DWORD* pdwDataLength) {
  if (pwNameLen == nullptr || pdwDataLength == nullptr) return E_INVALIDARG;
  if (!container_) return NS_E_INVALID_REQUEST;
  auto list = List(wStreamNum);
  if (wIndex >= list.size()) return E_INVALIDARG;
  const Attribute& a = *list[wIndex].attribute;
  std::uint64_t nameLength = a.name.size() + 1;
  std::uint64_t valueLength = OutgoingSize(a);
  if (nameLength > 0xFFFF || valueLength > 0xFFFFFFFFu) return E_UNEXPECTED;
  HRESULT hr = S_OK;
  if (pwszName != nullptr) {
    if (*pwNameLen < nameLength)
      hr = ASF_E_BUFFERTOOSMALL;
    else
      std::memcpy(pwszName, a.name.c_str(), nameLength * 2);
  }
  if (pValue != nullptr) {
    if (*pdwDataLength < valueLength)
      hr = ASF_E_BUFFERTOOSMALL;
    else if (SUCCEEDED(hr))
      WriteOutgoing(a, pValue);
  }
  *pwNameLen = static_cast<WORD>(nameLength);
  *pdwDataLength = static_cast<DWORD>(valueLength);
  if (pType) *pType = a.type;
  if (pwLangIndex) *pwLangIndex = a.language;
  return hr;
}

HRESULT MetadataEditor::GetAttributeByIndex(WORD wIndex, WORD* pwStreamNum, WCHAR* pwszName, WORD* pcchNameLen,
                                            WMT_ATTR_DATATYPE* pType, BYTE* pValue, WORD* pcbLength) {
  if (pwStreamNum == nullptr || pcbLength == nullptr || pcchNameLen == nullptr) return E_INVALIDARG;
  DWORD length = *pcbLength;
  WORD language = 0;
  auto list = List(*pwStreamNum);
  if (container_ && wIndex < list.size() && OutgoingSize(*list[wIndex].attribute) > 0xFFFF) return E_UNEXPECTED;
  HRESULT hr = GetAttributeByIndexEx(*pwStreamNum, wIndex, pwszName, pcchNameLen, pType, &language, pValue, &length);
  *pcbLength = static_cast<WORD>(length);
  return hr;
}

HRESULT MetadataEditor::GetAttributeByName(WORD* pwStreamNum, LPCWSTR pszName, WMT_ATTR_DATATYPE* pType,
                                           BYTE* pValue, WORD* pcbLength) {
  if (pwStreamNum == nullptr || pszName == nullptr || pcbLength == nullptr) return E_INVALIDARG;
  if (!container_) return NS_E_INVALID_REQUEST;
  std::u16string name = TextAt(pszName);
  auto list = List(*pwStreamNum);
  for (std::size_t i = 0; i < list.size(); ++i) {
    if (list[i].attribute->name != name || list[i].attribute->language != 0) continue;
    std::uint64_t valueLength = OutgoingSize(*list[i].attribute);
    if (valueLength > 0xFFFF) return E_UNEXPECTED;
    HRESULT hr = S_OK;
    if (pValue != nullptr) {
      if (*pcbLength < valueLength)
        hr = ASF_E_BUFFERTOOSMALL;
      else
        WriteOutgoing(*list[i].attribute, pValue);
    }
    *pcbLength = static_cast<WORD>(valueLength);
    if (pType) *pType = list[i].attribute->type;
    return hr;
  }
  return ASF_E_NOTFOUND;
}

HRESULT MetadataEditor::SetAttribute(WORD wStreamNum, LPCWSTR pszName, WMT_ATTR_DATATYPE Type, const BYTE* pValue,
                                     WORD cbLength) {
  if (pszName == nullptr || *pszName == 0) return E_INVALIDARG;
  if (!container_) return NS_E_INVALID_REQUEST;
  std::u16string name = TextAt(pszName);
  if (IsComputedName(computed_, name)) return NS_E_INVALID_REQUEST;
  Bytes value;
  HRESULT hr = Incoming(name, Type, pValue, cbLength, value);
  if (FAILED(hr)) return hr;
  if (!container_->CanHold(Attribute{name, Type, 0, wStreamNum, value})) return NS_E_INVALID_REQUEST;
  for (Attribute& a : container_->attributes()) {
    if (a.stream == wStreamNum && a.language == 0 && a.name == name) {
      a.type = Type;
      a.value = std::move(value);
      return S_OK;
    }
  }
  container_->attributes().push_back(Attribute{std::move(name), Type, 0, wStreamNum, std::move(value)});
  return S_OK;
}

HRESULT MetadataEditor::GetAttributeIndices(WORD wStreamNum, LPCWSTR pwszName, WORD* pwLangIndex, WORD* pwIndices,
                                            WORD* pwCount) {
  if (pwszName == nullptr || pwCount == nullptr) return E_INVALIDARG;
  if (!container_) return NS_E_INVALID_REQUEST;
  std::u16string name = TextAt(pwszName);
  std::vector<WORD> found;
  auto list = List(wStreamNum);
  for (std::size_t i = 0; i < list.size() && i <= 0xFFFF; ++i) {
    const Attribute& a = *list[i].attribute;
    if (a.name == name && (pwLangIndex == nullptr || a.language == *pwLangIndex)) found.push_back(static_cast<WORD>(i));
  }
  HRESULT hr = S_OK;
  if (pwIndices != nullptr) {
    if (*pwCount < found.size())
      hr = ASF_E_BUFFERTOOSMALL;
    else if (!found.empty())
      std::memcpy(pwIndices, found.data(), found.size() * sizeof(WORD));
  }
  *pwCount = static_cast<WORD>(found.size());
  return hr;
}

HRESULT MetadataEditor::ModifyAttribute(WORD wStreamNum, WORD wIndex, WMT_ATTR_DATATYPE Type, WORD wLangIndex,
                                        const BYTE* pValue, DWORD dwLength) {
  if (!container_) return NS_E_INVALID_REQUEST;
  auto list = List(wStreamNum);
  if (wIndex >= list.size()) return E_INVALIDARG;
  if (list[wIndex].stored < 0) return NS_E_INVALID_REQUEST;
  if (wLangIndex != 0 && wLangIndex >= container_->languages().size()) return E_INVALIDARG;
  Attribute& a = container_->attributes()[static_cast<std::size_t>(list[wIndex].stored)];
  Bytes value;
  HRESULT hr = Incoming(a.name, Type, pValue, dwLength, value);
  if (FAILED(hr)) return hr;
  if (!container_->CanHold(Attribute{a.name, Type, wLangIndex, a.stream, value})) return NS_E_INVALID_REQUEST;
  a.type = Type;
  a.language = wLangIndex;
  a.value = std::move(value);
  return S_OK;
}

HRESULT MetadataEditor::AddAttribute(WORD wStreamNum, LPCWSTR pszName, WORD* pwIndex, WMT_ATTR_DATATYPE Type,
                                     WORD wLangIndex, const BYTE* pValue, DWORD dwLength) {
  if (pszName == nullptr || *pszName == 0) return E_INVALIDARG;
  if (!container_) return NS_E_INVALID_REQUEST;
  std::u16string name = TextAt(pszName);
  if (IsComputedName(computed_, name)) return NS_E_INVALID_REQUEST;
  if (wLangIndex != 0 && wLangIndex >= container_->languages().size()) return E_INVALIDARG;
  Bytes value;
  HRESULT hr = Incoming(name, Type, pValue, dwLength, value);
  if (FAILED(hr)) return hr;
  if (!container_->CanHold(Attribute{name, Type, wLangIndex, wStreamNum, value})) return NS_E_INVALID_REQUEST;
  container_->attributes().push_back(Attribute{std::move(name), Type, wLangIndex, wStreamNum, std::move(value)});
  if (pwIndex) *pwIndex = static_cast<WORD>(List(wStreamNum).size() - 1);
  return S_OK;
}

HRESULT MetadataEditor::DeleteAttribute(WORD wStreamNum, WORD wIndex) {
  if (!container_) return NS_E_INVALID_REQUEST;
  auto list = List(wStreamNum);
  if (wIndex >= list.size()) return E_INVALIDARG;
  if (list[wIndex].stored < 0) return NS_E_INVALID_REQUEST;
  auto& stored = container_->attributes();
  stored.erase(stored.begin() + list[wIndex].stored);
  return S_OK;
}

HRESULT MetadataEditor::GetLanguageCount(WORD* pwCount) {
  if (pwCount == nullptr) return E_INVALIDARG;
  if (!container_) return NS_E_INVALID_REQUEST;
  *pwCount = static_cast<WORD>(container_->languages().size());
  return S_OK;
}

HRESULT MetadataEditor::GetLanguageDetails(WORD wIndex, WCHAR* pwszLanguageString, WORD* pcchLanguageStringLength) {
  if (pcchLanguageStringLength == nullptr) return E_INVALIDARG;
  if (!container_) return NS_E_INVALID_REQUEST;
  const auto& languages = container_->languages();
  if (wIndex >= languages.size()) return E_INVALIDARG;
  const std::u16string& language = languages[wIndex];
  WORD needed = static_cast<WORD>(language.size() + 1);
  HRESULT hr = S_OK;
  if (pwszLanguageString != nullptr) {
    if (*pcchLanguageStringLength < needed)
      hr = ASF_E_BUFFERTOOSMALL;
    else
      std::memcpy(pwszLanguageString, language.c_str(), needed * 2);
  }
  *pcchLanguageStringLength = needed;
  return hr;
}

HRESULT MetadataEditor::AddLanguageByRFC1766String(LPCWSTR pwszLanguageString, WORD* pwIndex) {
  if (pwszLanguageString == nullptr || pwIndex == nullptr) return E_INVALIDARG;
  if (!container_) return NS_E_INVALID_REQUEST;
  std::u16string language = TextAt(pwszLanguageString);
  if (language.empty() || language.size() > 126) return E_INVALIDARG;
  auto& languages = container_->languages();
  for (std::size_t i = 0; i < languages.size(); ++i) {
    if (AsciiEqualsNoCase(languages[i], language)) {
      *pwIndex = static_cast<WORD>(i);
      return S_OK;
    }
  }
  if (languages.size() >= 0xFFFF) return E_INVALIDARG;
  languages.push_back(std::move(language));
  *pwIndex = static_cast<WORD>(languages.size() - 1);
  return S_OK;
}

HRESULT MetadataEditor::GetDRMProperty(LPCWSTR pwstrName, WMT_ATTR_DATATYPE* pdwType, BYTE* pValue,
                                       WORD* pcbLength) {
  if (pwstrName == nullptr || pdwType == nullptr || pcbLength == nullptr) return E_INVALIDARG;
  if (!container_) return NS_E_INVALID_REQUEST;
  std::optional<Attribute> property = container_->DrmProperty(TextAt(pwstrName));
  if (!property || property->value.size() > 0xFFFF) return ASF_E_NOTFOUND;
  WORD needed = static_cast<WORD>(property->value.size());
  HRESULT hr = S_OK;
  if (pValue != nullptr) {
    if (*pcbLength < needed)
      hr = ASF_E_BUFFERTOOSMALL;
    else
      std::memcpy(pValue, property->value.data(), needed);
  }
  *pcbLength = needed;
  *pdwType = property->type;
  return hr;
}

}  // namespace vel::wmf
