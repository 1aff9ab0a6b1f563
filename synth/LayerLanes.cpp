// Tonal layers rendered four at a time: the loop body runs one sample of every lane, so the
// dependent chains of different layers (phase, smoothing sweep, decay, high-pass) overlap.
//
// The lanes' state lives in local arrays that nothing outside this function can reach, so the
// compiler keeps it in registers instead of reloading it after every store to a buffer.
#include "synth/LayerLanes.h"

#include <cstring>

#include "synth/LayerStages.h"
#include "synth/Vibrato.h"

namespace quom {

namespace {

constexpr int kLanes = 4;
constexpr int32_t kChunk = 128;  // samples per lane between refills of the vibrato steps

}  // namespace

void RenderLayersInLanes(const std::function<bool(LayerJob&)>& next,
                         const std::function<void(const LayerJob&)>& done) {
  // Per lane: the job, the oscillator, the fused first effects of its kind, the peak.
  LayerJob job[kLanes];
  bool active[kLanes] = {};
  LayerKind kind[kLanes] = {};
  int32_t length[kLanes] = {};
  int32_t rendered[kLanes] = {};
  float table[kLanes][kWaveSize];
  float phase[kLanes] = {};
  int32_t pos[kLanes] = {};
  double coef[kLanes] = {};
  double inc[kLanes] = {};
  double vib[kLanes] = {};
  double gain[kLanes] = {};    // decay: running gain
  double factor[kLanes] = {};  // decay: factor per sample
  double lp[kLanes] = {};      // high-pass: low-pass state
  double pole[kLanes] = {};    // high-pass: pole
  double ra[kLanes] = {};      // resonator states
  double rb[kLanes] = {};
  int32_t fadeIn[kLanes] = {};
  int32_t fadeOut[kLanes] = {};
  float peak[kLanes] = {};
  alignas(64) double step[kLanes][2 * kChunk];

  // Resonator of the bass layer: FxResonator(1600, 0.9, 1).
  const stages::Resonator bassResonator(1600.0f, 0.9f, 1.0f);
  const double rd = bassResonator.d;
  const double rfb = bassResonator.feedback;
  const double rmix = bassResonator.mix;

  auto start = [&](int k) {
    const LayerPlan& p = *job[k].plan;
    kind[k] = p.kind;
    length[k] = p.len;
    rendered[k] = 0;
    std::memcpy(table[k], p.wave.WaveTable, sizeof table[k]);
    phase[k] = p.wave.WavePhase;
    pos[k] = p.wave.WaveDiffPos;
    coef[k] = p.wave.WaveDiffCoef;
    inc[k] = p.wave.WaveInc;
    vib[k] = p.wave.VibPhase;
    gain[k] = 1.0;
    lp[k] = 0.0;
    ra[k] = 0.0;
    rb[k] = 0.0;
    peak[k] = 0.0f;
    if (p.kind == LayerKind::kCubic) {
      factor[k] = 0.999985;
      pole[k] = 0.92f;
    } else if (p.kind == LayerKind::kArc) {
      factor[k] = 1.0 - p.voiceFreq * 3e-7;
      pole[k] = 0.8f;
    } else {
      fadeIn[k] = p.fadeIn > p.len ? p.len : p.fadeIn;
      fadeOut[k] = 3000 > p.len ? p.len : 3000;
    }
  };

  // The passes that need the whole layer: normalisation and what follows it.
  auto finish = [&](int k) {
    stages::Peak pk;
    pk.m = peak[k];
    const LayerPlan& p = *job[k].plan;
    if (kind[k] == LayerKind::kCubic) {
      stages::ScaleAndFade(job[k].out, p.len, pk, 0.1f, 50, 6000);
    } else if (kind[k] == LayerKind::kArc) {
      stages::ScaleAndFade(job[k].out, p.len, pk, 0.1f, 50, 5000);
    } else {
      stages::ScaleAndHighPass(job[k].out, p.len, pk, p.peak, 0.975f);
    }
  };

  // Sample i of the current chunk in lane k.
  auto sample = [&](int k, int32_t i) __attribute__((always_inline)) {
    float y;
    if (kind[k] == LayerKind::kBass) {
      const double x = stages::OscCall(table[k], phase[k], pos[k], coef[k], step[k][i]);
      rb[k] = (rb[k] + rd * ra[k]) + x;
      ra[k] = (ra[k] - rd * rb[k]) * rfb;
      y = stages::Fade(Single((1.0 - rmix) * x + rmix * rb[k]), rendered[k] + i, length[k],
                       fadeIn[k], fadeOut[k]);
    } else {
      float v;
      if (kind[k] == LayerKind::kCubic) {
        const float a = stages::OscCall(table[k], phase[k], pos[k], coef[k], step[k][2 * i]);
        const float b = stages::OscCall(table[k], phase[k], pos[k], coef[k], step[k][2 * i + 1]);
        v = Single(static_cast<double>(a) + b);
      } else {
        v = stages::OscCall(table[k], phase[k], pos[k], coef[k], step[k][i]);
      }
      v = Single(v * gain[k]);  // decay
      gain[k] = gain[k] * factor[k];
      const double x = v;  // high-pass
      lp[k] = (1.0 - pole[k]) * x + pole[k] * lp[k];
      y = Single(x - lp[k]);
    }
    const float a = std::fabs(y);
    peak[k] = a > peak[k] ? a : peak[k];  // a NaN never wins, as in FxNormalize
    job[k].out[rendered[k] + i] = y;
  };

  int live = 0;
  for (int k = 0; k < kLanes && next(job[k]); ++k) {
    start(k);
    active[k] = true;
    ++live;
  }
  while (live > 0) {
    // Run every live lane up to the nearest layer end (or a chunk).
    int32_t chunk = kChunk;
    for (int k = 0; k < kLanes; ++k) {
      if (active[k] && length[k] - rendered[k] < chunk) chunk = length[k] - rendered[k];
    }
    for (int k = 0; k < kLanes; ++k) {
      if (!active[k]) continue;
      const int32_t calls = kind[k] == LayerKind::kCubic ? 2 * chunk : chunk;
      vib[k] = VibratoSteps(vib[k], inc[k], step[k], calls);
    }
    if (live == kLanes) {
      for (int32_t i = 0; i < chunk; ++i) {
        sample(0, i);
        sample(1, i);
        sample(2, i);
        sample(3, i);
      }
    } else {
      for (int k = 0; k < kLanes; ++k) {
        if (!active[k]) continue;
        for (int32_t i = 0; i < chunk; ++i)
          sample(k, i);
      }
    }
    for (int k = 0; k < kLanes; ++k) {
      if (!active[k]) continue;
      rendered[k] += chunk;
      if (rendered[k] < length[k]) continue;
      finish(k);
      done(job[k]);
      if (next(job[k])) {
        start(k);
      } else {
        active[k] = false;
        --live;
      }
    }
  }
}

}  // namespace quom
