// Wavetable string oscillator: table initialisers, interpolated read, smoothing pass, vibrato.
#include "units/modString.h"

#include <cmath>

#include "base/Rounding.h"
#include "base/SampleRate.h"
#include "units/Vibrato.h"
#include "units/WaveRun.h"

namespace quom {

namespace {

// Shared tail of both initialisers: restart the read and set the increment and smoothing.
void WaveRestart(modString& w, float freq, float damp) {
  w.WaveDiffPos = 0;
  w.WavePhase = 0.0f;
  w.WaveInc = Single(freq / kSampleRateHz);
  w.WaveDiffCoef = Single(damp * 0.75 + 0.05);
}

}  // namespace

void WaveInitCubic(modString& w, modTools& t, float freq, float damp, float noise) {
  const float A = Single(noise * 0.1);
  for (int i = 0; i < kWaveSize; ++i) {
    const double e = i / 64.0 - 1.0;
    const float S = Single(e * e * e - e);
    const double r = RndUniform(t);  // one draw per entry, even when noise is 0
    w.WaveTable[i] = Single((r - 0.5) * A + S);
  }
  WaveRestart(w, freq, damp);
}

void WaveInitArc(modString& w, modTools& t, float freq, float damp, float noise) {
  const float A = Single(noise * 0.1);
  for (int i = 0; i < kWaveSize; ++i) {
    const int32_t n = 64 - i;
    const double e = (i * (n + 64)) / 4096.0;  // integer product, then a double quotient
    const float S = Single(e * (e - e * e) * n * 0.034);
    // Brown noise is already centred, yet 0.5 is subtracted too: the table shifts by -0.5 * A.
    const double r = RndBrown(t);
    w.WaveTable[i] = Single((r - 0.5) * A + S);
  }
  WaveRestart(w, freq, damp);
}

float WaveNext(modString& w) {
  // The sine takes the phase before this call's advance. VibPhase must stay a double: it grows
  // past 20,000 radians over the piece.
  const double step = w.WaveInc * VibratoBend(w.VibPhase);
  float below = SweepBelow(w.WaveTable, w.WaveDiffPos);
  const float out = OscCall(w.WaveTable, w.WavePhase, w.WaveDiffPos, below, w.WaveDiffCoef, step);
  w.VibPhase = w.VibPhase + kVibratoStep;
  return out;
}

void WaveNextBlock(modString& w, float* out, int32_t count) {
  WaveRun(w, count, [&out](float v) { *out++ = v; });
}

}  // namespace quom
