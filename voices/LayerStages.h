// The settings of the tonal kinds' effects, from their recipe (EffectsOf), for the renderers
// that fuse the effects' steps (units/modFX.h) into their loops.
#pragma once

#include <algorithm>
#include <cstdint>

#include "base/Simd.h"
#include "units/modFX.h"
#include "voices/Layer.h"

namespace quom::stages {

// A bass layer's resonance.
inline const Resonator<double> kBassResonator = [] {
  LayerPlan bass;
  bass.kind = LayerKind::kBass;
  const ToneEffects fx = EffectsOf(bass);
  return Resonator<double>{ResonatorCoefficient(fx.resonance), fx.feedback, fx.mix};
}();

// A cubic or arc layer's FxDecay factor and FxHighPass pole.
struct Tone {
  double factor;
  double pole;
};
inline Tone ToneOf(const LayerPlan& p) {
  const ToneEffects fx = EffectsOf(p);
  return {fx.decay, fx.highPass};
}

// A bass layer's fade-in and fade-out, cut to the layer.
struct Fades {
  int32_t in;
  int32_t out;
};
inline Fades BassFades(const LayerPlan& p) {
  const ToneEffects fx = EffectsOf(p);
  return {std::min(fx.fadeIn, p.len), std::min(fx.fadeOut, p.len)};
}

// The passes that need the whole tonal layer, its peak known: the normalisation and what
// follows it for the layer's kind.
void FinishLayer(const LayerPlan& p, float* out, const Peak& peak, SimdPath path = BestSimdPath());

}  // namespace quom::stages
