#include "testing/servers/FakeWmEditor.h"

#include <algorithm>
#include <cstring>

#include "platform/com/comobject.h"

VEL_DECLARE_BASE_INTERFACE(IWMMetadataEditor2, IWMMetadataEditor);
VEL_DECLARE_BASE_INTERFACE(IWMHeaderInfo3, IWMHeaderInfo2);
VEL_DECLARE_BASE_INTERFACE(IWMHeaderInfo2, IWMHeaderInfo);

namespace vel::testing {
namespace {

void PutText(std::vector<std::uint8_t>& out, std::u16string_view text) {
  for (char16_t c : text) {
    out.push_back(static_cast<std::uint8_t>(c & 0xFF));
    out.push_back(static_cast<std::uint8_t>(c >> 8));
  }
  out.push_back(0);
  out.push_back(0);
}

// The runtime's buffer for a picture: the structure, then its texts and bytes.
std::vector<std::uint8_t> PictureBuffer(const FakeWmAttribute& a, std::uint8_t* base) {
  std::vector<std::uint8_t> tail;
  const std::size_t mimeAt = sizeof(WM_PICTURE);
  PutText(tail, a.mimeType);
  const std::size_t descriptionAt = mimeAt + tail.size();
  PutText(tail, a.description);
  const std::size_t dataAt = mimeAt + tail.size();
  tail.insert(tail.end(), a.pictureData.begin(), a.pictureData.end());
  WM_PICTURE picture{};
  picture.bPictureType = a.pictureType;
  picture.dwDataLen = static_cast<DWORD>(a.pictureData.size());
  if (base != nullptr) {  // null: only the size is asked for
    picture.pwszMIMEType = reinterpret_cast<LPWSTR>(base + mimeAt);
    picture.pwszDescription = reinterpret_cast<LPWSTR>(base + descriptionAt);
    picture.pbData = a.pictureData.empty() ? nullptr : base + dataAt;
  }
  std::vector<std::uint8_t> out(sizeof picture);
  std::memcpy(out.data(), &picture, sizeof picture);
  out.insert(out.end(), tail.begin(), tail.end());
  return out;
}

std::u16string TextAt(const WCHAR* p) {
  if (p == nullptr) return {};
  std::u16string text;
  for (; *p != 0; ++p) text.push_back(*p);
  return text;
}

// Takes a value handed to ModifyAttribute or SetAttribute into a.
HRESULT Store(FakeWmAttribute& a, WMT_ATTR_DATATYPE type, const BYTE* value, DWORD length) {
  a.type = type;
  if (a.IsPicture()) {
    if (value == nullptr || (length != kWmPictureLength32 && length != sizeof(WM_PICTURE))) return E_INVALIDARG;
    WM_PICTURE picture;
    std::memcpy(&picture, value, sizeof picture);
    a.mimeType = TextAt(picture.pwszMIMEType);
    a.pictureType = picture.bPictureType;
    a.description = TextAt(picture.pwszDescription);
    a.pictureData.assign(picture.pbData, picture.pbData + (picture.pbData ? picture.dwDataLen : 0));
    a.value.clear();
    return S_OK;
  }
  a.value.assign(value, value + (value ? length : 0));
  return S_OK;
}

class FakeEditor : public vel::com::Implements<IWMMetadataEditor2, IWMHeaderInfo3, IWMLanguageList> {
 public:
  static constexpr bool kAggregatable = false;
  std::shared_ptr<FakeWmFile> file;

  // IWMMetadataEditor/2
  HRESULT Open(const WCHAR*) override { return OpenEx(nullptr, 0, 0); }
  HRESULT OpenEx(const WCHAR*, DWORD, DWORD) override {
    if (FAILED(file->openResult)) return file->openResult;
    file->open = true;
    return S_OK;
  }
  HRESULT Close() override {
    file->open = false;
    return S_OK;
  }
  HRESULT Flush() override {
    ++file->flushes;
    return file->flushResult;
  }

