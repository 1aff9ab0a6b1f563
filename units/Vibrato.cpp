// Vibrato bends: exact values of 1 + 0.002 * sin(phase) with few library calls.
#include "units/Vibrato.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "base/Dispatch.h"
#include "base/LaneVectors.h"

namespace quom {

double VibratoBend(double phase) {
  return 1.0 + kVibratoDepth * std::sin(phase);
}

namespace {

// The fast sine, written once for scalars and for GCC vector types of any width. Every operation
// is one IEEE operation per lane (no fused multiply-add), so all widths give the same bits.
//
// Reduce by the nearest multiple k of pi/2: pi/2's head has 33 bits, so k * head is exact for
// k < 2^20 and x - k * head is exact (the two are within a factor of two); the tail brings the
// reduced argument to within half an ulp. Then minimax polynomials on |r| <= pi/4 (error below
// 2^-58 relative), and the quadrant's sign and choice of sine or cosine.
constexpr double kTwoOverPi = 6.36619772367581382433e-01;
constexpr double kPio2Head = 1.57079632673412561417e+00;
constexpr double kPio2Tail = 6.07710050650619224932e-11;
constexpr double kRoundMagic = 6755399441055744.0;  // 1.5 * 2^52: adding it rounds to integer

template <typename D>
[[gnu::always_inline]] inline D SinPoly(D r, D z) {
  return r +
         r * z *
             (-1.66666666666666324348e-01 +
              z * (8.33333333332248946124e-03 +
                   z * (-1.98412698298579493134e-04 +
                        z * (2.75573137070700676789e-06 +
                             z * (-2.50507602534068634195e-08 + z * 1.58969099521155010221e-10)))));
}

template <typename D>
[[gnu::always_inline]] inline D CosPoly(D z) {
  return 1.0 - (0.5 * z - z * z *
                              (4.16666666666666019037e-02 +
                               z * (-1.38888888888741095749e-03 +
                                    z * (2.48015872894767294178e-05 +
                                         z * (-2.75573143513906633035e-07 +
                                              z * (2.08757232129817482790e-09 +
                                                   z * -1.13596475577881948265e-11))))));
}

}  // namespace

double SinApprox(double x) {
  const double t = x * kTwoOverPi + kRoundMagic;
  const double k = t - kRoundMagic;
  const double r = (x - k * kPio2Head) - k * kPio2Tail;
  const double z = r * r;
  const double s = SinPoly(r, z);
  const double c = CosPoly(z);
  switch (static_cast<int64_t>(k) & 3) {
    case 0:
      return s;
    case 1:
      return c;
    case 2:
      return -s;
    default:
      return -c;
  }
}

namespace {

// The phases that repeated additions of the step reach from `phase` (at least 2^-11) while they
// stay in its binade [2^e, 2^(e+1)). There every addition rounds the same way (the phase is a
// multiple of the binade's ulp, and above 2^-11 the step never falls on a tie), so the j-th of
// them is phase + j * step exactly, step being the first addition's rounded difference.
struct BinadeRun {
  double step;  // (phase + 0.0002) - phase
  int64_t n;    // phase + j * step lies in the binade for j = 0 .. n
};

BinadeRun RunInBinade(double phase) {
  int exponent;
  std::frexp(phase, &exponent);
  const double binadeEnd = std::ldexp(1.0, exponent);
  const double step = (phase + kVibratoStep) - phase;
  // The estimate's quotient is rounded: move it to the last j inside.
  int64_t n = static_cast<int64_t>((binadeEnd - phase) / step);
  while (n > 0 && phase + n * step >= binadeEnd)
    --n;
  while (phase + (n + 1) * step < binadeEnd)
    ++n;
  return {step, n};
}

}  // namespace

double VibratoAdvance(double phase, int64_t calls) {
  while (calls > 0) {
    if (phase < 0x1p-11) {  // small phases: the step may fall on a tie, so add one by one
      phase = phase + kVibratoStep;
      --calls;
      continue;
    }
    const BinadeRun run = RunInBinade(phase);
    if (run.n == 0) {  // the next step leaves the binade
      phase = phase + kVibratoStep;
      --calls;
      continue;
    }
    const int64_t n = std::min(run.n, calls);
    phase = phase + n * run.step;
    calls -= n;
  }
  return phase;
}

namespace {

// The bend from a fast sine when the error bracket rounds to one value, else from the library.
double BracketedBend(double v, double s) {
  const double lo = 1.0 + kVibratoDepth * (s - kSinApproxError);
  const double hi = 1.0 + kVibratoDepth * (s + kSinApproxError);
  return lo == hi ? lo : VibratoBend(v);
}

// Vectors of bends with lanes the library must settle: where the vector starts, and the lanes.
struct Unsettled {
  static constexpr int kMax = 64;
  int32_t at[kMax];
  uint32_t lanes[kMax];
  int n = 0;

