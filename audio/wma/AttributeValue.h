// Conversion between the bytes of a Windows Media attribute and a VARIANT,
// for every attribute type but the picture (see PictureBody.h and
// CWmaEditor::FromWMPicture).
//
//   type        bytes read (at least)  VARIANT read   VARIANT written -> bytes
//   0 DWORD     4                      VT_I4          VT_I4, VT_INT -> 4
//   1 STRING    1                      VT_BSTR        VT_BSTR of 1+ characters -> UTF-16LE text + 00 00
//   2 BINARY    1                      VT_ARRAY|VT_UI1  VT_ARRAY|VT_UI1 -> its bytes
//   3 BOOL      1                      VT_BOOL        VT_BOOL -> 1 byte (1 or 0)
//   4 QWORD     8                      VT_I8          VT_I8 -> 8
//   5 WORD      2                      VT_I2          VT_I2 -> 2
//   6 GUID      1                      VT_ARRAY|VT_I1 VT_ARRAY|VT_I1 -> its bytes
// Numbers are in the given byte order; text is always UTF-16 little-endian,
// read up to its first zero unit within the value. A BOOL of 1 byte is true
// when not 0, of 2 or 4 bytes when the number is above 0, of any other
// length false. A value shorter than its type needs, and an unknown type,
// give nothing; so do VT_EMPTY, VT_NULL, an empty text and any other VARTYPE
// when writing.
//
// Thread safety: pure functions; any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "platform/base/ByteOrder.h"
#include "platform/com/comdef.h"
#include "platform/wmf/wmsdk.h"

namespace vel::wma {

struct AttributeBytes {
  WMT_ATTR_DATATYPE type = WMT_TYPE_DWORD;
  std::vector<std::uint8_t> bytes;
};

std::optional<_variant_t> ValueFromAttribute(WMT_ATTR_DATATYPE type, std::span<const std::uint8_t> bytes,
                                             ByteOrder order);

std::optional<AttributeBytes> AttributeFromValue(const VARIANT& value, ByteOrder order);

}  // namespace vel::wma
