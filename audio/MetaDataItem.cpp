#include "audio/MetaDataItem.h"

#include <utility>

#include "audio/ByteArray.h"

#include "platform/com/oleauto.h"
#include "ylib/YErrorFrame.h"

namespace {
constexpr char16_t kSource[] = u"MetaDataItem";

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
      const CByteArrayView mine(value), theirs(candidate);
      if (mine.valid() && theirs.valid()) return mine == theirs;
      // Two missing arrays hold the same nothing.
      return value.parray == nullptr && candidate.parray == nullptr;
    }
    return value == candidate;
  });
}
