// The split rounding against the conversion to float it stands in for: the same bits wherever the
// float is normal or zero, ties and carries into the next power of two included; and where it
// differs, below the normal range and past the largest float, which its users must keep away from.
#include "base/Rounding.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>

namespace quom {
namespace {

uint64_t Bits(double v) {
  uint64_t b;
  std::memcpy(&b, &v, sizeof b);
  return b;
}

double FromBits(uint64_t b) {
  double v;
  std::memcpy(&v, &b, sizeof v);
  return v;
}

double Converted(double v) {
  return static_cast<double>(static_cast<float>(v));
}

// A double of exponent e (2^e <= |v| < 2^(e+1)) with the given 52 fraction bits.
double Make(bool negative, int e, uint64_t fraction) {
  return FromBits((negative ? uint64_t{1} << 63 : 0) | (static_cast<uint64_t>(e + 1023) << 52) |
                  (fraction & ((uint64_t{1} << 52) - 1)));
}

TEST(SplitToFloat, MatchesTheConversionWhereTheFloatIsNormal) {
  EXPECT_EQ(Bits(SplitToFloat(0.0)), Bits(0.0));
  EXPECT_EQ(Bits(SplitToFloat(-0.0)), Bits(-0.0));
  std::mt19937_64 random(7);
  constexpr uint64_t kDropped = (uint64_t{1} << 29) - 1;  // the 29 bits a float has no room for
  for (int i = 0; i < 400000; ++i) {
    const uint64_t fraction = random();
    // Every exponent of a normal float; the low 29 bits random, just below, at and above a tie.
    const int e = -126 + static_cast<int>(random() % 254);
    const uint64_t ends[] = {fraction, (fraction & ~kDropped) | (kDropped >> 1),
                             (fraction & ~kDropped) | ((kDropped >> 1) + 1),
                             (fraction & ~kDropped) | ((kDropped >> 1) + 2)};
    for (const uint64_t f : ends) {
      const double v = Make(i % 2 == 1, e, f);
      ASSERT_EQ(Bits(SplitToFloat(v)), Bits(Converted(v))) << std::hexfloat << v;
    }
  }
  // Ties with all 23 kept bits set carry into the next power of two; the edges of the range.
  for (const int e : {-126, -1, 0, 52, 126}) {
    for (const bool negative : {false, true}) {
      const double v = Make(negative, e, ((uint64_t{1} << 23) - 1) << 29 | (uint64_t{1} << 28));
      EXPECT_EQ(Bits(SplitToFloat(v)), Bits(Converted(v))) << std::hexfloat << v;
      EXPECT_EQ(std::fabs(SplitToFloat(v)), std::ldexp(1.0, e + 1));
    }
  }
  for (const double v :
       {static_cast<double>(FLT_MIN), static_cast<double>(FLT_MAX),
        std::nextafter(static_cast<double>(FLT_MIN), 1.0),
        static_cast<double>(FLT_MAX) + std::ldexp(1.0, 103) - std::ldexp(1.0, 80)}) {
    EXPECT_EQ(Bits(SplitToFloat(v)), Bits(Converted(v))) << std::hexfloat << v;
  }
}

TEST(SplitToFloat, KeepsBitsAFloatBelowTheNormalRangeLosesAndNeverOverflows) {
  // A float below 2^-126 ends at 2^-149; the split still keeps 24 bits.
  const double tiny = std::ldexp(1.0, -140) + std::ldexp(1.0, -160);
  EXPECT_EQ(Converted(tiny), std::ldexp(1.0, -140));
  EXPECT_EQ(SplitToFloat(tiny), tiny);
  // A multiple of 2^-149 is a float there already, and both leave it alone.
  const double grid = std::ldexp(12345.0, -149);
  EXPECT_EQ(SplitToFloat(grid), grid);
  EXPECT_EQ(Converted(grid), grid);
  // Past the largest float the conversion gives infinity, the split a finite double.
  const double huge = std::ldexp(1.0, 130);
  EXPECT_TRUE(std::isinf(Converted(huge)));
  EXPECT_EQ(SplitToFloat(huge), huge);
}

}  // namespace
}  // namespace quom
