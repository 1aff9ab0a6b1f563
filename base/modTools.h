// Deterministic noise generators: one chaotic recurrence, three ways of reading it, and a seed.
//
// Each generator steps its own double state with RndStep and uses only the state's fractional
// part. Every synthesis stage draws from one shared instance, so the order of draws across the
// whole program is part of the output.
#pragma once

namespace quom {

struct modTools {
  double UniState = 0.0;    // RndUniform's recurrence
  double DiffPrev = 0.0;    // fraction of the previous RndDiff draw
  double BrownLevel = 0.0;  // RndBrown's integrator (its last result)
  double BrownState = 0.0;  // RndBrown's recurrence
  double DiffState = 0.0;   // RndDiff's recurrence; never reseeded
};

// One step of the recurrence: grow by 1.314, fold back by 0.3141 above the ceiling.
// Two roundings (product, then sum): the fractional parts the generators read depend on them.
inline double RndStep(double s) {
  constexpr double kGrowth = 1.314;
  constexpr double kOffset = 1.737;
  constexpr double kCeiling = 983732.3456;  // a state exactly at the ceiling is not folded
  constexpr double kFold = 0.3141;
  s = s * kGrowth + kOffset;
  if (s > kCeiling) s = s * kFold;
  return s;
}

// Restarts RndUniform and RndBrown at x; takes one uniform draw for DiffPrev; leaves DiffState.
void RndSeed(modTools& t, double x);
// Uniform in [0, 1).
double RndUniform(modTools& t);
// Leaky integral (factor 0.99) of zero-mean uniform noise: slowly wandering, within +-49.5.
double RndBrown(modTools& t);
// First difference of a uniform sequence: in (-1, 1).
double RndDiff(modTools& t);

}  // namespace quom
