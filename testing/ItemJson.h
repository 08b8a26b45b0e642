// Reading the items `velitems read --json` prints: each property's "vt" and
// raw JSON value by name, for the CLI tests.
//
// Thread safety: plain functions; any thread.
#pragma once

#include <map>
#include <string>

namespace vel::testing {

// One property of `read --json` output: its "vt" and raw JSON value.
struct JsonProperty {
  std::string vt;
  std::string value;
};

// The properties of the JSON text by name (the last one wins for a name met twice).
inline std::map<std::string, JsonProperty> ItemJsonProperties(const std::string& json) {
  std::map<std::string, JsonProperty> out;
  const std::string marker = "{\"name\":\"";
  for (std::size_t at = json.find(marker); at != std::string::npos; at = json.find(marker, at + 1)) {
    const std::size_t nameEnd = json.find('"', at + marker.size());
    const std::string name = json.substr(at + marker.size(), nameEnd - at - marker.size());
    const std::size_t vt = json.find("\"vt\":\"", nameEnd);
    const std::size_t vtEnd = json.find('"', vt + 6);
    const std::size_t value = json.find("\"value\":", vtEnd) + 8;
    std::size_t valueEnd = value;
    if (json[value] == '"') {
      valueEnd = value + 1;
      while (valueEnd < json.size() && json[valueEnd] != '"') valueEnd += json[valueEnd] == '\\' ? 2 : 1;
      ++valueEnd;
    } else {
      valueEnd = json.find('}', value);
    }
    out[name] = {json.substr(vt + 6, vtEnd - vt - 6), json.substr(value, valueEnd - value)};
  }
  return out;
}

}  // namespace vel::testing
