#include "audio/MetaDataItem.h"

#include <utility>

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
