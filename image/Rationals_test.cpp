// Doubles to EXIF rationals: the camera-style results of the denominator
// ladder, and the limits (no zero denominator, no overflow) at the extremes.
#include "image/Rationals.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>

namespace {

using vel::image::Float2SRational;
using vel::image::Float2URational;

TEST(Rationals, LadderGivesTheRationalsCamerasWrite) {
  struct Row {
    double value;
    std::int64_t numerator;
    std::int64_t denominator;
  };
  const Row rows[] = {
      {0.5, 5, 10},
      {2.8, 14, 5},
      {4.5, 45, 10},
      {72.0, 72, 1},
      {0.004, 2, 500},
      {0.000125, 125, 1000000},
      {1.0 / 3.0, 3333333, 10000000},
      {1.0 / 30.0, 3333333, 100000000},
      {1.0 / 60.0, 16666666, 1000000000},
      {35.6895, 356895, 10000},
      {0.0, 0, 1},
      {1000000.5, 5000002, 5},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.value);
    const auto u = Float2URational(r.value);
    EXPECT_EQ(u.numerator, r.numerator);
    EXPECT_EQ(u.denominator, r.denominator);
    const auto s = Float2SRational(-r.value);
    EXPECT_EQ(s.numerator, -r.numerator);
    EXPECT_EQ(s.denominator, r.denominator);
  }
}

TEST(Rationals, ExtremesSaturateAndNeverGiveAZeroDenominator) {
  constexpr double kInf = std::numeric_limits<double>::infinity();
  constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
  struct Row {
    const char* name;
    double value;
    std::int64_t numerator;
    std::int64_t denominator;
  };
  const Row rows[] = {
      {"NaN", std::numeric_limits<double>::quiet_NaN(), 0, 1},
      {"too small for any denominator", 1e-300, 0, 1},
      {"denormal", std::numeric_limits<double>::denorm_min(), 0, 1},
      {"above 2^31", 5e9, kMax, 1},
      {"far above", 1e300, kMax, 1},
      {"infinity", kInf, kMax, 1},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    const auto s = Float2SRational(r.value);
    EXPECT_EQ(s.numerator, r.numerator);
    EXPECT_EQ(s.denominator, r.denominator);
    const auto u = Float2URational(r.value);
    EXPECT_EQ(u.numerator, static_cast<std::uint32_t>(r.numerator));
    EXPECT_EQ(u.denominator, static_cast<std::uint32_t>(r.denominator));
  }
  EXPECT_EQ(Float2SRational(-kInf).numerator, -kMax);
  // Every magnitude from tiny to huge: a denominator, and a value close to the input.
  for (double x = 1e-12; x < 1e12; x *= 1.37) {
    SCOPED_TRACE(x);
    const auto r = Float2SRational(x);
    ASSERT_GT(r.denominator, 0);
    ASSERT_GE(r.numerator, 0);
    const double back = static_cast<double>(r.numerator) / r.denominator;
    if (x >= 1e-6 && x < 2e9) {
      EXPECT_NEAR(back, x, x * 1e-6 + 1e-9);
    }
  }
}

}  // namespace
