#include "audio/adts/AdtsStream.h"

#include <array>
#include <cmath>
#include <limits>

namespace vel::adts {
namespace {

constexpr std::uint64_t kHundredNanosPerSecond = 10'000'000;

constexpr std::array<int, 12> kSampleRates = {96000, 88200, 64000, 48000, 44100, 32000,
                                              24000, 22050, 16000, 12000, 11025, 8000};

bool IsSyncWord(std::uint16_t word) noexcept { return (word & 0xFFF6) == 0xFFF0; }

}  // namespace

bool SkipId3v2Tag(ByteReader& reader) noexcept {
  reader.Seek(0);
  const auto bytes = reader.bytes();
  if (bytes.size() < 3 || bytes[0] != 'I' || bytes[1] != 'D' || bytes[2] != '3') return true;
  reader.Skip(6);  // "ID3", version, revision, flags
  const auto sizeBytes = reader.Bytes(4);
  if (!reader.ok()) return false;
  // A "syncsafe" size: seven bits per byte.
  std::uint64_t size = 0;
  for (std::uint8_t b : sizeBytes) {
    if ((b & 0x80) != 0) return false;
    size = (size << 7) | b;
  }
  if (size > reader.remaining()) {
    reader.Seek(0);
    return false;
  }
  reader.Skip(size);
  return true;
}

bool IsAdtsStream(const ByteReader& reader) noexcept {
  ByteReader peek = reader;
  const std::uint16_t sync = peek.U16();
  return peek.ok() && IsSyncWord(sync);
}

std::optional<AdtsProperties> ReadAdtsProperties(const ByteReader& reader) noexcept {
  ByteReader frames = reader;
  std::uint64_t count = 0;
  std::uint64_t totalBytes = 0;
  int rate = 0;
  for (;;) {
    // Seven header bytes: the sync word, then profile, rate index and the
    // 13-bit frame length (header included).
    ByteReader header = frames;
    const std::uint16_t sync = header.U16();
    const std::uint8_t b2 = header.U8();
    const std::uint8_t b3 = header.U8();
    const std::uint8_t b4 = header.U8();
    const std::uint8_t b5 = header.U8();
    header.U8();
    if (!header.ok() || !IsSyncWord(sync)) break;
    if (count == 0) {
      const unsigned index = (b2 >> 2) & 15;
      if (index < kSampleRates.size()) rate = kSampleRates[index];
    }
    const std::uint64_t frameLength = ((b3 & 3u) << 11) | (static_cast<unsigned>(b4) << 3) | (static_cast<unsigned>(b5) >> 5);
    ++count;
    totalBytes += frameLength;
    if (frameLength == 0) break;
    frames.Skip(frameLength);
    if (!frames.ok()) break;
  }
  if (count == 0 || rate == 0) return std::nullopt;
  const float framesPerSecond = static_cast<float>(rate) / 1024.0f;
  const float seconds = std::floor(static_cast<float>(count) / framesPerSecond);
  const double bytesPerSecond =
      static_cast<double>(totalBytes) / static_cast<double>(count) * static_cast<double>(framesPerSecond);
  const double bits = std::trunc(bytesPerSecond) * 8.0;

  AdtsProperties properties;
  properties.sampleRate = rate;
  properties.duration = static_cast<long long>(static_cast<double>(seconds) * kHundredNanosPerSecond);
  properties.bitrate = bits >= std::numeric_limits<int>::max() ? std::numeric_limits<int>::max() : static_cast<int>(bits);
  return properties;
}

}  // namespace vel::adts
