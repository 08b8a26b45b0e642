// The picture value of a Windows Media file as the audio plugin hands it to a
// host (IVelItemAudio::ReadPicture, WritePicture), so both sides of the
// interface read and build it the same way: the body of an ID3v2 attached-picture frame (encoding byte, MIME type,
// picture type, description, image bytes), made from and turned back into the
// fields of the runtime's "WM/Picture" attribute.
//
// Body layout written by EncodePictureBody:
//   1 byte   encoding: 1 when a character of the description is above U+00FF, else 0
//   MIME     one byte per character (low byte of each unit), then 00
//   1 byte   picture type
//   text     encoding 0: one byte per character, then 00;
//            encoding 1: FF FE, UTF-16 little-endian, then 00 00
//   data     the image bytes, to the end
// DecodePictureBody also takes encoding 1 with FE FF (big-endian) or 00 00
// (empty description) and encoding 2 (big-endian without a mark); 3 (UTF-8)
// and anything else are refused. Eight-bit texts are read in the ANSI code
// page. Every scan stops at the end of the body: a text without its
// terminator, or a body shorter than its fixed fields, is refused.
//
// Thread safety: pure functions; any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace vel::wma {

struct PictureFields {
  std::u16string mimeType;
  std::uint8_t pictureType = 0;
  std::u16string description;
  std::vector<std::uint8_t> data;
};

// The body for these fields. Sizes are added in 64 bits; a body that cannot
// be allocated raises std::bad_alloc or std::length_error.
std::vector<std::uint8_t> EncodePictureBody(std::u16string_view mimeType, std::uint8_t pictureType,
                                            std::u16string_view description, std::span<const std::uint8_t> data);

// The fields of a body; nothing for a body that is malformed or refused.
std::optional<PictureFields> DecodePictureBody(std::span<const std::uint8_t> body);

// UTF-16 text stored in the given byte order, from the start up to its first
// zero unit or until fewer than two bytes remain; byteCount is the number of
// text bytes taken (the terminator not included).
std::u16string ReadUtf16Text(std::span<const std::uint8_t> bytes, bool bigEndian, std::size_t& byteCount);

}  // namespace vel::wma
