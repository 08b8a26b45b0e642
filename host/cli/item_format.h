// An item as velitems prints it: a text table or one JSON object per line
// (the value encodings are described in the project's README), and the JSON
// line of a file that could not be read. All of velitems' JSON is made here.
//
// Thread safety: stateless; the item is read through its own (locked) calls.
#pragma once

#include <optional>
#include <string>

#include "contract/VelItemsLib.h"

namespace velitems {

// JSON text of a VT_DATE: "YYYY-MM-DDTHH:MM:SS.mmm" of the stored value (the
// milliseconds it holds, never rounded up), quotes included; null out of range.
std::string JsonDateText(double date);
// JSON string literal of UTF-8 text, quotes included.
std::string JsonString(std::string_view text);
// {"path":...,"error":{"hresult":...,"xml":...}} without a newline: the line
// `read --json` prints for a file it could not read; hresult "0x........", or
// null when no call failed (no plugin is registered for the file).
std::string ErrorJson(const std::string& path, const std::optional<std::string>& hresult, const std::string& xml);
// {"path":...,"plugin":...,"class":...,"label":...,"properties":[...]} without a newline.
// False (what = the failing call) when the item could not be read.
bool ItemJson(IVelItem* item, const std::string& path, const std::string& plugin, std::string& out, std::string& what,
              HRESULT& hr);
// The item as a table: a header line and one indented line per property
// that holds a value (all: every property, VT_EMPTY and VT_NULL too). Names
// outside the core namespace are written {NAMESPACE}NAME; the name column is
// as wide as the longest. Dates read as in JSON (ISO 8601, milliseconds).
bool ItemTable(IVelItem* item, const std::string& path, const std::string& plugin, bool all, std::string& out,
               std::string& what, HRESULT& hr);

}  // namespace velitems
