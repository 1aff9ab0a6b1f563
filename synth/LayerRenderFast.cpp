// Rendering planned layers fast: the oscillator loop with the first effects fused into it, then
// one pass for the rest. Each stage keeps its own running values and rounds where the literal
// chain of effects stores, so the bits are those of RenderLayerLiteral.
#include <cmath>

#include "synth/Layer.h"
#include "synth/LayerStages.h"
#include "synth/Rounding.h"
#include "synth/WaveRun.h"
#include "synth/modGenDrum.h"

namespace quom {

namespace {

using stages::Decay;
using stages::Fade;
using stages::HighPass;
using stages::Peak;
using stages::Resonator;
using stages::ScaleAndFade;
using stages::ScaleAndHighPass;

void RenderCubic(const LayerPlan& p, float* out) {
  modString w = p.wave;
  Decay decay{0.999985};
  HighPass hp{0.92f};
  Peak peak;
  float first = 0.0f;
  bool odd = false;
  float* o = out;
  // Two oscillator reads per sample, summed, decayed and high-passed as they come.
  WaveRun(w, p.Calls(), [&](float v) {
    if (!odd) {
      first = v;
    } else {
      const float y = hp(decay(Single(static_cast<double>(first) + v)));
      peak(y);
      *o++ = y;
    }
    odd = !odd;
  });
  ScaleAndFade(out, p.len, peak, 0.1f, 50, 6000);
}

void RenderArc(const LayerPlan& p, float* out) {
  modString w = p.wave;
  Decay decay{ArcDecayFactor(p.voiceFreq)};
  HighPass hp{0.8f};
  Peak peak;
  float* o = out;
  WaveRun(w, p.Calls(), [&](float v) {
    const float y = hp(decay(v));
    peak(y);
    *o++ = y;
  });
  ScaleAndFade(out, p.len, peak, 0.1f, 50, 5000);
}

void RenderBass(const LayerPlan& p, float* out) {
  modString w = p.wave;
  const int32_t n = p.len;
  const int32_t fadeIn = p.fadeIn > n ? n : p.fadeIn;
  const int32_t fadeOut = 3000 > n ? n : 3000;
  Resonator resonator(1600.0f, 0.9f, 1.0f);  // fully wet
  Peak peak;
  int32_t j = 0;
  // Resonance, then the fade, then the peak; normalisation and the high-pass after.
  WaveRun(w, p.Calls(), [&](float v) {
    const float y = Fade(resonator(v), j, n, fadeIn, fadeOut);
    peak(y);
    out[j++] = y;
  });
  ScaleAndHighPass(out, n, peak, p.peak, 0.975f);
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
