// Raw AAC streams in ADTS framing, as the tag editor reads them for ".aac"
// files: an optional ID3v2 tag in front, then frames that each start with a
// 12-bit sync word and carry their own length. Such a stream has no tags; it
// gives its sample rate, duration and average bit rate.
//
// Every read goes through a bounded vel::ByteReader; a frame header that does
// not fit ends the walk.
//
// Thread safety: pure functions over caller-owned bytes; any thread.
#pragma once

#include <cstdint>
#include <optional>

#include "platform/base/ByteReader.h"

namespace vel::adts {

// Puts the reader at the start of its bytes, then past an ID3v2 tag when one
// is there. False for a tag whose size is malformed or runs past the end.
bool SkipId3v2Tag(ByteReader& reader) noexcept;

// Whether an ADTS sync word starts at the reader's position (which stays).
bool IsAdtsStream(const ByteReader& reader) noexcept;

struct AdtsProperties {
  int sampleRate = 0;         // of the first frame
  long long duration = 0;     // 100-nanosecond units, whole seconds
  int bitrate = 0;            // bits per second, clamped to int
};

// The properties of the frames from the reader's position on; nothing when
// there is no frame or the first one names no known sample rate.
std::optional<AdtsProperties> ReadAdtsProperties(const ByteReader& reader) noexcept;

}  // namespace vel::adts
