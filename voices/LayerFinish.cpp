// The last passes over a tonal layer, once its peak is known.
#include "voices/LayerStages.h"

namespace quom::stages {

void FinishLayer(const LayerPlan& p, float* out, const Peak& peak, SimdPath path) {
  const ToneEffects fx = EffectsOf(p);
  if (fx.resonant) {
    ScaleAndHighPass(out, p.len, peak, fx.peak, fx.highPass);
  } else {
    ScaleAndFade(out, p.len, peak, fx.peak, fx.fadeIn, fx.fadeOut, path);
  }
}

}  // namespace quom::stages
