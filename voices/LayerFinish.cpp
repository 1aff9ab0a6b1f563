// The last passes over a tonal layer, once its peak is known.
#include "voices/LayerStages.h"

namespace quom::stages {

void FinishLayer(const LayerPlan& p, float* out, const Peak& peak, SimdPath path) {
  if (p.kind == LayerKind::kBass) {
    ScaleAndHighPass(out, p.len, peak, p.peak, 0.975f);
  } else {
    ScaleAndFade(out, p.len, peak, 0.1f, 50, p.kind == LayerKind::kCubic ? 6000 : 5000, path);
  }
}

}  // namespace quom::stages
