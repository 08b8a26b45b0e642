// Doubles to EXIF rationals, as the image writer stores exposure times,
// apertures and GPS angles: the denominator climbs a ladder of round numbers
// (5, 10, 50, 100, ... 10^9, then 2 and its doublings) until the value is
// within single-precision epsilon (2^-23) of a whole number of parts, so 0.004
// is 2/500 and 2.8 is 14/5, as cameras write them.
//
// The results always fit their 32-bit fields and never have a zero
// denominator: NaN is 0/1, magnitudes of 2^31 - 1 and above (infinity among
// them) saturate to (2^31 - 1)/1, and values too small for any denominator
// become 0/1.
//
// Thread safety: pure functions; any thread.
#pragma once

#include <cstdint>

namespace vel::image {

struct SignedRational {
  std::int32_t numerator;
  std::int32_t denominator;
};
struct UnsignedRational {
  std::uint32_t numerator;
  std::uint32_t denominator;
};

SignedRational Float2SRational(double value);
// A negative value keeps the low 32 bits of its negated numerator, as the
// signed conversion computes it (2^32 minus the magnitude).
UnsignedRational Float2URational(double value);

// The tolerance of the conversion and of the writer's "did it change" test.
constexpr double kRationalTolerance = 1.0 / 8388608.0;  // 2^-23

}  // namespace vel::image
