// The header of a RIFF/WAVE file as the audio plugin reads it: the format
// chunk's byte rate, bit rate and sample rate, and the play time that the
// "data" chunk's size gives at that byte rate.
//
// The format chunk must follow "RIFF" <size> "WAVE" directly. Its fields are
// read from the first 14 bytes (format tag, channels, samples per second,
// average bytes per second, block align) and, for chunks of 16 bytes or more,
// the bits per sample after them; the rest of a longer chunk (cbSize and the
// extension) is stepped over whole. Chunks between the format chunk and
// "data" ("fact", "LIST", ...) are stepped over too, each with the pad byte
// that follows an odd size, so files as common encoders write them get a
// duration. The RIFF size is not trusted: the file's own end bounds every read.
//
// A file that ends inside a part gives what the parts before it gave: no
// complete format chunk, nothing; no "data" header, no duration.
//
// Thread safety: a pure function over caller-owned bytes; any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

namespace vel::wave {

struct WaveHeaderInfo {
  bool formatRead = false;             // a complete format chunk of a size this reader knows
  std::uint32_t avgBytesPerSecond = 0;
  std::uint32_t bitrate = 0;           // avg × 8, or bits per sample × sample rate when that is 0 (32-bit unsigned)
  std::uint32_t sampleRate = 0;        // 0 for a 14-byte format chunk, which has no bits per sample
  std::optional<double> duration;      // data bytes ÷ avgBytesPerSecond, seconds; only when avg ≠ 0
};

WaveHeaderInfo ReadWaveHeader(std::span<const std::uint8_t> bytes) noexcept;

}  // namespace vel::wave
