// Buffer effects: in-place shapers for one rendered note or sample bank buffer.
//
// Each effect processes elements 0 .. n-1 of a float buffer; the caller guarantees the buffer
// holds n samples. Samples are read as floats, the arithmetic is double, and each result is
// rounded once to float when it is stored. No state survives a call. A count n <= 0 changes
// nothing.
//
// Each effect is a loop over a step, below, that does its arithmetic for one sample. The steps
// are written for plain doubles (one buffer) and for vectors of doubles (one buffer in each lane)
// alike, so renderers that fuse several effects into one pass, or run several buffers side by
// side, do what the effects do and nothing else. A step gives the value the effect stores before
// it is rounded; the caller rounds where the effect stores.
#pragma once

#include <cmath>
#include <cstdint>

#include "base/Rounding.h"
#include "base/Simd.h"

// The steps below are always inlined, so no vector crosses a call and the ABI note about wide
// vector arguments does not apply.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace quom {

// One-pole high-pass: out = x - lp, where lp = (1 - k) * x + k * lp includes the current sample.
void FxHighPass(float* buf, int32_t n, float k);

// Two-pole resonator (d = freq / 7019, capped at 2) blended with the dry signal by mix.
void FxResonator(float* buf, int32_t n, float freq, float feedback, float mix);

// Scales the buffer so that its largest magnitude becomes peak. A silent buffer stays silent.
void FxNormalize(float* buf, int32_t n, float peak);

// Linear ramp up over the first fadeIn samples, then linear ramp down over the last fadeOut.
// Lengths above n are cut to n; a length of 0 or less skips that side.
void FxFade(float* buf, int32_t n, int32_t fadeIn, int32_t fadeOut);

// Multiplies sample i by factor^i, the gain built by repeated multiplication.
void FxDecay(float* buf, int32_t n, double factor);

// FxHighPass, one sample: the low-pass includes x before it is subtracted.
template <typename D>
struct HighPass {
  D k;
  D lp = {};
  D operator()(D x) {
    lp = (1.0 - k) * x + k * lp;  // (1 - k) is formed first, then multiplied by x
    return x - lp;
  }
};

// FxDecay, one sample: the gain grows by one multiplication a sample, not pow(factor, i).
template <typename D>
struct Decay {
  D factor;
  D g = D{} + 1.0;
  D operator()(D x) {
    const D out = x * g;
    g = g * factor;
    return out;
  }
};

// FxResonator's coefficient: d = freq / 7019, capped at 2. 7019 is 44,100 / 2 pi, rounded, so d
// is the angle of freq per sample at 44,100 Hz.
constexpr double ResonatorCoefficient(float freq) {
  const double d = freq / 7019.0;
  return d > 2.0 ? 2.0 : d;
}

// FxResonator, one sample: b takes the input, then a takes the b just computed.
template <typename D>
struct Resonator {
  D d;
  D feedback;
  D mix;
  D a = {};
  D b = {};
  D operator()(D x) {
    b = (b + d * a) + x;
    a = (a - d * b) * feedback;
    return (1.0 - mix) * x + mix * b;
  }
};

// FxFade's ramp: v at step i of a ramp of len samples, the product first, then the quotient.
template <typename D>
[[gnu::always_inline]] inline D Ramp(D v, D i, D len) {
  return (v * i) / len;
}

// FxFade on sample j of n: the fade-in first, then the fade-out. The lengths must already be cut
// to n; a length of 0 or less never applies.
[[gnu::always_inline]] inline float Fade(float v, int32_t j, int32_t n, int32_t fadeIn,
                                         int32_t fadeOut) {
  if (j < fadeIn) v = Single(Ramp<double>(v, j, fadeIn));
  const int32_t fromEnd = n - j;
  if (fromEnd <= fadeOut) v = Single(Ramp<double>(v, fromEnd, fadeOut));
  return v;
}

// FxNormalize's search: the larger of the peak so far m and a magnitude a. A NaN never wins.
template <typename F>
[[gnu::always_inline]] inline F Louder(F m, F a) {
  return a > m ? a : m;
}

// The largest magnitude seen, as FxNormalize finds it, and its scale factor.
struct Peak {
  float m = 0.0f;
  void operator()(float v) { m = Louder(m, std::fabs(v)); }
  bool Silent() const { return m == 0.0f; }  // a silent buffer is left as it is
  // The factor is rounded to float before it is applied.
  float Scale(float peak) const { return Single(static_cast<double>(peak) / m); }
};

// FxNormalize to `target` with the peak already found, then FxFade, in one pass; the vector
// paths divide several samples of the fade-out at once. Every path gives the same bits.
void ScaleAndFade(float* out, int32_t n, const Peak& peak, float target, int32_t fadeIn,
                  int32_t fadeOut, SimdPath path = BestSimdPath());

// FxFade, several samples at a time on the vector paths.
void FadeBuffer(float* out, int32_t n, int32_t fadeIn, int32_t fadeOut,
                SimdPath path = BestSimdPath());

// FxNormalize to `target` with the peak already found, then FxHighPass(k), in one pass.
void ScaleAndHighPass(float* out, int32_t n, const Peak& peak, float target, float k);

}  // namespace quom
