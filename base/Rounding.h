// Rounding helpers shared by every module: the conversions that fix the bits of the piece.
//
// Times, lengths, levels and indices become integers by rounding to the nearest integer with
// ties to even (never std::round, which rounds ties away from zero). Values become single
// precision only where they are stored into a float; these helpers make that step visible.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

namespace quom {

// Rounds v to the nearest float (the only rounding a store into a float performs).
constexpr float Single(double v) {
  return static_cast<float>(v);
}

// v rounded to the 24 significant bits of a float, to nearest with ties to even, and held as a
// double (Veltkamp's split: v * (2^29 + 1) less its own difference from v). That is the float
// nearest v, widened, for zero and for every v whose float is normal; below the normal range a
// float keeps fewer bits, and from 2^128 on it is infinite. Works on doubles and on vectors of
// them alike, with a multiply and two subtractions instead of two conversions.
template <typename D>
[[gnu::always_inline]] inline D SplitToFloat(const D& v) {
  const D c = v * 536870913.0;
  const D d = c - v;
  return c - d;
}

// Rounds v to the nearest integer, ties to even, saturating at the type's range. The piece never
// reaches the limits; saturation and NaN -> 0 only keep hostile input away from undefined
// behaviour.
template <typename Int>
inline Int RoundToEven(double v) {
  double r = std::nearbyint(v);  // default rounding mode: to nearest, ties to even
  if (!(r == r)) return 0;
  if (r <= static_cast<double>(std::numeric_limits<Int>::min()))
    return std::numeric_limits<Int>::min();
  if (r >= static_cast<double>(std::numeric_limits<Int>::max()))
    return std::numeric_limits<Int>::max();
  return static_cast<Int>(r);
}

inline int32_t RoundToInt32(double v) {
  return RoundToEven<int32_t>(v);
}
inline int16_t RoundToInt16(double v) {
  return RoundToEven<int16_t>(v);
}

}  // namespace quom
