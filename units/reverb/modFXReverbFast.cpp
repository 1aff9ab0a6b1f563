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
#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "base/Dispatch.h"
#include "base/LaneVectors.h"
#include "base/Rounding.h"
#include "units/reverb/modFXReverb.h"

namespace quom {
namespace {

constexpr int32_t kLap = kReverbLineLen;
constexpr int32_t kRound = kReverbRound;
constexpr int32_t kChunk = kReverbChunk;  // a multiple of every kernel's block
using LapTaps = ReverbLapTaps;

LapTaps SortTaps(const ReverbTaps& taps) {
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

// A double rounded to float and held as a double again, as a store into a float rounds it: by
// converting there and back, or by the split, the same for zero and wherever the float is normal
// (see SplitFloor for where the kernels may split).
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

}  // namespace

namespace {

// The largest input the split takes: 128 products of it and a gain below 0.1, and the halved line
// cell, stay far below the largest float.
constexpr double kSplitCeiling = 0x1p100;

// Inputs whose nonzero magnitudes are at least 2^-96 / gain, for the smallest nonzero gain: every
// nonzero product is then at least 2^-97 (after its roundings), a double whose last bit is worth
// 2^-149 or more, and so are the float sums of such products. Below the normal range of float
// such a sum is exact in double and a float already, which the split leaves as it is.
double SplitFloor(const std::array<double, kReverbTaps>& gains) {
  double smallest = 0.0;
  for (const double gain : gains) {
    const double g = std::fabs(gain);
    if (g != 0.0 && (smallest == 0.0 || g < smallest)) smallest = g;
  }
  return smallest == 0.0 ? 0.0 : 0x1p-96 / smallest;
}

// Whether inputs seen so far keep the split exact: each zero or from the floor to the ceiling.
struct SplitCheck {
  double floor = 0.0;
  bool small = false;  // a nonzero input below the floor
  bool large = false;  // an input above the ceiling, or NaN

