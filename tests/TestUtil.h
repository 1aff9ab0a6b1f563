// Helpers for comparing against published figures.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "base/Simd.h"

namespace quom::test {

// Passes when `actual` rounds to `printed` at the given number of decimals.
inline ::testing::AssertionResult MatchesDecimals(double actual, double printed, int decimals) {
  const double half_ulp = 0.5 * std::pow(10.0, -decimals);
  if (std::fabs(actual - printed) <= half_ulp * 1.0000001) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << actual << " does not round to " << printed << " at " << decimals << " decimals";
}

// Passes when `actual` rounds to `printed` at the given number of significant digits.
inline ::testing::AssertionResult MatchesDigits(double actual, double printed, int digits = 9) {
  if (printed == 0.0) {
    if (actual == 0.0) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << actual << " is not 0";
  }
  const int exponent = static_cast<int>(std::floor(std::log10(std::fabs(printed))));
  const double half_ulp = 0.5 * std::pow(10.0, exponent - digits + 1);
  if (std::fabs(actual - printed) <= half_ulp * 1.0000001) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << std::scientific << actual << " does not round to "
                                       << printed << " at " << digits << " significant digits";
}

// The vector paths to check: the processor's, and one of another architecture, which the kernels
// must run as plain scalar code.
inline std::vector<SimdPath> PathsToCheck() {
  std::vector<SimdPath> paths = AvailableSimdPaths();
#if defined(__aarch64__)
  paths.push_back(SimdPath::kSse2);
#else
  paths.push_back(SimdPath::kNeon);
#endif
  return paths;
}

}  // namespace quom::test