  // IWMHeaderInfo
  HRESULT GetAttributeCount(WORD, WORD*) override { return E_NOTIMPL; }
  HRESULT GetAttributeByIndex(WORD, WORD*, WCHAR*, WORD*, WMT_ATTR_DATATYPE*, BYTE*, WORD*) override {
    return E_NOTIMPL;
  }
  HRESULT GetAttributeByName(WORD*, LPCWSTR, WMT_ATTR_DATATYPE*, BYTE*, WORD*) override { return E_NOTIMPL; }
  HRESULT SetAttribute(WORD stream, LPCWSTR name, WMT_ATTR_DATATYPE type, const BYTE* value, WORD length) override {
    if (stream != 0 || name == nullptr) return E_INVALIDARG;
    ++file->changes;
    for (FakeWmAttribute& a : file->attributes) {
      if (a.name == name && a.language == 0) return Store(a, type, value, length);
    }
    FakeWmAttribute a;
    a.name = name;
    a.type = type;
    const HRESULT hr = Store(a, type, value, length);
    if (SUCCEEDED(hr)) file->attributes.push_back(std::move(a));
    return hr;
  }
  HRESULT GetMarkerCount(WORD*) override { return E_NOTIMPL; }
  HRESULT GetMarker(WORD, WCHAR*, WORD*, QWORD*) override { return E_NOTIMPL; }
  HRESULT AddMarker(LPCWSTR, QWORD) override { return E_NOTIMPL; }
  HRESULT RemoveMarker(WORD) override { return E_NOTIMPL; }
  HRESULT GetScriptCount(WORD*) override { return E_NOTIMPL; }
  HRESULT GetScript(WORD, WCHAR*, WORD*, WCHAR*, WORD*, QWORD*) override { return E_NOTIMPL; }
  HRESULT AddScript(LPCWSTR, LPCWSTR, QWORD) override { return E_NOTIMPL; }
  HRESULT RemoveScript(WORD) override { return E_NOTIMPL; }
  // IWMHeaderInfo2
  HRESULT GetCodecInfoCount(DWORD*) override { return E_NOTIMPL; }
  HRESULT GetCodecInfo(DWORD, WORD*, WCHAR*, WORD*, WCHAR*, WMT_CODEC_INFO_TYPE*, WORD*, BYTE*) override {
    return E_NOTIMPL;
  }
  // IWMHeaderInfo3
  HRESULT GetAttributeCountEx(WORD stream, WORD* count) override {
    if (stream != 0 || count == nullptr) return E_INVALIDARG;
    if (FAILED(file->countResult)) return file->countResult;
    *count = static_cast<WORD>(file->attributes.size());
    return S_OK;
  }
  HRESULT GetAttributeIndices(WORD stream, LPCWSTR name, WORD* language, WORD* indices, WORD* count) override {
    if (stream != 0 || name == nullptr || count == nullptr) return E_INVALIDARG;
    std::vector<WORD> found;
    for (std::size_t i = 0; i < file->attributes.size(); ++i) {
      const FakeWmAttribute& a = file->attributes[i];
      if (a.name == name && (language == nullptr || a.language == *language)) found.push_back(static_cast<WORD>(i));
    }
    if (indices == nullptr) {
      *count = static_cast<WORD>(found.size());
      return S_OK;
    }
    if (*count < found.size()) {
      *count = static_cast<WORD>(found.size());
      return ASF_E_BUFFERTOOSMALL;
    }
    std::copy(found.begin(), found.end(), indices);
    *count = static_cast<WORD>(found.size());
    return S_OK;
  }
  HRESULT GetAttributeByIndexEx(WORD stream, WORD index, LPWSTR name, WORD* nameLength, WMT_ATTR_DATATYPE* type,
                                WORD* language, BYTE* value, DWORD* dataLength) override {
    if (stream != 0 || index >= file->attributes.size() || nameLength == nullptr || dataLength == nullptr)
      return E_INVALIDARG;
    const FakeWmAttribute& a = file->attributes[index];
    // A picture set up with raw bytes is handed out as they are.
    const std::vector<std::uint8_t> bytes = a.IsPicture() && a.value.empty() ? PictureBuffer(a, value) : a.value;
    const WORD needName = static_cast<WORD>(a.name.size() + 1);
    const DWORD needData = static_cast<DWORD>(bytes.size());
    if (type) *type = a.type;
    if (language) *language = a.language;
    if (name != nullptr) {
      if (*nameLength < needName) return ASF_E_BUFFERTOOSMALL;
      std::copy(a.name.begin(), a.name.end(), name);
      name[a.name.size()] = 0;
    }
    *nameLength = needName;
    if (value != nullptr) {
      if (*dataLength < needData) return ASF_E_BUFFERTOOSMALL;
      if (needData) std::memcpy(value, bytes.data(), needData);
    }
    *dataLength = needData;
    return S_OK;
  }
  HRESULT ModifyAttribute(WORD stream, WORD index, WMT_ATTR_DATATYPE type, WORD language, const BYTE* value,
                          DWORD length) override {
    if (stream != 0 || index >= file->attributes.size()) return E_INVALIDARG;
    ++file->changes;
    FakeWmAttribute& a = file->attributes[index];
    a.language = language;
    return Store(a, type, value, length);
  }
  HRESULT AddAttribute(WORD stream, LPCWSTR name, WORD* index, WMT_ATTR_DATATYPE type, WORD language,
                       const BYTE* value, DWORD length) override {
    if (stream != 0 || name == nullptr) return E_INVALIDARG;
    ++file->changes;
    FakeWmAttribute a;
    a.name = name;
    a.language = language;
    const HRESULT hr = Store(a, type, value, length);
    if (FAILED(hr)) return hr;
    file->attributes.push_back(std::move(a));
    if (index) *index = static_cast<WORD>(file->attributes.size() - 1);
    return S_OK;
  }
  HRESULT DeleteAttribute(WORD stream, WORD index) override {
    if (stream != 0 || index >= file->attributes.size()) return E_INVALIDARG;
    ++file->changes;
    file->attributes.erase(file->attributes.begin() + index);
    return S_OK;
  }
  HRESULT AddCodecInfo(LPCWSTR, LPCWSTR, WMT_CODEC_INFO_TYPE, WORD, BYTE*) override { return E_NOTIMPL; }

