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
