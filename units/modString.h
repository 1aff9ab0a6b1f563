// The wavetable string oscillator: a 128-entry cycle read with linear interpolation, whose
// neighbouring entries are pulled together as the read position sweeps past, so a note starts
// bright and mellows. A slow vibrato runs on one phase that lives for the whole program.
#pragma once

#include <cmath>
#include <cstdint>

#include "base/Rounding.h"
#include "base/modTools.h"

// The steps below are always inlined, so no vector crosses a call and the ABI note about wide
// vector arguments does not apply.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace quom {

constexpr int kWaveSize = 128;

struct modString {
  float WaveTable[kWaveSize] = {};  // the stored cycle; indices wrap modulo 128
  float WavePhase = 0.0f;           // read position, fraction of the cycle in [0, 1)
  float WaveInc = 0.0f;             // phase advance per call before vibrato (freq / 44,100)
  int32_t WaveDiffPos = 0;          // next entry the smoothing pass visits
  float WaveDiffCoef = 0.0f;        // smoothing coefficient
  double VibPhase = 0.0;            // vibrato phase in radians; never reset
};

// Fills the table with a cubic cycle plus uniform noise (128 RndUniform draws) and restarts it.
void WaveInitCubic(modString& w, modTools& t, float freq, float damp, float noise);
// Fills the table with an arc-shaped cycle plus brown noise (128 RndBrown draws) and restarts it.
void WaveInitArc(modString& w, modTools& t, float freq, float damp, float noise);
// The next sample; smooths the entries passed and advances the phase and the vibrato.
float WaveNext(modString& w);

// `count` WaveNext calls in a row, their outputs in out[0 .. count-1]. The same bits as calling
// WaveNext, faster.
void WaveNextBlock(modString& w, float* out, int32_t count);

// The arithmetic of one call, for one oscillator (doubles) and for lanes of oscillators (vectors
// of doubles) alike. Each gives the value before it is rounded to float where it is stored.

// The read between entries a and b at the fraction f of the way from a.
template <typename D>
[[gnu::always_inline]] inline D WaveRead(D a, D b, D f) {
  return (1.0 - f) * a + f * b;
}

// How far the smoothing pulls a neighbour pair together: the lower entry becomes below + delta,
// the upper one here - delta, so the pair's sum is kept.
template <typename D>
[[gnu::always_inline]] inline D WaveSmoothing(D here, D below, D coef) {
  return (here - below) * coef;
}

// One WaveNext on a table: read, sweep the smoothing up to the read position, advance the phase
// by `step`, the increment already bent by the vibrato (WaveInc * VibratoBend(VibPhase)).
//
// `below` holds the entry just below the sweep position, table[pos - 1], as the sweep left it
// (SweepBelow gives it to start with): each pair of the sweep starts from the entry the pair
// before it wrote, so keeping that value in a register takes a store and a load out of the
// sweep's chain of dependent operations. The table in memory stays whole.
[[gnu::always_inline]] inline float OscCall(float* table, float& phase, int32_t& pos, float& below,
                                            double coef, double step) {
  constexpr int32_t kMask = kWaveSize - 1;
  const double p = phase * 128.0;
  const int32_t whole = static_cast<int32_t>(p);  // truncated: floor(p) for p >= 0
  const int32_t k = static_cast<int32_t>((static_cast<uint32_t>(whole) - (p < whole)) & kMask);
  const double f = p - k;
  // The output is read before this call smooths anything.
  const float out = Single(WaveRead<double>(table[k], table[(k + 1) & kMask], f));
  while (pos != k) {
    const float here = table[pos];
    const double delta = WaveSmoothing<double>(here, below, coef);
    table[(pos - 1) & kMask] = Single(below + delta);
    below = Single(here - delta);
    table[pos] = below;
    pos = (pos + 1) & kMask;
  }
  phase = Single(phase + step);
  // phase - floor(phase) changes only a phase outside (0, 1) (and turns -0 into 0); the phase
  // leaves [0, 1) about once a cycle.
  if (!(phase > 0.0f) || phase >= 1.0f) phase = phase - std::floor(phase);
  return out;
}

// The entry OscCall's `below` starts from.
inline float SweepBelow(const float* table, int32_t pos) {
  return table[(pos - 1) & (kWaveSize - 1)];
}

}  // namespace quom
