// Rendering planned layers fast: the oscillator loop with the first effects fused into it, then
// one pass for the rest. Each stage keeps its own running values and rounds where the literal
// chain of effects stores, so the bits are those of RenderLayerLiteral.
#include <cmath>

#include "base/Rounding.h"
#include "units/WaveRun.h"
#include "voices/Layer.h"
#include "voices/LayerStages.h"
#include "voices/modGenDrum.h"

namespace quom {

namespace {

using stages::BassFades;
using stages::Fades;
using stages::FinishLayer;
using stages::kBassResonator;
using stages::Tone;
using stages::ToneOf;

void RenderCubic(const LayerPlan& p, float* out) {
  modString w = p.wave;
  const Tone tone = ToneOf(p);
  Decay<double> decay{tone.factor};
  HighPass<double> hp{tone.pole};
  Peak peak;
  float first = 0.0f;
  bool odd = false;
  float* o = out;
  // Two oscillator reads per sample, summed, decayed and high-passed as they come.
  WaveRun(w, p.Calls(), [&](float v) {
    if (!odd) {
      first = v;
    } else {
      const float y = Single(hp(Single(decay(Single(static_cast<double>(first) + v)))));
      peak(y);
      *o++ = y;
    }
    odd = !odd;
  });
  FinishLayer(p, out, peak);
}

void RenderArc(const LayerPlan& p, float* out) {
  modString w = p.wave;
  const Tone tone = ToneOf(p);
  Decay<double> decay{tone.factor};
  HighPass<double> hp{tone.pole};
  Peak peak;
  float* o = out;
  WaveRun(w, p.Calls(), [&](float v) {
    const float y = Single(hp(Single(decay(v))));
    peak(y);
    *o++ = y;
  });
  FinishLayer(p, out, peak);
}

void RenderBass(const LayerPlan& p, float* out) {
  modString w = p.wave;
  const int32_t n = p.len;
  const Fades fades = BassFades(p);
  Resonator<double> resonator = kBassResonator;
  Peak peak;
  int32_t j = 0;
  // Resonance, then the fade, then the peak; normalisation and the high-pass after.
  WaveRun(w, p.Calls(), [&](float v) {
    const float y = Fade(Single(resonator(v)), j, n, fades.in, fades.out);
    peak(y);
    out[j++] = y;
  });
  FinishLayer(p, out, peak);
}

}  // namespace

void RenderLayerFast(const LayerPlan& p, const modSamples& bank, float* out) {
  switch (p.kind) {
    case LayerKind::kCubic:
      RenderCubic(p, out);
      break;
    case LayerKind::kArc:
      RenderArc(p, out);
      break;
    case LayerKind::kBass:
      RenderBass(p, out);
      break;
    case LayerKind::kDrum:
      RenderDrum(p, bank, out, BestSimdPath());
      break;
  }
}

}  // namespace quom
