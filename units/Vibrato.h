// The oscillator's vibrato bend, 1 + 0.002 * sin(VibPhase), for a run of consecutive calls.
//
// The bend of every call is exactly the value the C library's sin gives, but most calls avoid
// the library: a fast sine with a known error bound brackets the bend, and only when the
// bracket straddles a rounding boundary of the bend is the library called.
#pragma once

#include <cstdint>

#include "base/Simd.h"

namespace quom {

constexpr double kVibratoStep = 0.0002;  // radians per oscillator call (~1.40 Hz at 44,100 calls/s)
constexpr double kVibratoDepth = 0.002;  // +-0.2 % of the frequency

// The bend for one vibrato phase, through the C library's sin.
double VibratoBend(double phase);

// Fills bend[i], i < count, with VibratoBend(v_i), where v_0 = phase and v_{i+1} = v_i + 0.0002
// (the same rounded additions the oscillator makes). Returns v_count.
double VibratoBends(double phase, double* bend, int32_t count, SimdPath path = BestSimdPath());

// The sines and cosines (less one) of whole multiples of one run's step that the fast path
// rotates by.
// Computing them takes a few dozen library calls, so a caller that makes many calls keeps one of
// these between them: it is refilled only when the step changes (when the phase enters the next
// binade), and every call gives the same bits with or without it.
struct VibratoRotations {
  static constexpr int kMax = 7;  // vectors rotated from each computed one
  double step = 0.0;
  int width = 0;
  double cosLessOne[kMax + 1] = {};  // cos(angle) - 1, to full precision
  double sin[kMax + 1] = {};
};

// The same run scaled: step[i] = inc * VibratoBend(v_i), the oscillator's bent increments.
double VibratoSteps(double phase, double inc, double* step, int32_t count,
                    SimdPath path = BestSimdPath());
double VibratoSteps(double phase, double inc, double* step, int32_t count, VibratoRotations& rot,
                    SimdPath path = BestSimdPath());

// The vibrato phase after `calls` oscillator calls from `phase`: the same value as adding 0.0002
// that many times, in a few operations.
double VibratoAdvance(double phase, int64_t calls);

// Sine with |error| below kSinApproxError against the C library's sin, for 0 <= x < 2^17. The
// reduction would serve up to 2^20, but the bound is one against the library, and not every C
// library keeps its sine that close further out: mingw-w64's drifts from the correctly rounded
// value by up to 3.6e-16 from 2^17 on and 1.4e-15 near 2^20, where the bracket would then pick
// a bend the library does not give. Phases from 2^17 on (655 million oscillator calls, over five
// times the piece's) take the library's sine instead.
double SinApprox(double x);
constexpr double kSinApproxError = 5e-16;
constexpr double kSinApproxLimit = 131072.0;

}  // namespace quom
