#include "platform/dshow/FrameSize.h"

#include <bit>

namespace vel::dshow {
namespace {

// Most significant bit first; a read past the end fails the reader for good.
class BitReader {
 public:
  explicit BitReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
  std::uint32_t Bits(int count) {
    std::uint32_t value = 0;
    for (int i = 0; i < count; ++i) {
      if (bit_ >= bytes_.size() * 8) {
        failed_ = true;
        return 0;
      }
      value = (value << 1) | ((bytes_[bit_ / 8] >> (7 - bit_ % 8)) & 1u);
      ++bit_;
    }
    return value;
  }
  bool Flag() { return Bits(1) != 0; }
  bool ok() const { return !failed_; }

 private:
  std::span<const std::uint8_t> bytes_;
  std::size_t bit_ = 0;
  bool failed_ = false;
};

constexpr int kRectangular = 0;
constexpr int kGrayscale = 3;

std::optional<FrameSize> ParseVol(BitReader r) {
  r.Bits(1);  // random_accessible_vol
  r.Bits(8);  // video_object_type_indication
  int verid = 1;
  if (r.Flag()) {  // is_object_layer_identifier
    verid = static_cast<int>(r.Bits(4));
    r.Bits(3);  // priority
  }
  if (r.Bits(4) == 0xF) r.Bits(16);  // aspect_ratio_info: extended PAR width and height
  if (r.Flag()) {                    // vol_control_parameters
    r.Bits(2);                       // chroma_format
    r.Bits(1);                       // low_delay
    if (r.Flag()) r.Bits(15 + 1 + 15 + 1 + 15 + 1 + 3 + 11 + 1 + 15 + 1);  // vbv_parameters
  }
  const int shape = static_cast<int>(r.Bits(2));
  if (shape == kGrayscale && verid != 1) r.Bits(4);  // video_object_layer_shape_extension
  r.Bits(1);                                         // marker
  const std::uint32_t resolution = r.Bits(16);       // vop_time_increment_resolution
  r.Bits(1);                                         // marker
  if (r.Flag()) {                                    // fixed_vop_rate
    const int bits = resolution > 1 ? std::bit_width(resolution - 1) : 1;
    r.Bits(bits);  // fixed_vop_time_increment
  }
  if (shape != kRectangular) return std::nullopt;  // binary, binary-only or grayscale shapes state no size
  r.Bits(1);
  const int width = static_cast<int>(r.Bits(13));
  r.Bits(1);
  const int height = static_cast<int>(r.Bits(13));
  if (!r.ok() || width == 0 || height == 0) return std::nullopt;
  return FrameSize{width, height};
}

}  // namespace

std::optional<FrameSize> Mpeg4VolFrameSize(std::span<const std::uint8_t> bytes) {
  for (std::size_t i = 0; i + 4 <= bytes.size(); ++i) {
    if (bytes[i] != 0 || bytes[i + 1] != 0 || bytes[i + 2] != 1 || (bytes[i + 3] & 0xF0) != 0x20) continue;
    if (auto size = ParseVol(BitReader(bytes.subspan(i + 4)))) return size;
  }
  return std::nullopt;
}

std::optional<FrameSize> H263FrameSize(std::span<const std::uint8_t> bytes) {
  static constexpr FrameSize kStandard[] = {{0, 0}, {128, 96}, {176, 144}, {352, 288}, {704, 576}, {1408, 1152}};
  BitReader r(bytes);
  if (r.Bits(22) != 0x20) return std::nullopt;  // picture start code
  r.Bits(8);                                     // temporal reference
  if (r.Bits(2) != 0b10) return std::nullopt;    // the fixed bits of PTYPE
  r.Bits(3);                                     // split screen, document camera, freeze release
  const std::uint32_t format = r.Bits(3);
  if (format >= 1 && format <= 5) return r.ok() ? std::optional(kStandard[format]) : std::nullopt;
  if (format != 7) return std::nullopt;
  // PLUSPTYPE: the format comes with the optional part (UFEP 1) only.
  if (r.Bits(3) != 1) return std::nullopt;
  const std::uint32_t plusFormat = r.Bits(3);
  if (plusFormat >= 1 && plusFormat <= 5) return r.ok() ? std::optional(kStandard[plusFormat]) : std::nullopt;
  if (plusFormat != 6) return std::nullopt;
  // Custom format: the rest of OPPTYPE (15 bits: 11 option flags and "1000"),
  // MPPTYPE (9 bits), CPM (1; with it PSBI, 2), then CPFMT.
  r.Bits(15);
  r.Bits(9);
  if (r.Flag()) r.Bits(2);
  r.Bits(4);  // pixel aspect ratio code
  const int width = static_cast<int>(r.Bits(9) + 1) * 4;
  r.Bits(1);
  const int height = static_cast<int>(r.Bits(9)) * 4;
  if (!r.ok() || height == 0) return std::nullopt;
  return FrameSize{width, height};
}

}  // namespace vel::dshow
