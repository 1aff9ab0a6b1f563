// Tonal layers rendered two at a time: the loop body runs one sample of each lane, so the
// dependent chains of the two layers (phase, smoothing sweep, decay, high-pass) overlap.
//
// Each pair of layer kinds has a loop of its own, with the lanes' running values copied into
// locals for the chunk, so that they stay in registers: a value spilled to memory would put a
// store and a load into every link of its chain.
#include "voices/LayerLanes.h"

#include <cstring>

#include "units/Vibrato.h"
#include "voices/LayerStages.h"

namespace quom {

namespace {

constexpr int32_t kChunk = 128;  // samples per lane between refills of the vibrato steps

// A lane's running values: the oscillator's and those of the first effects of its kind.
struct Running {
  float phase = 0.0f;
  int32_t pos = 0;
  float below = 0.0f;  // table[pos - 1]
  double coef = 0.0;
  double gain = 1.0;    // decay: running gain
  double factor = 1.0;  // decay: factor per sample
  double lp = 0.0;      // high-pass: low-pass state
  double pole = 0.0;    // high-pass: pole
  double ra = 0.0;      // bass resonator states
  double rb = 0.0;
  int32_t fadeIn = 0;  // bass fades, cut to the layer
  int32_t fadeOut = 0;
  int32_t length = 0;
  int32_t rendered = 0;  // samples done
  float peak = 0.0f;
};

struct Lane {
  LayerJob job;
  LayerKind kind = LayerKind::kCubic;
  Running r;
  double vib = 0.0;
  double inc = 0.0;
  float table[kWaveSize];
  double step[2 * kChunk];  // the next calls' bent increments
  VibratoRotations rotations;

  void Start(const LayerJob& j) {
    const LayerPlan& p = *j.plan;
    job = j;
    kind = p.kind;
    std::memcpy(table, p.wave.WaveTable, sizeof table);
    vib = p.wave.VibPhase;
    inc = p.wave.WaveInc;
    r = Running{};
    r.phase = p.wave.WavePhase;
    r.pos = p.wave.WaveDiffPos;
    r.below = SweepBelow(table, r.pos);
    r.coef = p.wave.WaveDiffCoef;
    r.length = p.len;
    if (kind == LayerKind::kBass) {
      const stages::Fades fades = stages::BassFades(p);
      r.fadeIn = fades.in;
      r.fadeOut = fades.out;
    } else {
      const stages::Tone tone = stages::ToneOf(p);
      r.factor = tone.factor;
      r.pole = tone.pole;
    }
  }

  int32_t Left() const { return r.length - r.rendered; }

  void PrepareSteps(int32_t samples, SimdPath path) {
    const int32_t calls = kind == LayerKind::kCubic ? 2 * samples : samples;
    vib = VibratoSteps(vib, inc, step, calls, rotations, path);
  }