  [[gnu::always_inline]] void See(double v) {
    const double a = std::fabs(v);
    large = large | !(a <= kSplitCeiling);
    small = small | ((a < floor) & (a != 0.0));
  }
  void See(const double* v, int32_t n) {
    for (int32_t i = 0; i < n; ++i)
      See(v[i]);
  }
};

// Both roundings' kernels on `path`.
void PickKernels(ReverbLaps& r, SimdPath path) {
  r.line[static_cast<int>(ReverbRounding::kConvert)] =
      PickKernel<LineKernel<ReverbRounding::kConvert>>(path);
  r.line[static_cast<int>(ReverbRounding::kSplit)] =
      PickKernel<LineKernel<ReverbRounding::kSplit>>(path);
  r.wet[static_cast<int>(ReverbRounding::kConvert)] =
      PickKernel<WetKernel<ReverbRounding::kConvert>>(path);
  r.wet[static_cast<int>(ReverbRounding::kSplit)] =
      PickKernel<WetKernel<ReverbRounding::kSplit>>(path);
}

// Whether every line chunk of the round gave y that the wet frames may split on.
bool AllChunksFit(const ReverbLaps& r) {
  return std::all_of(r.yFits.begin(), r.yFits.end(), [](bool f) { return f; });
}

}  // namespace

void ReverbLapsStart(ReverbLaps& r, const ReverbTaps& taps, int32_t MixLen, SimdPath path,
                     ReverbRounding rounding) {
  r.taps = SortTaps(taps);
  PickKernels(r, path);
  r.rounding = rounding;
  r.lineFloor = SplitFloor(r.taps.lineGain);
  r.wetFloor = std::max(SplitFloor(r.taps.wetGainLeft), SplitFloor(r.taps.wetGainRight));
  r.tapInSmall = r.tapInSmallBefore = r.tapInLarge = false;
  r.yFits.fill(true);
  r.yFitsBefore = true;
  r.MixLen = MixLen;
  r.lastFrame = ReverbFedFrames(MixLen) - 1;
  r.rounds = (std::max(MixLen, 0) + kRound - 1) / kRound;
  r.base = 0;
  r.tapIn.assign(kLap + kRound, 0.0);
  r.y.assign(kLap + kRound, 0.0);
  r.SendLp = 0.0f;
  r.TapIn = 0.0f;
}

ReverbRounding FasterReverbRounding(SimdPath path) {
  // A chunk of each kernel after a lap of zero input, through taps spread over the lap: the
  // kernels take as long on zeros as on music.
  ReverbLaps r;
  PickKernels(r, path);
  for (int k = 0; k < kReverbTaps; ++k) {
    r.taps.lineDelay[k] = kLap - 64 * k;
    r.taps.wetDelay[k] = kLap - 64 * k;
  }
  r.taps.wetLeftExact.fill(true);  // as all but the odd tap are
  std::vector<double> in(kLap + kChunk, 0.0), out(kLap + kChunk, 0.0);
  alignas(64) float left[kChunk], right[kChunk];
  double best[2] = {1e30, 1e30};
  for (int trial = 0; trial < 3; ++trial) {
    for (int k = 0; k < 2; ++k) {
      const auto start = std::chrono::steady_clock::now();
      r.line[k](r.taps, in.data() + kLap, out.data() + kLap, kChunk);
      r.wet[k](r.taps, in.data() + kLap, left, right, kChunk);
      const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
      best[k] = std::min(best[k], took.count());
    }
  }
  return best[1] < best[0] ? ReverbRounding::kSplit : ReverbRounding::kConvert;
}

void ReverbLapsSend(ReverbLaps& r, const modGen& g, int32_t from) {
  std::memmove(r.tapIn.data(), r.tapIn.data() + kRound, kLap * sizeof(double));
  double* out = r.tapIn.data() + kLap;
  const int32_t n = std::clamp(r.lastFrame + 1 - from, 0, kRound);
  float SendLp = r.SendLp;
  float TapIn = r.TapIn;
  SplitCheck c{r.lineFloor};
  for (int32_t i = 0; i < n; ++i) {
    const float s = g.MixBuf[from + i].Send;
    SendLp = Single(s * 0.3 + SendLp * 0.7);
    TapIn = Single(TapIn * 0.5 + SendLp);
    out[i] = TapIn;
    c.See(TapIn);  // beside the chain of the two smoothing stages, which it does not slow
  }
  r.SendLp = SendLp;
  r.TapIn = TapIn;
  std::fill(out + n, out + kRound, 0.0);
  r.tapInSmallBefore = r.tapInSmall;
  r.tapInSmall = c.small;
  r.tapInLarge = r.tapInLarge || c.large;  // the line carries it on
}

void ReverbLapsLines(ReverbLaps& r, int32_t chunk) {
  const int32_t p = chunk * kChunk;
  const bool split =
      r.rounding == ReverbRounding::kSplit && !r.tapInLarge && !r.tapInSmall && !r.tapInSmallBefore;
  const ReverbLineKernel line = r.line[static_cast<int>(split)];
  bool fits = true;
  for (int32_t lap = 0; lap < kReverbRoundLaps; ++lap) {
    const int32_t at = kLap + lap * kLap + p;
    const int32_t n = std::clamp(r.lastFrame + 1 - (r.base + at - kLap), 0, kChunk);
    if (n > 0) line(r.taps, r.tapIn.data() + at, r.y.data() + at, kChunk);
    std::fill(r.y.data() + at + n, r.y.data() + at + kChunk, 0.0);  // past the last fed frame
    SplitCheck c{r.wetFloor};
    c.See(r.y.data() + at, n);
    fits = fits && !c.small && !c.large;
  }
  r.yFits[chunk] = fits;
}

void ReverbLapsWet(const ReverbLaps& r, modGen& g, int32_t chunk) {
  const int32_t m = chunk * kChunk;
  if (r.base + m >= r.MixLen) return;  // dropped, as the wet frames from MixLen on are
  const bool split = r.rounding == ReverbRounding::kSplit && r.yFitsBefore && AllChunksFit(r);
  MixFrame* bus = g.MixBuf.data() + r.base + m;
  const int32_t n = std::min(kChunk, r.MixLen - (r.base + m));
  // The bus frames were last touched when the notes were mixed: ask for them now, so that they
  // come in while the kernel works.
  const char* frames = reinterpret_cast<const char*>(bus);
  for (size_t at = 0; at < n * sizeof(MixFrame); at += 64)
    __builtin_prefetch(frames + at, 1, 2);
  alignas(64) float left[kChunk], right[kChunk];
  r.wet[static_cast<int>(split)](r.taps, r.y.data() + kLap + m, left, right, kChunk);
  // The sum of two floats, rounded to double and then to float, is their float sum: a double holds
  // more than twice a float's bits and two more, so the first rounding never changes the second.
  for (int32_t i = 0; i < n; ++i) {
    bus[i].L += left[i];
    bus[i].R += right[i];
  }
}

void ReverbLapsNext(ReverbLaps& r) {
  std::memmove(r.y.data(), r.y.data() + kRound, kLap * sizeof(double));
  r.yFitsBefore = AllChunksFit(r);
  r.base += kRound;
}

}  // namespace quom
