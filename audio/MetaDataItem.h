// CMetaDataItem: one property value as a tag editor hands it to the plugin:
// the property's name and namespace (those of its AudioPropertyMap row), the
// value, and the data type code of the place it came from (the MP4 item's
// type flags, or the Windows Media attribute's data type) so that a writer can
// store it back the way it was found.
//
// A record owns its value: copies are deep (a BSTR or an array is duplicated,
// an interface gains a reference), so records can outlive the editor that made
// them. Editors hand records over in a CMetaDataItemList, whose order is the
// order in which the editor met the values.
//
// Thread safety: none of its own; one record belongs to one thread at a time.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/com/comdef.h"

class CMetaDataItem {
 public:
  CMetaDataItem() = default;
  // Copies value; a failed copy (out of memory) raises from this constructor.
  CMetaDataItem(std::u16string_view name, std::u16string_view namespaceUri, const VARIANT& value, int dataType);
  // Takes the value over.
  CMetaDataItem(std::u16string_view name, std::u16string_view namespaceUri, _variant_t&& value, int dataType);

  // Whether other holds the value this record holds. A value of another
  // VARTYPE is converted to the record's type first (a value that cannot be
  // converted raises with the conversion's HRESULT). Values compare as
  // _variant_t equality does (so text with its letter case); byte arrays
  // (VT_ARRAY|VT_UI1, a picture) compare by their bytes, whatever their
  // lower bounds. The record is not changed.
  bool IsSameData(const VARIANT& other) const;

  std::u16string name;
  std::u16string namespaceUri;
  _variant_t value;
  int dataType = 0;
};

using CMetaDataItemList = std::vector<CMetaDataItem>;
