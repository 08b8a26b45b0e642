// MMS PDUs built in code for the MMS tests: byte strings written as a list of
// numbers, texts and byte pieces, multipart entries, and a hex dump for
// failure messages.
//
// Thread safety: pure functions; any thread.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

#include "testing/FileBytes.h"

namespace vel::testing {

// Pieces of a byte string: numbers are bytes, texts are their bytes (no terminator).
struct BytePiece {
  BytePiece(int byte) : bytes{static_cast<std::uint8_t>(byte)} {}  // NOLINT: implicit on purpose
  BytePiece(const char* text) : bytes(text, text + std::string_view(text).size()) {}  // NOLINT
  BytePiece(const Bytes& b) : bytes(b) {}  // NOLINT
  Bytes bytes;
};
Bytes B(std::initializer_list<BytePiece> pieces);
// One multipart entry: HeadersLen, DataLen, headers, data.
Bytes Entry(const Bytes& headers, const Bytes& data);
// "0A 1B ", for failure messages.
std::string Hex(const Bytes& bytes);

}  // namespace vel::testing