  // The library's bends for the lanes noted, phases base + j * step.
  void Settle(double base, double step, double inc, double* out) {
    for (int k = 0; k < n; ++k) {
      for (uint32_t bits = lanes[k]; bits != 0; bits &= bits - 1) {
        const int32_t j = at[k] + __builtin_ctz(bits);
        out[j] = inc * VibratoBend(base + static_cast<double>(j) * step);
      }
    }
    n = 0;
  }
};

// Lanes From .. From + N - 1 of v, as a vector of N lanes.
template <int From, typename V, std::size_t... J>
[[gnu::always_inline]] inline auto LanesOf(const V& v, std::index_sequence<J...>) {
  return __builtin_shufflevector(v, v, static_cast<int>(From + J)...);
}

// All W lanes or'ed together: the upper half into the lower, down to two lanes.
template <int W, typename V>
[[gnu::always_inline]] inline long long OrLanes(const V& v) {
  if constexpr (W > 2) {
    constexpr int kHalf = W / 2;
    return OrLanes<kHalf>(LanesOf<0>(v, std::make_index_sequence<kHalf>()) |
                          LanesOf<kHalf>(v, std::make_index_sequence<kHalf>()));
  } else {
    return v[0] | v[1];
  }
}

// Writes the bends of W phases (their sines bracketed by `err`) scaled by inc to out[at ..], and
// notes the lanes whose bracket straddles a rounding boundary of the bend, for the library to
// settle later: a branch here would be guessed wrong too often.
template <typename D, typename I, int W>
[[gnu::always_inline]] inline void StoreSteps(const D& sine, double err, double inc, double* out,
                                              int32_t at, Unsettled& unsettled) {
  const D lo = 1.0 + kVibratoDepth * (sine - err);
  const D hi = 1.0 + kVibratoDepth * (sine + err);
  const D scaled = inc * lo;
  StoreVec(out + at, scaled);
  I weight;
  for (int j = 0; j < W; ++j)
    weight[j] = 1LL << j;
  const long long lanes = OrLanes<W>((lo != hi) & weight);
  unsettled.at[unsettled.n] = at;
  unsettled.lanes[unsettled.n] = static_cast<uint32_t>(lanes);
  unsettled.n += lanes != 0;
}

// How far a sine rotated from the fast sine s and cosine c may be from the library's. The
// rotation is s + (s * (cos a - 1) + c * sin a), the angle a at most 7 * 8 * 0.0002 = 0.0112:
// the bracketed correction is below 0.0113, so its roundings and those of cos a - 1 and sin a
// add less than 1e-17, and c's error (at most 2.5e-16 against the true value) enters times
// sin a, under 3e-18. What remains is s's own error (2.5e-16), the rounding of the final sum
// (half an ulp of a value below 1, 1.12e-16) and the library's own error (2.3e-16): 6.1e-16
// in all, and a margin.
constexpr double kRotatedError = 6.5e-16;

// out[j] = inc * bend(base + j * step) for j < count, W phases at a time. Every phase of the run
// is exact (see RunInBinade), so the phases m vectors on are those of this vector turned by
// m * W * step: one vector in eight gets its sines and cosines from the fast sine, the next seven
// are rotated from them, each by its own angle.
template <typename D, typename I, int W>
[[gnu::always_inline]] inline void StepsVector(double base, double step, double inc, double* out,
                                               int32_t count, const VibratoRotations& rot) {
  D iota;
  for (int j = 0; j < W; ++j)
    iota[j] = j;
  Unsettled unsettled;
  int32_t i = 0;
  while (i + W <= count) {
    // Room for the vectors of this round.
    if (unsettled.n > Unsettled::kMax - 1 - VibratoRotations::kMax)
      unsettled.Settle(base, step, inc, out);
    const D x = base + (iota + static_cast<double>(i)) * step;
    const D t = x * kTwoOverPi + kRoundMagic;
    const D k = t - kRoundMagic;
    const D r = (x - k * kPio2Head) - k * kPio2Tail;
    const D z = r * r;
    const D s = SinPoly(r, z);
    const D c = CosPoly(z);
    // A cast between vector types of one size keeps the bits: k's low bits sit in t's mantissa.
    // Quadrant q: sin x is s, c, -s, -c and cos x is c, -s, -c, s.
    const I q = (I)t & 3;
    const I odd = (q & 1) != 0;
    const D sine = (D)((I)(odd ? c : s) ^ ((q & 2) << 62));
    const D cosine = (D)((I)(odd ? s : c) ^ (((q + 1) & 2) << 62));
    StoreSteps<D, I, W>(sine, kSinApproxError, inc, out, i, unsettled);
    i += W;
    for (int m = 1; m <= VibratoRotations::kMax && i + W <= count; ++m, i += W) {
      const D turned = sine + (sine * rot.cosLessOne[m] + cosine * rot.sin[m]);
      StoreSteps<D, I, W>(turned, kRotatedError, inc, out, i, unsettled);
    }
  }
  unsettled.Settle(base, step, inc, out);
  for (; i < count; ++i) {
    const double x = base + i * step;
    out[i] = inc * BracketedBend(x, SinApprox(x));
  }
}

// The rotation angles m * width * step, whose products are exact.
void FillRotations(VibratoRotations& rot, double step, int width) {
  rot.step = step;
  rot.width = width;
  for (int m = 0; m <= VibratoRotations::kMax; ++m) {
    const double angle = m * width * step;
    const double half = std::sin(0.5 * angle);
    rot.cosLessOne[m] = -2.0 * (half * half);  // cos a - 1 without the cancellation
    rot.sin[m] = std::sin(angle);
  }
}

// One run of a binade's phases: one phase at a time with scalars, else a register's worth of
// phases at a time, rotated from each other.
struct StepsKernel {
  using Signature = void(double, double, double, double*, int32_t, VibratoRotations&);

