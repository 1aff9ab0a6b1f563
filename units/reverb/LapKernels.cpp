// The reverb computed a lap at a time, to the bit the same as FxReverb.
//
// The line cell read at frame j, y(j), was last read at frame j - 8192 and halved; since then the
// scatters of frames j - 8191 .. j have added TapIn(j + 1 - d) * gain through every tap of delay
// d (a delay of 0 lands with the delay 8192, at frame j - 8191). In the order the frames add them
// that is: start from half of y(j - 8192), then the taps by delay descending (0 counted as 8192),
// taps of one delay by number. Each addition is the double sum of the float cell and an exact
// product, rounded to float, as before. So y(j) depends on the lap before and on TapIn alone, and
// the 8192 frames of a lap can be computed together.
//
// Likewise the wet frame m receives y(m - d) * gain * (1 - pan), or * pan, from every tap of
// delay d, frames in ascending order, that is taps by delay descending and then by number. Each
// wet frame is complete once y is known up to m, and is added into the bus right away: no wet
// buffer beyond a block of frames.
//
// Missing terms (frames before 0 or past the last fed frame) read as +0, and adding a zero never
// changes a float that is not -0, which neither sum can be.
#include "units/reverb/LapKernels.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <vector>

#include "base/Dispatch.h"
#include "base/LaneVectors.h"
#include "base/Rounding.h"

namespace quom {
namespace {

constexpr int32_t kLap = kReverbLineLen;
constexpr int32_t kChunk = kReverbChunk;  // a multiple of every kernel's block
using LapTaps = ReverbLapTaps;

}  // namespace

LapTaps SortReverbTaps(const ReverbTaps& taps) {
  std::array<int, kReverbTaps> order;
  LapTaps lap;
  for (int k = 0; k < kReverbTaps; ++k)
    order[k] = k;
  auto lineDelay = [&](int k) { return taps.TapDelay[k] == 0 ? kLap : taps.TapDelay[k]; };
  std::stable_sort(order.begin(), order.end(),
                   [&](int a, int b) { return lineDelay(a) > lineDelay(b); });
  for (int i = 0; i < kReverbTaps; ++i) {
    lap.lineDelay[i] = lineDelay(order[i]);
    lap.lineGain[i] = taps.TapGain[order[i]];
  }
  for (int k = 0; k < kReverbTaps; ++k)
    order[k] = k;
  std::stable_sort(order.begin(), order.end(),
                   [&](int a, int b) { return taps.TapDelay[a] > taps.TapDelay[b]; });
  for (int i = 0; i < kReverbTaps; ++i) {
    const int k = order[i];
    lap.wetDelay[i] = taps.TapDelay[k];
    lap.wetGain[i] = taps.TapGain[k];
    lap.wetLeft[i] = 1.0 - taps.TapPan[k];  // exact in double
    lap.wetRight[i] = taps.TapPan[k];
    lap.wetGainLeft[i] = lap.wetGain[i] * lap.wetLeft[i];
    lap.wetGainRight[i] = lap.wetGain[i] * lap.wetRight[i];  // exact: a product of two floats
    lap.wetLeftExact[i] = std::fma(lap.wetGain[i], lap.wetLeft[i], -lap.wetGainLeft[i]) == 0.0;
  }
  return lap;
}

namespace {

// A double rounded to float and held as a double again, as a store into a float rounds it: by
// converting there and back, or by the split, the same for zero and wherever the float is normal
// (see ReverbSplitGate for where the kernels may split).
template <ReverbRounding R, typename D>
[[gnu::always_inline]] inline D RoundF(const D& x) {
  if constexpr (R == ReverbRounding::kSplit) {
    return SplitToFloat(x);
  } else {
    using F = typename LaneVec<sizeof(D) / sizeof(double)>::F;
    return Widen<D>(Narrow<F>(x));
  }
}

// Vectors of a kernel on target T: as wide as its registers, U of them side by side, which keeps
// enough roundings in flight to hide their latency.
template <typename T>
using LapVec = typename LaneVec<T::kDoubles>::D;

// y for `count` frames from `y`, each from half the frame a lap earlier and TapIn, where tapIn
// and y point at the first frame. Blocks of U vectors, then of kRest for the frames left (AVX2's
// twelve vectors do not divide a chunk); count is a multiple of kRest vectors. TapIn and y are
// floats held as doubles, so that only the roundings cost a conversion.
template <ReverbRounding R>
struct LineKernel {
  using Signature = void(const LapTaps&, const double*, double*, int32_t);

  // Frames [i, i + U * W): U vectors side by side.
  template <typename D, int U>
  [[gnu::always_inline]] static inline void Block(const LapTaps& taps, const double* tapIn,
                                                  double* y, int32_t i) {
    constexpr int kW = sizeof(D) / sizeof(double);
    D acc[U];
#pragma GCC unroll 16
    for (int u = 0; u < U; ++u)
      // The halved cell, converted: a float that small may lose its last bit.
      acc[u] = RoundF<ReverbRounding::kConvert>(LoadVec<D>(y + i + u * kW - kLap) * 0.5);
    for (int t = 0; t < kReverbTaps; ++t) {
      const double* in = tapIn + i + 1 - taps.lineDelay[t];
      const double g = taps.lineGain[t];
#pragma GCC unroll 16
      for (int u = 0; u < U; ++u)
        acc[u] = RoundF<R>(acc[u] + LoadVec<D>(in + u * kW) * g);  // the product is exact
    }
#pragma GCC unroll 16
    for (int u = 0; u < U; ++u)
      StoreVec(y + i + u * kW, acc[u]);
  }

