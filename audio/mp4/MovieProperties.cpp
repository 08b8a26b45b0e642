#include "audio/mp4/MovieProperties.h"

#include <algorithm>
#include <limits>

namespace vel::mp4 {
namespace {

int ClampToInt(std::uint64_t value) noexcept {
  return value > static_cast<std::uint64_t>(std::numeric_limits<int>::max()) ? std::numeric_limits<int>::max()
                                                                             : static_cast<int>(value);
}

// value * scale / divisor without overflow, rounded down; saturates.
std::uint64_t MulDiv(std::uint64_t value, std::uint64_t scale, std::uint64_t divisor) noexcept {
  const unsigned __int128 product = static_cast<unsigned __int128>(value) * scale;
  const unsigned __int128 quotient = product / divisor;
  return quotient > std::numeric_limits<std::uint64_t>::max() ? std::numeric_limits<std::uint64_t>::max()
                                                              : static_cast<std::uint64_t>(quotient);
}

}  // namespace

std::optional<long long> MovieDuration(ByteReader mvhd) noexcept {
  const std::uint8_t version = mvhd.U8();
  mvhd.Skip(3);  // flags
  std::uint32_t timescale = 0;
  std::uint64_t duration = 0;
  if (version == 1) {
    mvhd.Skip(16);  // creation and modification times
    timescale = mvhd.U32();
    duration = mvhd.U64();
  } else if (version == 0) {
    mvhd.Skip(8);
    timescale = mvhd.U32();
    duration = mvhd.U32();
  } else {
    return std::nullopt;
  }
  if (!mvhd.ok()) return std::nullopt;
  const std::uint64_t units = timescale == 0 ? 0 : MulDiv(duration, kHundredNanosPerSecond, timescale);
  return static_cast<long long>(std::min<std::uint64_t>(units, std::numeric_limits<long long>::max()));
}

std::optional<int> TrackTimescale(ByteReader mdhd) noexcept {
  const std::uint8_t version = mdhd.U8();
  mdhd.Skip(3);
  mdhd.Skip(version == 0 ? 8 : 16);
  const std::uint32_t timescale = mdhd.U32();
  if (!mdhd.ok() || version > 1) return std::nullopt;
  return ClampToInt(timescale);
}

int MediaBitrate(std::uint64_t mdatSize, long long durationUnits) noexcept {
  if (durationUnits <= 0) return 0;
  // bits * 10^7 / units, rounded to the nearest; an exact half goes down.
  const auto units = static_cast<unsigned __int128>(durationUnits);
  const unsigned __int128 scaled = static_cast<unsigned __int128>(mdatSize) * 8 * kHundredNanosPerSecond;
  unsigned __int128 quotient = scaled / units;
  if ((scaled % units) * 2 > units) ++quotient;
  const std::uint64_t bitrate = quotient > std::numeric_limits<std::uint64_t>::max()
                                    ? std::numeric_limits<std::uint64_t>::max()
                                    : static_cast<std::uint64_t>(quotient);
  return ClampToInt(bitrate);
}

}  // namespace vel::mp4