  template <typename T>
  [[gnu::always_inline]] static inline void Run(double base, double step, double inc, double* out,
                                                int32_t count, VibratoRotations& rot) {
    constexpr int W = T::kDoubles;
    if constexpr (W == 1) {
      for (int32_t i = 0; i < count; ++i) {
        const double x = base + i * step;
        out[i] = inc * BracketedBend(x, SinApprox(x));
      }
    } else {
      if (rot.step != step || rot.width != W) FillRotations(rot, step, W);
      StepsVector<typename LaneVec<W>::D, typename LaneVec<W>::M, W>(base, step, inc, out, count,
                                                                     rot);
    }
  }
};

}  // namespace

double VibratoSteps(double phase, double inc, double* out, int32_t count, SimdPath path) {
  VibratoRotations rot;
  return VibratoSteps(phase, inc, out, count, rot, path);
}

double VibratoSteps(double phase, double inc, double* out, int32_t count, VibratoRotations& rot,
                    SimdPath path) {
  int32_t i = 0;
  while (i < count) {
    if (phase < 0x1p-11 || phase >= kSinApproxLimit) {
      // Small phases may meet a tie when the step is added; huge ones are past the fast sine.
      out[i++] = inc * VibratoBend(phase);
      phase = phase + kVibratoStep;
      continue;
    }
    // The rest of the phase's binade at once, its phases base + j * step.
    const BinadeRun binade = RunInBinade(phase);
    const int32_t run = static_cast<int32_t>(std::min<int64_t>(binade.n + 1, count - i));
    Dispatch<StepsKernel>(path, phase, binade.step, inc, out + i, run, rot);
    phase = (phase + (run - 1) * binade.step) + kVibratoStep;  // the last phase of the run, stepped
    i += run;
  }
  return phase;
}

double VibratoBends(double phase, double* bend, int32_t count, SimdPath path) {
  return VibratoSteps(phase, 1.0, bend, count, path);
}

}  // namespace quom
