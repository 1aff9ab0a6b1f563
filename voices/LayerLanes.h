// The fast renderer of tonal layers: several at a time on one thread, one in each lane of the
// vectors of the chosen instruction set, or one alone.
//
// One layer's oscillator is a chain of dependent operations (the phase, the smoothing sweep, the
// decay and high-pass states), so a single layer leaves most of the processor idle. The lanes run
// as many layers side by side as the path's vectors hold, each with its own state, and give every
// layer the bits of RenderLayerLiteral.
#pragma once

#include <cstddef>
#include <functional>

#include "base/Simd.h"
#include "voices/Layer.h"

namespace quom {

struct LayerJob {
  const LayerPlan* plan = nullptr;  // a tonal layer (cubic, arc or bass)
  float* out = nullptr;             // plan->len samples
  size_t index = 0;                 // the caller's tag
};

// Takes jobs from `next` (false when there are none for now) and renders them, calling `done` for
// each as soon as it is finished; jobs finish in any order. A lane left without a job asks again
// after the next chunk of the others, and the call returns once `next` has nothing and every lane
// is done. `path` picks the vector instructions (and so the number of lanes); every path gives
// the same bits. Throws std::invalid_argument for a drum layer.
void RenderLayersInLanes(const std::function<bool(LayerJob&)>& next,
                         const std::function<void(const LayerJob&)>& done,
                         SimdPath path = BestSimdPath());

// One tonal layer alone: the lanes with a single lane, the vibrato on `path`.
void RenderLayerAlone(const LayerPlan& p, float* out, SimdPath path = BestSimdPath());

}  // namespace quom
