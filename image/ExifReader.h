// The EXIF path of reading an image: the properties of kExifPropertyMap, the
// thumbnail flag and the GPS position ("lat"/"long" in kGeoNamespace) from a
// JPEG or TIFF file's EXIF data, put into the item's property set.
//
// A library error (unknown file type, damaged EXIF) is logged with code 61001
// and ends the EXIF reading only: what was put before it stays.
//
// Thread safety: any thread; the item is the host's, which guards it.
#pragma once

#include <string_view>

#include "contract/VelItemsLib.h"
#include "ylib/YErrorFrame.h"

namespace vel::image {

// f is the frame of the plugin method reading (its name appears in reports).
void ReadExifProperties(std::u16string_view path, IVelProperties* properties, const YFrame& f);

}  // namespace vel::image
