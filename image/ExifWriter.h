// The EXIF side of writing an image: the item's properties of
// kExifPropertyMap and its GPS position go into the file's EXIF data, through
// a replacing file (the file is never written in place), and only when
// something differs from what the file holds.
//
// A library error (a format the plugin does not write, a damaged file) is
// logged with code 61002 and leaves the file as it was; a property that has
// no form of its EXIF type fails the call before anything is written.
//
// Thread safety: any thread; writers of one file take turns.
#pragma once

#include <string_view>

#include "contract/VelItemsLib.h"
#include "ylib/YErrorFrame.h"

namespace vel::image {

// f is the frame of the plugin method writing (its name appears in reports).
void WriteExifProperties(std::u16string_view path, IVelItem* item, const YFrame& f);

}  // namespace vel::image
