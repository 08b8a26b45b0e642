#include "audio/wave/WaveHeader.h"

#include <cstring>

namespace {

// A bounded little-endian reader: every read checks the bytes left and a
// failed read leaves the position where it was.
class LittleEndianReader {
 public:
  explicit LittleEndianReader(std::span<const std::uint8_t> bytes) noexcept : bytes_(bytes) {}

  std::optional<std::uint32_t> U32() noexcept {
    if (Left() < 4) return std::nullopt;
    const std::uint8_t* p = bytes_.data() + position_;
    position_ += 4;
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
  }
  // The next four bytes equal tag (taken as 8-bit characters, compared exactly).
  bool Tag(const char (&tag)[5]) noexcept {
    if (Left() < 4 || std::memcmp(bytes_.data() + position_, tag, 4) != 0) return false;
    position_ += 4;
    return true;
  }
  // A view of the next count bytes, consumed; nothing when fewer are left.
  std::optional<std::span<const std::uint8_t>> Take(std::uint64_t count) noexcept {
    if (Left() < count) return std::nullopt;
    auto part = bytes_.subspan(static_cast<std::size_t>(position_), static_cast<std::size_t>(count));
    position_ += count;
    return part;
  }
  // Steps over count bytes; false (at the end) when fewer are left.
  bool Skip(std::uint64_t count) noexcept {
    if (Left() < count) {
      position_ = bytes_.size();
      return false;
    }
    position_ += count;
    return true;
  }
  std::uint64_t Left() const noexcept { return bytes_.size() - position_; }

 private:
  std::span<const std::uint8_t> bytes_;
  std::uint64_t position_ = 0;
};

std::uint16_t U16At(std::span<const std::uint8_t> b, std::size_t at) noexcept {
  return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}
std::uint32_t U32At(std::span<const std::uint8_t> b, std::size_t at) noexcept {
  return static_cast<std::uint32_t>(b[at]) | (static_cast<std::uint32_t>(b[at + 1]) << 8) |
         (static_cast<std::uint32_t>(b[at + 2]) << 16) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

// A chunk's body is followed by a pad byte when its size is odd.
std::uint64_t Padded(std::uint32_t size) noexcept { return static_cast<std::uint64_t>(size) + (size & 1u); }

}  // namespace

WaveHeaderInfo ReadWaveHeader(std::span<const std::uint8_t> bytes) noexcept {
  WaveHeaderInfo info;
  LittleEndianReader in(bytes);
  if (!in.Tag("RIFF") || !in.U32() || !in.Tag("WAVE") || !in.Tag("fmt ")) return info;
  const std::optional<std::uint32_t> fmtSize = in.U32();
  // 14 bytes: WAVEFORMAT; 16: PCMWAVEFORMAT; more: WAVEFORMATEX and its extensions.
  if (!fmtSize || (*fmtSize < 16 && *fmtSize != 14)) return info;
  const std::uint32_t fieldBytes = *fmtSize == 14 ? 14 : 16;
  const std::optional<std::span<const std::uint8_t>> fields = in.Take(fieldBytes);
  if (!fields) return info;

  const std::uint32_t samplesPerSecond = U32At(*fields, 4);
  info.avgBytesPerSecond = U32At(*fields, 8);
  info.bitrate = info.avgBytesPerSecond * 8u;
  if (fieldBytes == 16) {
    const std::uint16_t bitsPerSample = U16At(*fields, 14);
    if (info.bitrate == 0) info.bitrate = static_cast<std::uint32_t>(bitsPerSample) * samplesPerSecond;
    info.sampleRate = samplesPerSecond;
  }
  info.formatRead = true;
  if (info.avgBytesPerSecond == 0) return info;

  // The rest of the format chunk, then every chunk up to "data".
  if (!in.Skip(Padded(*fmtSize) - fieldBytes)) return info;
  while (in.Left() >= 8) {
    if (in.Tag("data")) {
      const std::uint32_t dataSize = *in.U32();
      info.duration = static_cast<double>(dataSize) / static_cast<double>(info.avgBytesPerSecond);
      return info;
    }
    in.U32();  // the chunk's name
    const std::uint32_t size = *in.U32();
    if (!in.Skip(Padded(size))) break;
  }
  return info;
}
