// EXIF data to item properties and back, row by row of kExifPropertyMap.
//
// Exiv2Prop turns one EXIF datum into the property its row names; values it
// cannot read (a zero denominator, an UNDEFINED value of a size no integer
// has, a type the row's property cannot take) are logged at level 3 and left
// out, so one odd tag does not cost the rest of the photo.
// Prop2Exiv writes one item property into EXIF data and says whether the data
// changed; a value equal to the file's (rationals within 2^-23, texts byte
// for byte) leaves the datum as it is, so saving an unchanged photo writes
// nothing.
//
// Thread safety: pure functions over the caller's data; any thread.
#pragma once

#include <string_view>

#include "platform/com/comdef.h"

namespace Exiv2 {
class Value;
class ExifData;
}  // namespace Exiv2

namespace vel::image {

struct ConvertedProperty {
  const char16_t* name = nullptr;  // null when the key is not in the map
  const char16_t* nameSpace = nullptr;
  _variant_t value;  // VT_EMPTY when the value yields nothing
};

ConvertedProperty Exiv2Prop(std::string_view key, const Exiv2::Value& value);

// Raises "Failed to convert property to correct exif type" (1015, with the
// details PropertyType, PropertyValue, ExifType and ExifTag) after the
// conversion's own error when the value has no form of the row's type.
bool Prop2Exiv(Exiv2::ExifData& data, std::u16string_view name, std::u16string_view ns, const VARIANT& value);

// "YYYY:MM:DD hh:mm:ss" as VT_DATE; VT_EMPTY unless all six fields are there
// and form a date (0000:00:00 00:00:00 does not).
_variant_t ParseExifDate(std::string_view text);

}  // namespace vel::image
