// PlateRun: the plate stepped many samples at a time by the widest sweep (units/plate/PlateSweep.h)
// that fits it, to the bit the same as PlateStep.
#include <cstdint>

#include "base/Dispatch.h"
#include "units/plate/PlateSweep.h"
#include "units/plate/SkewedPlate.h"
#include "units/plate/modPlate.h"

namespace quom {
namespace {

// The plate stepped by the sweep of kW x N lanes, if a slot of them fits: at most one cell of a
// row (L <= W) and whole blocks of rows (L divides H; both are powers of two). Beyond W / 2 the
// partly empty slots at both ends of a sweep and the lanes that wrap around took too large a share
// on the bank's plates.
template <int kW, int N>
[[gnu::always_inline]] inline bool RunIfFits(modPlate& p, float threshold, double* out,
                                             int32_t count) {
  constexpr int32_t L = kW * N;
  if (L > p.PlateWidth / 2 || L > p.PlateHeight) return false;
  plate::SkewedPlate s(p.PlateWidth, p.PlateHeight, kW, N);
  s.Load(p);
  plate::PlateSweep<kW, N> sweep(s, p.PlateKeep, p.PlateSpread);
  sweep.Run(p.PlateSteps, threshold, out, count);
  s.Save(p);
  return true;
}

// The widest sweep that fits, from vectors of kW lanes down: four or two vectors per slot at the
// register's full width, else one, else one of half the width, and so on. Every plate has one
// (W >= 4, H >= 2).
template <int kFull, int kW>
[[gnu::always_inline]] inline bool RunWidest(modPlate& p, float threshold, double* out,
                                             int32_t count) {
  if constexpr (kW == kFull) {
    // Four vectors to a slot halve the shuffles per cell again, but hold so many registers that
    // they only pay where a slot takes at most a quarter of a row.
    if (4 * kW <= p.PlateWidth / 4 && RunIfFits<kW, 4>(p, threshold, out, count)) return true;
    if (RunIfFits<kW, 2>(p, threshold, out, count)) return true;
  }
  if (RunIfFits<kW, 1>(p, threshold, out, count)) return true;
  if constexpr (kW > 2) {
    return RunWidest<kFull, kW / 2>(p, threshold, out, count);
  } else {
    return false;
  }
}

struct PlateKernel {
  using Signature = void(modPlate&, float, double*, int32_t);

  template <typename T>
  [[gnu::always_inline]] static inline void Run(modPlate& p, float threshold, double* out,
                                                int32_t count) {
    if constexpr (T::kDoubles > 1) {
      if (RunWidest<T::kDoubles, T::kDoubles>(p, threshold, out, count)) return;
    }
    for (int32_t n = 0; n < count; ++n)
      out[n] = PlateStep(p, threshold);
  }
};

}  // namespace

void PlateRun(modPlate& p, float threshold, double* out, int32_t count, SimdPath path) {
  if (count <= 0) return;
  // A plate without cells or steps only reads its pick-up cell: PlateStep does that.
  if (p.PlateDisp.empty() || p.PlateSteps < 1) path = SimdPath::kScalar;
  Dispatch<PlateKernel>(path, p, threshold, out, count);
}

}  // namespace quom
