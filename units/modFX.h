// Buffer effects: in-place shapers for one rendered note or sample bank buffer.
//
// Each effect processes elements 0 .. n-1 of a float buffer; the caller guarantees the buffer
// holds n samples. Samples are read as floats, the arithmetic is double, and each result is
// rounded once to float when it is stored. No state survives a call. A count n <= 0 changes
// nothing.
#pragma once

#include <cstdint>

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

}  // namespace quom
