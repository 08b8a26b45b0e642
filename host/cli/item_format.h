// An item as velitems prints it: a text table or one JSON object per line
// (the value encodings are described in the project's README).
//
// Thread safety: stateless; the item is read through its own (locked) calls.
#pragma once

#include <string>

#include "contract/VelItemsLib.h"

namespace velitems {

// JSON text of a VT_DATE: "YYYY-MM-DDTHH:MM:SS.mmm" of the stored value (the
// milliseconds it holds, never rounded up), quotes included; null out of range.
std::string JsonDateText(double date);
// JSON string literal of UTF-8 text, quotes included.
std::string JsonString(std::string_view text);
// {"path":...,"plugin":...,"class":...,"label":...,"properties":[...]} without a newline.
// False (what = the failing call) when the item could not be read.
bool ItemJson(IVelItem* item, const std::string& path, const std::string& plugin, std::string& out, std::string& what,
              HRESULT& hr);
// The item as a table: a header line and one indented line per property.
bool ItemTable(IVelItem* item, const std::string& path, const std::string& plugin, std::string& out,
               std::string& what, HRESULT& hr);

}  // namespace velitems
