// Rendering planned layers: the literal path, one oscillator call and one effect at a time.
#include "base/Rounding.h"
#include "units/modFX.h"
#include "voices/Layer.h"
#include "voices/modGenDrum.h"

namespace quom {

void RenderLayerLiteral(const LayerPlan& p, modString& w, const modSamples& bank, float* out) {
  const int32_t n = p.len;
  switch (p.kind) {
    case LayerKind::kCubic:  // two reads a sample at half the frequency, summed
      for (int32_t i = 0; i < n; ++i) {
        const float a = WaveNext(w);
        const float b = WaveNext(w);
        out[i] = Single(static_cast<double>(a) + b);
      }
      break;
    case LayerKind::kArc:
    case LayerKind::kBass:
      for (int32_t i = 0; i < n; ++i)
        out[i] = WaveNext(w);
      break;
    case LayerKind::kDrum:
      RenderDrum(p, bank, out);
      return;
  }
  const ToneEffects fx = EffectsOf(p);
  if (fx.resonant) {
    FxResonator(out, n, fx.resonance, fx.feedback, fx.mix);
    FxFade(out, n, fx.fadeIn, fx.fadeOut);
    FxNormalize(out, n, fx.peak);
    FxHighPass(out, n, fx.highPass);
  } else {
    FxDecay(out, n, fx.decay);
    FxHighPass(out, n, fx.highPass);
    FxNormalize(out, n, fx.peak);
    FxFade(out, n, fx.fadeIn, fx.fadeOut);
  }
}

}  // namespace quom
