// The image property vocabulary: one row per property the image plugin reads
// and writes, with its EXIF key (kExifPropertyMap, used by the EXIF path and
// the writer) or its GDI+ property tag (kGdiPlusPropertyMap, used for the
// other formats). GPS positions are in neither map: the GPS unit handles them.
//
// Thread safety: constant tables and pure lookups; any thread.
#pragma once

#include <cstdint>
#include <string_view>

#include "platform/com/types.h"

template <class Key>
struct ImagePropertyMapEntry {
  const char16_t* name;       // null ends a map
  const char16_t* nameSpace;  // always kCoreNamespace
  Key key;                    // EXIF key ("Exif.Photo.ExposureTime") or GDI+ property tag
  VARTYPE variantType;        // the property's type in the item
  std::uint8_t isSigned;      // written as SRATIONAL, SSHORT or SLONG
  std::uint8_t isUndefined;   // written as UNDEFINED bytes
  std::uint32_t byteCount;    // bytes of an UNDEFINED value (0: not fixed)
};

using ExifPropertyMapEntry = ImagePropertyMapEntry<const char*>;
using GdiPlusPropertyMapEntry = ImagePropertyMapEntry<std::uint32_t>;

extern const ExifPropertyMapEntry kExifPropertyMap[];
extern const GdiPlusPropertyMapEntry kGdiPlusPropertyMap[];

namespace vel::image {

// The first row whose key is key (exact, case-sensitive); null when none.
const ExifPropertyMapEntry* FindExifRow(std::string_view key);
// The first row of tag; null when none.
const GdiPlusPropertyMapEntry* FindGdiPlusRow(std::uint32_t tag);
// The first EXIF row whose name and namespace are these (case-sensitive); null when none.
const ExifPropertyMapEntry* FindExifRowByName(std::u16string_view name, std::u16string_view ns);

}  // namespace vel::image
