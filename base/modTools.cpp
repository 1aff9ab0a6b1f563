// Deterministic noise generators: uniform, brown and first-difference draws from RndStep.
#include "base/modTools.h"

#include <cmath>

namespace quom {

void RndSeed(modTools& t, double x) {
  t.UniState = x;
  t.BrownState = x;
  t.DiffPrev = RndUniform(t);  // a full draw: UniState has stepped once when this returns
  t.BrownLevel = 0.0;
}

double RndUniform(modTools& t) {
  t.UniState = RndStep(t.UniState);
  return t.UniState - std::floor(t.UniState);
}

double RndBrown(modTools& t) {
  t.BrownState = RndStep(t.BrownState);
  // The old level is added to the whole state before its whole part is removed, so the sum is
  // rounded at the state's magnitude. Keep this order.
  t.BrownLevel = (((t.BrownLevel + t.BrownState) - std::floor(t.BrownState)) - 0.5) * 0.99;
  return t.BrownLevel;
}

double RndDiff(modTools& t) {
  t.DiffState = RndStep(t.DiffState);
  const double f = t.DiffState - std::floor(t.DiffState);
  const double r = f - t.DiffPrev;
  t.DiffPrev = f;
  return r;
}

}  // namespace quom
