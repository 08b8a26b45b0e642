// Readings of Windows Media attribute values that the audio plugin turns into
// other property values: the rating and track number texts, and the 16-byte
// collection and content identifiers as GUID text.
//
// Thread safety: pure functions; any thread.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace vel::wma {

// A rating text of decimal digits only is its number (above 2,147,483,647:
// that number); any other text, the empty one included, is nothing (0).
// Which of the two applied is told by isNumber.
std::int32_t RatingFromText(std::u16string_view text, bool& isNumber) noexcept;

// A track number text read as a base-10 integer the way the C library reads
// a long of 32 bits: leading white space and a sign are allowed, reading stops
// at the first non-digit ("7/12" is 7), no digit gives 0, and a number beyond
// the range gives the range's end.
std::int32_t TrackNumberFromText(std::u16string_view text) noexcept;

// Exactly 16 bytes b0..b15 as "{b3b2b1b0-b5b4-b7b6-b8b9-b10..b15}" in
// lower-case hexadecimal; any other length gives an empty text.
std::u16string GuidTextFromBytes(std::span<const std::uint8_t> bytes);

}  // namespace vel::wma
