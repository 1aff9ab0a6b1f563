// The wavetable string oscillator: a 128-entry cycle read with linear interpolation, whose
// neighbouring entries are pulled together as the read position sweeps past, so a note starts
// bright and mellows. A slow vibrato runs on one phase that lives for the whole program.
#pragma once

#include <cstdint>

#include "base/modTools.h"

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

}  // namespace quom
