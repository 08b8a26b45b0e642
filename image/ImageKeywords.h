// The keyword list of an image file, as the plugin's IVelItemImage hands it
// over: VT_ARRAY | VT_BSTR in dataset order, VT_EMPTY for none.
//
// A library error (a format without IPTC, a damaged file) is logged with code
// 61001 and reads as no keywords or leaves the file as it was. Writing goes
// through a replacing file and writes nothing when the list is the file's.
//
// Thread safety: any thread; writers of one file take turns.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/com/comdef.h"
#include "ylib/YErrorFrame.h"

namespace vel::image {

// f is the frame of the plugin method (its name appears in reports).
_variant_t ReadKeywordsOfFile(std::u16string_view path, const YFrame& f);
void WriteKeywordsOfFile(std::u16string_view path, const std::vector<std::u16string>& keywords, const YFrame& f);

}  // namespace vel::image
