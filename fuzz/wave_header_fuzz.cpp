// libFuzzer target for the WAVE header reader: arbitrary bytes as a file's
// whole content. The reader takes bytes, so no file is needed; anything it
// answers must be consistent with what it read.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "audio/wave/WaveHeader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const vel::wave::WaveHeaderInfo info = vel::wave::ReadWaveHeader(std::span<const std::uint8_t>(data, size));
  // A duration needs a byte rate, and both need a format chunk.
  if (info.duration && (info.avgBytesPerSecond == 0 || !info.formatRead)) std::abort();
  if (!info.formatRead && (info.bitrate != 0 || info.sampleRate != 0)) std::abort();
  return 0;
}
