// The settings of the tonal kinds' effects, for the renderers that fuse the effects' steps
// (units/modFX.h) into their loops.
#pragma once

#include <cstdint>

#include "base/Simd.h"
#include "units/modFX.h"
#include "voices/Layer.h"

namespace quom::stages {

// The bass layer's resonance: FxResonator(1600, 0.9, 1), fully wet.
inline constexpr Resonator<double> kBassResonator{ResonatorCoefficient(1600.0f), 0.9f, 1.0f};

// A cubic or arc layer's FxDecay factor and FxHighPass pole.
struct Tone {
  double factor;
  double pole;
};
inline Tone ToneOf(const LayerPlan& p) {
  if (p.kind == LayerKind::kCubic) return {0.999985, 0.92f};
  return {ArcDecayFactor(p.voiceFreq), 0.8f};
}

// A bass layer's fade-in and fade-out, cut to the layer.
struct Fades {
  int32_t in;
  int32_t out;
};
inline Fades BassFades(const LayerPlan& p) {
  return {p.fadeIn > p.len ? p.len : p.fadeIn, 3000 > p.len ? p.len : 3000};
}

// The passes that need the whole tonal layer, its peak known: the normalisation and what
// follows it for the layer's kind.
void FinishLayer(const LayerPlan& p, float* out, const Peak& peak, SimdPath path = BestSimdPath());

}  // namespace quom::stages
