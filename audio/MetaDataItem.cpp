#include "audio/MetaDataItem.h"

#include <cstring>
#include <utility>

#include "platform/com/oleauto.h"
#include "ylib/YErrorFrame.h"

namespace {
constexpr char16_t kSource[] = u"MetaDataItem";

// The bytes of a one-dimensional byte array; false when it has none to give
// (no array, another shape, or its data cannot be reached).
class ByteArrayView {
 public:
  explicit ByteArrayView(SAFEARRAY* array) noexcept {
    LONG lower = 0, upper = -1;
    if (array == nullptr || SafeArrayGetDim(array) != 1 || FAILED(SafeArrayGetLBound(array, 1, &lower)) ||
        FAILED(SafeArrayGetUBound(array, 1, &upper)))
      return;
    void* data = nullptr;
    if (FAILED(SafeArrayAccessData(array, &data))) return;
    array_ = array;
    data_ = static_cast<const BYTE*>(data);
    size_ = upper >= lower ? static_cast<std::size_t>(static_cast<std::int64_t>(upper) - lower + 1) : 0;
  }
  ~ByteArrayView() {
    if (array_ != nullptr) SafeArrayUnaccessData(array_);
  }
  ByteArrayView(const ByteArrayView&) = delete;
  ByteArrayView& operator=(const ByteArrayView&) = delete;

  bool valid() const noexcept { return array_ != nullptr; }
  bool operator==(const ByteArrayView& other) const noexcept {
    return size_ == other.size_ && (size_ == 0 || std::memcmp(data_, other.data_, size_) == 0);
  }

 private:
  SAFEARRAY* array_ = nullptr;
  const BYTE* data_ = nullptr;
  std::size_t size_ = 0;
};
}  // namespace

CMetaDataItem::CMetaDataItem(std::u16string_view name, std::u16string_view namespaceUri, const VARIANT& value,
                             int dataType)
    : dataType(dataType) {
  YErrorFrame({u"CMetaDataItem::CMetaDataItem", kSource, __LINE__}, [&] {
    this->name = name;
    this->namespaceUri = namespaceUri;
    this->value = _variant_t(value);
  });
}

CMetaDataItem::CMetaDataItem(std::u16string_view name, std::u16string_view namespaceUri, _variant_t&& value,
                             int dataType)
    : name(name), namespaceUri(namespaceUri), value(std::move(value)), dataType(dataType) {}

bool CMetaDataItem::IsSameData(const VARIANT& other) const {
  return YErrorFrame({u"CMetaDataItem::IsSameData", kSource, __LINE__}, [&](const YFrame& f) {
    _variant_t candidate;
    if (other.vt == value.vt) {
      candidate = other;
    } else {
      const HRESULT hr = VariantChangeType(&candidate, &other, 0, value.vt);
      if (FAILED(hr)) YThrowHr(hr, f);
    }
    if (value.vt == (VT_ARRAY | VT_UI1)) {
      const ByteArrayView mine(value.parray), theirs(candidate.parray);
      if (mine.valid() && theirs.valid()) return mine == theirs;
      // Two missing arrays hold the same nothing.
      return value.parray == nullptr && candidate.parray == nullptr;
    }
    return value == candidate;
  });
}
