// RIFF/WAVE files built in code for the WAVE header and audio plugin tests,
// little-endian throughout.
//
// Thread safety: pure functions; any thread.
#pragma once

#include <cstdint>
#include <string>

#include "testing/FileBytes.h"

namespace vel::testing {

inline void Append(Bytes& b, const std::string& text) { b.insert(b.end(), text.begin(), text.end()); }
inline void U16(Bytes& b, std::uint16_t v) {
  b.push_back(static_cast<std::uint8_t>(v));
  b.push_back(static_cast<std::uint8_t>(v >> 8));
}
inline void U32(Bytes& b, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

struct Format {
  std::uint32_t chunkSize = 16;  // 14, 16, 18, 40, ...
  std::uint16_t channels = 2;
  std::uint32_t samplesPerSecond = 44100;
  std::uint32_t avgBytesPerSecond = 176400;
  std::uint16_t blockAlign = 4;
  std::uint16_t bitsPerSample = 16;
};

// "RIFF" size "WAVE" and a format chunk of f.chunkSize bytes (zero-filled past
// the fields, with the pad byte of an odd size).
inline Bytes Header(const Format& f) {
  Bytes b;
  Append(b, "RIFF");
  U32(b, 0);  // the RIFF size is not read
  Append(b, "WAVE");
  Append(b, "fmt ");
  U32(b, f.chunkSize);
  Bytes body;
  U16(body, 1);
  U16(body, f.channels);
  U32(body, f.samplesPerSecond);
  U32(body, f.avgBytesPerSecond);
  U16(body, f.blockAlign);
  U16(body, f.bitsPerSample);
  body.resize(f.chunkSize + (f.chunkSize & 1u), 0);
  b.insert(b.end(), body.begin(), body.end());
  return b;
}

// A chunk of size bytes (and the pad byte of an odd size).
inline void Chunk(Bytes& b, const std::string& name, std::uint32_t size) {
  Append(b, name);
  U32(b, size);
  b.insert(b.end(), size + (size & 1u), 0x55);
}

}  // namespace vel::testing
