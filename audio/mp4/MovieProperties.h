// The properties an MP4 file's structure gives rather than its items: the
// movie's duration (mvhd), a track's sample rate (its media header's
// timescale, mdhd) and the average bit rate of the media data.
//
// Thread safety: pure functions; any thread.
#pragma once

#include <cstdint>
#include <optional>

#include "platform/base/ByteReader.h"

namespace vel::mp4 {

inline constexpr std::uint64_t kHundredNanosPerSecond = 10'000'000;

// The duration in 100-nanosecond units from an mvhd body; nothing for a
// version this reader does not know (no duration rather than a wrong one) or
// a body too short for its version. A timescale of 0 gives 0.
std::optional<long long> MovieDuration(ByteReader mvhd) noexcept;

// The timescale of an mdhd body (version 0 or 1), clamped to int.
std::optional<int> TrackTimescale(ByteReader mdhd) noexcept;

// Bits per second of mdatSize bytes played over durationUnits (100 ns),
// rounded to the nearest (an exact half goes down), clamped to int; 0 for a
// duration that is not positive.
int MediaBitrate(std::uint64_t mdatSize, long long durationUnits) noexcept;

}  // namespace vel::mp4
