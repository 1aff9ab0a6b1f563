// The oscillator's inner loop as a template: runs `count` calls and hands each output to `emit`,
// so a caller can fuse its own per-sample work into the same loop. The same bits as WaveNext.
#pragma once

#include <cstdint>

#include "units/Vibrato.h"
#include "units/modString.h"

namespace quom {

template <typename Emit>
inline void WaveRun(modString& w, int64_t count, Emit&& emit) {
  constexpr int32_t kBlock = 256;
  double step[kBlock];
  float* table = w.WaveTable;
  const double inc = w.WaveInc;
  const double coef = w.WaveDiffCoef;
  float phase = w.WavePhase;
  int32_t pos = w.WaveDiffPos;
  float below = SweepBelow(table, pos);
  VibratoRotations rot;
  for (int64_t done = 0; done < count; done += kBlock) {
    const int32_t m = count - done < kBlock ? static_cast<int32_t>(count - done) : kBlock;
    w.VibPhase = VibratoSteps(w.VibPhase, inc, step, m, rot);  // WaveInc * bend, as WaveNext
    for (int32_t i = 0; i < m; ++i)
      emit(OscCall(table, phase, pos, below, coef, step[i]));
  }
  w.WavePhase = phase;
  w.WaveDiffPos = pos;
}

}  // namespace quom
