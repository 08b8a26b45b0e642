// vel::wmf::Attribute and vel::wmf::StreamInfo: what a Windows Media family
// file holds, as the runtime stand-in's back ends hand it to the COM objects.
//
// Values are kept as the runtime hands them out: numbers little-endian (BOOL
// as four bytes), texts UTF-16 little-endian with their terminator, and the
// "WM/Picture" value as the stored picture body (type byte, data length,
// MIME type and description as terminated UTF-16, then the data).
//
// Thread safety: plain values.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/wmf/wmsdk.h"

namespace vel::wmf {

using Bytes = std::vector<std::uint8_t>;

struct Attribute {
  std::u16string name;
  WMT_ATTR_DATATYPE type = WMT_TYPE_STRING;
  WORD language = 0;  // the place in the file's language list
  WORD stream = 0;    // 0: the whole file
  Bytes value;

  bool operator==(const Attribute&) const = default;
};

// One stream of the file: its major type, number and format block
// (a WAVEFORMATEX and its extra bytes for audio).
struct StreamInfo {
  GUID type{};
  WORD number = 0;
  Bytes format;
};

// UTF-16 little-endian bytes with a terminator, and back (up to the first
// terminator or the end).
Bytes StringValue(std::u16string_view text);
std::u16string StringOf(const Bytes& value);
// Numbers as little-endian value bytes.
Bytes DwordValue(std::uint32_t v);
Bytes QwordValue(std::uint64_t v);
Bytes WordValue(std::uint16_t v);

// The stored picture body.
struct Picture {
  std::u16string mimeType;
  BYTE pictureType = 0;
  std::u16string description;
  Bytes data;
};
Bytes PictureBody(const Picture& picture);
bool ParsePictureBody(const Bytes& body, Picture& picture);

}  // namespace vel::wmf
