#include "audio/wave/WaveHeader.h"

#include <string_view>

#include "platform/base/ByteReader.h"

namespace vel::wave {
namespace {

// A chunk's body is followed by a pad byte when its size is odd.
std::uint64_t Padded(std::uint32_t size) noexcept { return static_cast<std::uint64_t>(size) + (size & 1u); }

}  // namespace

WaveHeaderInfo ReadWaveHeader(std::span<const std::uint8_t> bytes) noexcept {
  WaveHeaderInfo info;
  ByteReader in(bytes, ByteOrder::kLittle);
  // Tags compare exactly; a short read gives an empty text, which matches none.
  if (in.Chars(4) != "RIFF") return info;
  in.U32();  // the RIFF size: the file's end bounds the reads instead
  if (in.Chars(4) != "WAVE" || in.Chars(4) != "fmt ") return info;
  const std::uint32_t fmtSize = in.U32();
  // 14 bytes: WAVEFORMAT; 16: PCMWAVEFORMAT; more: WAVEFORMATEX and its extensions.
  if (!in.ok() || (fmtSize < 16 && fmtSize != 14)) return info;
  const std::uint32_t fieldBytes = fmtSize == 14 ? 14 : 16;
  ByteReader fields = in.Take(fieldBytes);
  if (!in.ok()) return info;

  fields.Skip(4);  // format tag, channels
  const std::uint32_t samplesPerSecond = fields.U32();
  info.avgBytesPerSecond = fields.U32();
  info.bitrate = info.avgBytesPerSecond * 8u;
  if (fieldBytes == 16) {
    fields.Skip(2);  // block align
    const std::uint16_t bitsPerSample = fields.U16();
    if (info.bitrate == 0) info.bitrate = static_cast<std::uint32_t>(bitsPerSample) * samplesPerSecond;
    info.sampleRate = samplesPerSecond;
  }
  info.formatRead = true;
  if (info.avgBytesPerSecond == 0) return info;

  // The rest of the format chunk, then every chunk up to "data".
  in.Skip(Padded(fmtSize) - fieldBytes);
  while (in.ok() && in.remaining() >= 8) {
    const std::string_view name = in.Chars(4);
    const std::uint32_t size = in.U32();
    if (name == "data") {
      info.duration = static_cast<double>(size) / static_cast<double>(info.avgBytesPerSecond);
      return info;
    }
    in.Take(Padded(size));  // the chunk's body, unread
  }
  return info;
}

}  // namespace vel::wave