  template <typename T>
  [[gnu::always_inline]] static inline void Run(const LapTaps& taps, const double* tapIn, double* y,
                                                int32_t count) {
    using D = LapVec<T>;
    constexpr int kW = T::kDoubles;
    constexpr int U = kW == 1 ? 4 : kW == 4 ? 12 : 8;
    constexpr int kRest = kW == 4 ? 4 : U;
    static_assert(kChunk % (kRest * kW) == 0);
    int32_t i = 0;
    for (; i + U * kW <= count; i += U * kW)
      Block<D, U>(taps, tapIn, y, i);
    for (; i < count; i += kRest * kW)
      Block<D, kRest>(taps, tapIn, y, i);
  }
};

// The wet left and right of `count` frames, from y (pointing at the first frame).
template <ReverbRounding R>
struct WetKernel {
  using Signature = void(const LapTaps&, const double*, float*, float*, int32_t);

  template <typename T>
  [[gnu::always_inline]] static inline void Run(const LapTaps& taps, const double* y, float* left,
                                                float* right, int32_t count) {
    using D = LapVec<T>;
    using F = typename LaneVec<T::kDoubles>::F;
    constexpr int kW = T::kDoubles;
    constexpr int U = kW >= 4 ? 8 : 4;
    static_assert(kChunk % (U * kW) == 0);
    for (int32_t i = 0; i < count; i += U * kW) {
      D accL[U], accR[U];
#pragma GCC unroll 8
      for (int u = 0; u < U; ++u) {
        accL[u] = D{} + 0.0;
        accR[u] = D{} + 0.0;
      }
      for (int t = 0; t < kReverbTaps; ++t) {
        const double* in = y + i - taps.wetDelay[t];
        const double gr = taps.wetGainRight[t];
        // The tap into both channels, its left share from y as `left` gives it.
        const auto add = [&](auto left) {
#pragma GCC unroll 8
          for (int u = 0; u < U; ++u) {
            const D yu = LoadVec<D>(in + u * kW);
            accL[u] = RoundF<R>(accL[u] + left(yu));
            accR[u] = RoundF<R>(accR[u] + yu * gr);
          }
        };
        if (taps.wetLeftExact[t]) {
          const double gl = taps.wetGainLeft[t];
          add([gl](const D& yu) { return yu * gl; });
        } else {
          const double g = taps.wetGain[t];
          const double l = taps.wetLeft[t];
          add([g, l](const D& yu) { return yu * g * l; });  // y * g is exact: two floats
        }
      }
#pragma GCC unroll 8
      for (int u = 0; u < U; ++u) {
        StoreVec(left + i + u * kW, Narrow<F>(accL[u]));
        StoreVec(right + i + u * kW, Narrow<F>(accR[u]));
      }
    }
  }
};

template <ReverbRounding R>
ReverbLapKernels Kernels(SimdPath path) {
  return {PickKernel<LineKernel<R>>(path), PickKernel<WetKernel<R>>(path)};
}

}  // namespace

ReverbLapKernels PickReverbLapKernels(SimdPath path, ReverbRounding rounding) {
  return rounding == ReverbRounding::kSplit ? Kernels<ReverbRounding::kSplit>(path)
                                            : Kernels<ReverbRounding::kConvert>(path);
}

ReverbRounding FasterReverbRounding(SimdPath path) {
  // A chunk of each kernel after a lap of zero input, through taps spread over the lap: the
  // kernels take as long on zeros as on music.
  LapTaps taps;
  for (int k = 0; k < kReverbTaps; ++k) {
    taps.lineDelay[k] = kLap - 64 * k;
    taps.wetDelay[k] = kLap - 64 * k;
  }
  taps.wetLeftExact.fill(true);  // as all but the odd tap are
  const ReverbLapKernels kernels[2] = {PickReverbLapKernels(path, ReverbRounding::kConvert),
                                       PickReverbLapKernels(path, ReverbRounding::kSplit)};
  std::vector<double> in(kLap + kChunk, 0.0), out(kLap + kChunk, 0.0);
  alignas(64) float left[kChunk], right[kChunk];
  double best[2] = {1e30, 1e30};
  for (int trial = 0; trial < 3; ++trial) {
    for (int k = 0; k < 2; ++k) {
      const auto start = std::chrono::steady_clock::now();
      kernels[k].line(taps, in.data() + kLap, out.data() + kLap, kChunk);
      kernels[k].wet(taps, in.data() + kLap, left, right, kChunk);
      const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
      best[k] = std::min(best[k], took.count());
    }
  }
  return best[1] < best[0] ? ReverbRounding::kSplit : ReverbRounding::kConvert;
}

}  // namespace quom