  // The passes that need the whole layer: normalisation and what follows it.
  void Finish(SimdPath path) {
    Peak peak;
    peak.m = r.peak;
    stages::FinishLayer(*job.plan, job.out, peak, path);
  }
};

// Sample i of a chunk of a lane of kind K.
template <LayerKind K>
[[gnu::always_inline]] inline void Sample(Running& r, float* table, const double* step, float* out,
                                          int32_t i) {
  float y;
  if constexpr (K == LayerKind::kBass) {
    // The resonance, then FxFade.
    const Resonator<double>& kRes = stages::kBassResonator;
    const double x = OscCall(table, r.phase, r.pos, r.below, r.coef, step[i]);
    r.rb = (r.rb + kRes.d * r.ra) + x;
    r.ra = (r.ra - kRes.d * r.rb) * kRes.feedback;
    y = Fade(Single((1.0 - kRes.mix) * x + kRes.mix * r.rb), r.rendered + i, r.length, r.fadeIn,
             r.fadeOut);
  } else {
    float v;
    if constexpr (K == LayerKind::kCubic) {
      const float a = OscCall(table, r.phase, r.pos, r.below, r.coef, step[2 * i]);
      const float b = OscCall(table, r.phase, r.pos, r.below, r.coef, step[2 * i + 1]);
      v = Single(static_cast<double>(a) + b);
    } else {
      v = OscCall(table, r.phase, r.pos, r.below, r.coef, step[i]);
    }
    v = Single(v * r.gain);  // FxDecay
    r.gain = r.gain * r.factor;
    const double x = v;  // FxHighPass
    r.lp = (1.0 - r.pole) * x + r.pole * r.lp;
    y = Single(x - r.lp);
  }
  const float a = std::fabs(y);
  r.peak = a > r.peak ? a : r.peak;  // a NaN never wins, as in FxNormalize
  out[i] = y;
}

template <LayerKind K>
void RunOne(Lane& l, int32_t chunk) {
  Running r = l.r;
  float* out = l.job.out + r.rendered;
  for (int32_t i = 0; i < chunk; ++i)
    Sample<K>(r, l.table, l.step, out, i);
  r.rendered += chunk;
  l.r = r;
}

template <LayerKind A, LayerKind B>
void RunPair(Lane& la, Lane& lb, int32_t chunk) {
  Running a = la.r;
  Running b = lb.r;
  float* outA = la.job.out + a.rendered;
  float* outB = lb.job.out + b.rendered;
  for (int32_t i = 0; i < chunk; ++i) {
    Sample<A>(a, la.table, la.step, outA, i);
    Sample<B>(b, lb.table, lb.step, outB, i);
  }
  a.rendered += chunk;
  b.rendered += chunk;
  la.r = a;
  lb.r = b;
}

void RunOne(Lane& l, int32_t chunk) {
  switch (l.kind) {
    case LayerKind::kCubic:
      return RunOne<LayerKind::kCubic>(l, chunk);
    case LayerKind::kArc:
      return RunOne<LayerKind::kArc>(l, chunk);
    default:
      return RunOne<LayerKind::kBass>(l, chunk);
  }
}

template <LayerKind A>
void RunPairWith(Lane& la, Lane& lb, int32_t chunk) {
  switch (lb.kind) {
    case LayerKind::kCubic:
      return RunPair<A, LayerKind::kCubic>(la, lb, chunk);
    case LayerKind::kArc:
      return RunPair<A, LayerKind::kArc>(la, lb, chunk);
    default:
      return RunPair<A, LayerKind::kBass>(la, lb, chunk);
  }
}

void RunPair(Lane& la, Lane& lb, int32_t chunk) {
  switch (la.kind) {
    case LayerKind::kCubic:
      return RunPairWith<LayerKind::kCubic>(la, lb, chunk);
    case LayerKind::kArc:
      return RunPairWith<LayerKind::kArc>(la, lb, chunk);
    default:
      return RunPairWith<LayerKind::kBass>(la, lb, chunk);
  }
}

}  // namespace

void RenderLayersInLanes(const std::function<bool(LayerJob&)>& next,
                         const std::function<void(const LayerJob&)>& done, SimdPath path) {
#ifndef QUOM_WITHOUT_WIDE_LANES  // the fuzzing build, compiled by Clang, leaves them out
  if (path == SimdPath::kAvx512) return RenderLayersWide(next, done);
#endif
  Lane lanes[2];
  bool active[2] = {};
  LayerJob job;
  for (int k = 0; k < 2 && next(job); ++k) {
    lanes[k].Start(job);
    active[k] = true;
  }
  while (active[0] || active[1]) {
    // Run the live lanes up to the nearest layer end (or a chunk).
    int32_t chunk = kChunk;
    for (int k = 0; k < 2; ++k) {
      if (active[k] && lanes[k].Left() < chunk) chunk = lanes[k].Left();
    }
    for (int k = 0; k < 2; ++k) {
      if (active[k]) lanes[k].PrepareSteps(chunk, path);
    }
    if (active[0] && active[1]) {
      RunPair(lanes[0], lanes[1], chunk);
    } else {
      RunOne(lanes[active[0] ? 0 : 1], chunk);
    }
    for (int k = 0; k < 2; ++k) {
      if (!active[k] || lanes[k].Left() > 0) continue;
      lanes[k].Finish(path);
      done(lanes[k].job);
      active[k] = next(job);
      if (active[k]) lanes[k].Start(job);
    }
  }
}

}  // namespace quom
