// The GDI+ path of reading an image (PNG, GIF, BMP and any other format that
// is not JPEG or TIFF): the property items of kGdiPlusPropertyMap, and for an
// image that has property items the thumbnail flag (false) and the number of
// frames of its first frame dimension.
//
// A property item is read within the bytes GDI+ handed over, whatever length
// it claims; an item GDI+ fails to hand over is passed over. An image GDI+
// cannot open simply has no property items.
//
// Thread safety: any thread; GDI+ is started and shut down per call.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "contract/VelItemsLib.h"
#include "image/ExifConversions.h"
#include "ylib/YErrorFrame.h"

namespace vel::image {

// One property item (tag, GDI+ value type, value bytes) as an item property;
// VT_EMPTY when the tag is not in kGdiPlusPropertyMap or the value yields
// nothing (such values are logged at level 3).
ConvertedProperty GDI2Prop(std::uint32_t tag, std::uint16_t type, std::span<const std::uint8_t> value);

void ReadGdiPlusProperties(std::u16string_view path, IVelProperties* properties, const YFrame& f);

}  // namespace vel::image
