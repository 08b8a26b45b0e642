// The text forms of MP4 items: how an item's text payload is decoded (the
// encodings writers have used over the years) and how "3/12"-style number
// pairs are read from text.
//
// Thread safety: pure functions; any thread.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace vel::mp4 {

// An item's text: UTF-8 when it holds a UTF-8 multibyte sequence, else the
// ANSI code page when it is 7-bit text (0xA9 allowed) ended by zero bytes
// only, else UTF-16LE; each up to its first zero.
std::u16string DecodeItemText(std::span<const std::uint8_t> bytes);

// "3/12" -> {3, 12}; "7" -> {7, -1}; "3 / 12" -> {3, -1}; "Rock" -> {-1, -1}.
// Numbers beyond 32 bits signed count as absent.
struct NumberPair {
  std::int64_t number = -1;
  std::int64_t total = -1;
};
NumberPair ParseNumberPair(std::u16string_view text) noexcept;

}  // namespace vel::mp4
