// The binary encodings of WAP WSP that MMS messages are built from: the
// number and text primitives, the charset table and the well-known content
// types, shared by the MMS decoder (CMMSCodec2) and writer (CMMSWriter).
//
// Decoders read from a vel::ByteReader and advance it past what they
// consumed. They never read past the reader's end: a value that does not fit
// makes the decoder answer false and leaves the reader where it was (and not
// failed), so a caller may try another reading of the same bytes. Texts are
// the one exception to that rule: a text without its terminator ends at the
// boundary, because a cut-off name is still worth more than none. Encoders
// append through a vel::ByteWriter.
//
// Thread safety: no state; any thread.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/base/ByteReader.h"
#include "platform/base/ByteWriter.h"
#include "platform/com/types.h"

namespace vel::wsp {

// Runs read on a copy of in and moves in past what it consumed only when read
// answers true and every read on the copy fitted; otherwise in stays as it was.
template <class Read>
bool ReadAll(ByteReader& in, Read&& read) {
  ByteReader probe = in;
  if (!read(probe) || !probe.ok()) return false;
  in = probe;
  return true;
}

// uintvar: 7 bits a byte, most significant first, 0x80 = more follows. Any
// number of bytes is accepted; a value beyond 32 bits reads as 0xFFFFFFFF.
bool GetUintvar(ByteReader& in, std::uint32_t& value) noexcept;
// Short-integer (one byte 0x80..0xFF) or Long-integer (length 0..30, then
// that many bytes; lengths of 5 and more are stepped over and read as 0).
bool GetIntegerValue(ByteReader& in, std::uint32_t& value) noexcept;
// 0..30 is the length, 31 quotes a uintvar length; 32 and above mean
// length 0 and consume nothing.
bool GetValueLength(ByteReader& in, std::uint32_t& value) noexcept;
// Zero-terminated bytes, a leading quote (0x7F) dropped. Consumes the
// terminator; without one the text ends at the boundary. False only when
// nothing was left to read.
bool GetTextString(ByteReader& in, std::string& text);

// Encoded-string-value as the MMS header carries it.
struct EncodedString {
  bool hasText = false;       // the "no text" form (first byte 0 or >= 0x80) leaves this false
  bool hasCharset = false;    // Value-length form
  std::uint32_t charset = 0;  // MIBenum
  std::string bytes;          // up to the first zero byte
};
// False when the value runs past the reader's end (nothing consumed then).
bool GetEncodedString(ByteReader& in, EncodedString& value);

void PutUintvar(ByteWriter& out, std::uint32_t value);
// Long-integer in the fewest bytes; 0 is 0x01 0x00.
void PutLongInteger(ByteWriter& out, std::uint32_t value);
void PutValueLength(ByteWriter& out, std::uint32_t value);
// The bytes and a terminator; a text whose first byte is 0x80 or above is
// quoted with 0x7F so a reader cannot take it for a number.
void PutTextString(ByteWriter& out, std::string_view text);

// Bytes in a code page as wide text; undecodable bytes give "".
std::u16string BytesToWide(std::string_view bytes, UINT codePage);

// First row of kWspContentTypes whose MIME type equals text without regard to case.
std::optional<std::uint8_t> ContentTypeFromText(std::string_view text) noexcept;
// MIME type of the first row with this code; null when none has it.
const char* ContentTypeToText(std::uint8_t code) noexcept;
// First row listing ext (no dot) among its extensions, without regard to case.
std::optional<std::uint8_t> ContentTypeFromExtension(std::u16string_view ext) noexcept;
// The first extension listed for code ("" when none).
std::string_view ContentTypeFirstExtension(std::uint8_t code) noexcept;

}  // namespace vel::wsp

// The Windows code page of a charset MIBenum; false (code page 0, the ANSI
// code page) for a charset the table does not know.
bool CharsetToCodePage(std::uint32_t mibEnum, UINT& codePage) noexcept;
UINT CharsetToCodePage(std::uint32_t mibEnum) noexcept;

struct WspContentType {
  const char* mimeType;
  std::uint8_t code;
  const char* extensions;  // blank-separated, "" for none
};
extern const std::array<WspContentType, 73> kWspContentTypes;
