#include "image/Rationals.h"

#include <cmath>
#include <iterator>

namespace vel::image {
namespace {

constexpr std::int64_t kLadder[] = {5,      10,      50,      100,      500,       1000,       5000,       10000,
                                    50000,  100000,  500000,  1000000,  10000000,  100000000,  1000000000, 2};
constexpr std::int64_t kMax32 = 2147483647;
// Doubling stops here: den × value stays far inside 64 bits for every value
// that reaches the doubling (those below 1).
constexpr std::int64_t kMaxDenominator = std::int64_t{1} << 61;

struct Rational64 {
  std::int64_t numerator;
  std::int64_t denominator;
};

Rational64 Convert(double x) {
  if (std::isnan(x)) return {0, 1};
  const std::int64_t sign = x < 0 ? -1 : 1;
  const double a = std::fabs(x);
  if (a >= static_cast<double>(kMax32)) return {sign * kMax32, 1};
  std::int64_t den = 1;
  std::size_t step = 0;
  double v = a;
  while (v - std::floor(v) > v * kRationalTolerance) {
    if (step < std::size(kLadder)) {
      den = kLadder[step];
    } else {
      if (den >= kMaxDenominator) break;
      den *= 2;
    }
    ++step;
    v = static_cast<double>(den) * a;
  }
  std::int64_t num = static_cast<std::int64_t>(std::floor(static_cast<double>(den) * a));
  while (num > kMax32 || den > kMax32) {
    num >>= 1;
    den >>= 1;
  }
  if (num == 0 || den == 0) return {0, 1};
  return {num * sign, den};
}

}  // namespace

SignedRational Float2SRational(double value) {
  const Rational64 r = Convert(value);
  return {static_cast<std::int32_t>(r.numerator), static_cast<std::int32_t>(r.denominator)};
}

UnsignedRational Float2URational(double value) {
  const Rational64 r = Convert(value);
  return {static_cast<std::uint32_t>(r.numerator), static_cast<std::uint32_t>(r.denominator)};
}

}  // namespace vel::image