  // IWMLanguageList
  HRESULT GetLanguageCount(WORD* count) override {
    if (count == nullptr) return E_POINTER;
    *count = static_cast<WORD>(file->languages.size());
    return S_OK;
  }
  HRESULT GetLanguageDetails(WORD index, WCHAR* text, WORD* length) override {
    if (index >= file->languages.size() || length == nullptr) return E_INVALIDARG;
    const std::u16string& l = file->languages[index];
    const WORD need = static_cast<WORD>(l.size() + 1);
    if (text != nullptr) {
      if (*length < need) return ASF_E_BUFFERTOOSMALL;
      std::copy(l.begin(), l.end(), text);
      text[l.size()] = 0;
    }
    *length = need;
    return S_OK;
  }
  HRESULT AddLanguageByRFC1766String(LPCWSTR text, WORD* index) override {
    if (text == nullptr) return E_INVALIDARG;
    file->languages.emplace_back(text);
    if (index) *index = static_cast<WORD>(file->languages.size() - 1);
    return S_OK;
  }
};

}  // namespace

FakeWmAttribute& FakeWmFile::AddText(std::u16string name, std::u16string_view text, WORD language) {
  std::vector<std::uint8_t> bytes;
  PutText(bytes, text);
  return AddBytes(std::move(name), WMT_TYPE_STRING, std::move(bytes), language);
}

FakeWmAttribute& FakeWmFile::AddNumber(std::u16string name, WMT_ATTR_DATATYPE type, std::uint64_t value,
                                       bool littleEndian, WORD language) {
  std::size_t size = 4;
  if (type == WMT_TYPE_QWORD) size = 8;
  if (type == WMT_TYPE_WORD) size = 2;
  std::vector<std::uint8_t> bytes(size);
  for (std::size_t i = 0; i < size; ++i) {
    const auto b = static_cast<std::uint8_t>(value >> (8 * i));
    bytes[littleEndian ? i : size - 1 - i] = b;
  }
  return AddBytes(std::move(name), type, std::move(bytes), language);
}

FakeWmAttribute& FakeWmFile::AddBytes(std::u16string name, WMT_ATTR_DATATYPE type, std::vector<std::uint8_t> bytes,
                                      WORD language) {
  FakeWmAttribute a;
  a.name = std::move(name);
  a.type = type;
  a.language = language;
  a.value = std::move(bytes);
  attributes.push_back(std::move(a));
  return attributes.back();
}

FakeWmAttribute& FakeWmFile::AddPicture(std::u16string mimeType, BYTE pictureType, std::u16string description,
                                        std::vector<std::uint8_t> data) {
  FakeWmAttribute a;
  a.name = u"WM/Picture";
  a.type = WMT_TYPE_BINARY;
  a.mimeType = std::move(mimeType);
  a.pictureType = pictureType;
  a.description = std::move(description);
  a.pictureData = std::move(data);
  attributes.push_back(std::move(a));
  return attributes.back();
}

const FakeWmAttribute* FakeWmFile::Find(std::u16string_view name) const {
  for (const FakeWmAttribute& a : attributes) {
    if (a.name == name) return &a;
  }
  return nullptr;
}

std::size_t FakeWmFile::CountOf(std::u16string_view name) const {
  return static_cast<std::size_t>(
      std::count_if(attributes.begin(), attributes.end(), [&](const FakeWmAttribute& a) { return a.name == name; }));
}

ComPtr<IWMMetadataEditor> MakeFakeWmEditor(std::shared_ptr<FakeWmFile> file) {
  ComPtr<IWMMetadataEditor> editor;
  if (FAILED(vel::com::CreateComObject<FakeEditor>(nullptr, IID_IWMMetadataEditor, reinterpret_cast<void**>(&editor))))
    return nullptr;
  // The object was made just now by this call; hand it its file.
  static_cast<FakeEditor*>(static_cast<IWMMetadataEditor2*>(editor.get()))->file = std::move(file);
  return editor;
}

}  // namespace vel::testing
