// Rendering planned layers: the literal path, one oscillator call and one effect at a time.
#include "base/Rounding.h"
#include "units/modFX.h"
#include "voices/Layer.h"
#include "voices/modGenDrum.h"

namespace quom {

void RenderLayerLiteral(const LayerPlan& p, modString& w, const modSamples& bank, float* out) {
  const int32_t n = p.len;
  switch (p.kind) {
    case LayerKind::kCubic:
      for (int32_t i = 0; i < n; ++i) {
        const float a = WaveNext(w);
        const float b = WaveNext(w);
        out[i] = Single(static_cast<double>(a) + b);
      }
      FxDecay(out, n, 0.999985);  // about -5.75 dB per second
      FxHighPass(out, n, 0.92f);
      FxNormalize(out, n, 0.1f);
      FxFade(out, n, 50, 6000);
      break;
    case LayerKind::kArc:
      for (int32_t i = 0; i < n; ++i)
        out[i] = WaveNext(w);
      FxDecay(out, n, ArcDecayFactor(p.voiceFreq));
      FxHighPass(out, n, 0.8f);
      FxNormalize(out, n, 0.1f);
      FxFade(out, n, 50, 5000);
      break;
    case LayerKind::kBass:
      for (int32_t i = 0; i < n; ++i)
        out[i] = WaveNext(w);
      FxResonator(out, n, 1600.0f, 0.9f, 1.0f);  // fully wet
      FxFade(out, n, p.fadeIn, 3000);            // fade before normalising, high-pass after
      FxNormalize(out, n, p.peak);
      FxHighPass(out, n, 0.975f);
      break;
    case LayerKind::kDrum:
      RenderDrum(p, bank, out);
      break;
  }
}

}  // namespace quom
