// The binary encodings of WAP WSP that MMS messages are built from: the
// number and text primitives, the charset table and the well-known content
// types, shared by the MMS decoder (MMSCodec2) and writer (MMSWriter).
//
// Decoders take a bounded slice and advance it past what they consumed. They
// never read past the slice's end: a value that does not fit makes the
// decoder answer false and leaves the slice where it was. Texts are the one
// exception to that rule: a text without its terminator ends at the boundary,
// because a cut-off name is still worth more than none. Encoders append to a
// byte vector.
//
// Thread safety: no state; any thread.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/com/types.h"

using WspBytes = std::vector<std::uint8_t>;

// A bounded view consumed from the front.
class CWspSlice {
 public:
  CWspSlice() noexcept = default;
  CWspSlice(const std::uint8_t* data, std::size_t size) noexcept : m_data(data), m_size(data ? size : 0) {}

  const std::uint8_t* data() const noexcept { return m_data; }
  std::size_t size() const noexcept { return m_size; }
  bool empty() const noexcept { return m_size == 0; }

  bool Peek(std::uint8_t& byte) const noexcept;
  bool GetByte(std::uint8_t& byte) noexcept;
  // False, consuming nothing, when fewer than n bytes remain.
  bool Skip(std::size_t n) noexcept;
  void SkipToEnd() noexcept { Skip(m_size); }
  // Splits the first n bytes off into part; false (nothing consumed) when short.
  bool Take(std::size_t n, CWspSlice& part) noexcept;
  // Bytes consumed since base, which must be where this slice started.
  std::size_t ConsumedSince(const std::uint8_t* base) const noexcept {
    return static_cast<std::size_t>(m_data - base);
  }

 private:
  const std::uint8_t* m_data = nullptr;
  std::size_t m_size = 0;
};

// uintvar: 7 bits a byte, most significant first, 0x80 = more follows. Any
// number of bytes is accepted; a value beyond 32 bits reads as 0xFFFFFFFF.
bool GetUintvar(CWspSlice& in, std::uint32_t& value) noexcept;
// Short-integer (one byte 0x80..0xFF) or Long-integer (length 0..30, then
// that many bytes; lengths of 5 and more are stepped over and read as 0).
bool GetIntegerValue(CWspSlice& in, std::uint32_t& value) noexcept;
// 0..30 is the length, 31 quotes a uintvar length; 32 and above mean
// length 0 and consume nothing.
bool GetValueLength(CWspSlice& in, std::uint32_t& value) noexcept;
// Zero-terminated bytes, a leading quote (0x7F) dropped. Consumes the
// terminator; without one the text ends at the boundary. False only when
// nothing was left to read.
bool GetTextString(CWspSlice& in, std::string& text);

// Encoded-string-value as the MMS header carries it.
struct CWspEncodedString {
  bool hasText = false;      // the "no text" form (first byte 0 or >= 0x80) leaves this false
  bool hasCharset = false;   // Value-length form
  std::uint32_t charset = 0;  // MIBenum
  std::string bytes;         // up to the first zero byte
};
// False when the value runs past the slice (nothing consumed then).
bool GetEncodedString(CWspSlice& in, CWspEncodedString& value);

void PutUintvar(WspBytes& out, std::uint32_t value);
// Long-integer in the fewest bytes; 0 is 0x01 0x00.
void PutLongInteger(WspBytes& out, std::uint32_t value);
void PutValueLength(WspBytes& out, std::uint32_t value);
// The bytes and a terminator; a text whose first byte is 0x80 or above is
// quoted with 0x7F so a reader cannot take it for a number.
void PutTextString(WspBytes& out, std::string_view text);
void PutBytes(WspBytes& out, std::string_view bytes);

// The Windows code page of a charset MIBenum; false (code page 0, the ANSI
// code page) for a charset the table does not know.
bool CharsetToCodePage(std::uint32_t mibEnum, UINT& codePage) noexcept;
UINT CharsetToCodePage(std::uint32_t mibEnum) noexcept;
// Bytes in a code page as wide text; undecodable bytes give "".
std::u16string WspBytesToWide(std::string_view bytes, UINT codePage);

struct WspContentType {
  const char* mimeType;
  std::uint8_t code;
  const char* extensions;  // blank-separated, "" for none
};
extern const std::array<WspContentType, 73> kWspContentTypes;

// First row whose MIME type equals text without regard to case.
std::optional<std::uint8_t> WspContentTypeFromText(std::string_view text) noexcept;
// MIME type of the first row with this code; null when none has it.
const char* WspContentTypeToText(std::uint8_t code) noexcept;
// First row listing ext (no dot) among its extensions, without regard to case.
std::optional<std::uint8_t> WspContentTypeFromExtension(std::u16string_view ext) noexcept;
// The first extension listed for code ("" when none).
std::string_view WspContentTypeFirstExtension(std::uint8_t code) noexcept;
