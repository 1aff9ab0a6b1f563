// Renders tonal layers several at a time on one thread.
//
// One layer's oscillator is a chain of dependent operations (the phase, the smoothing sweep,
// the decay and high-pass states), so a single layer leaves most of the processor idle. Lanes
// run two layers side by side in one loop, each with its own state; with AVX-512, sixteen run in
// the lanes of vectors instead. The bits of every layer are those of RenderLayerFast.
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

// Takes jobs from `next` (false when there are no more) and renders them, calling `done` for
// each as soon as it is finished; jobs finish in any order.
// `path` picks the vector instructions (and registers) the lanes may use; every path gives the
// same bits.
void RenderLayersInLanes(const std::function<bool(LayerJob&)>& next,
                         const std::function<void(const LayerJob&)>& done,
                         SimdPath path = BestSimdPath());

// Tonal layers sixteen at a time in the lanes of AVX-512 vectors (the processor must have it);
// drum layers and oscillators far above the keyboard are rendered alone as they come. The same
// bits as RenderLayerFast.
void RenderLayersWide(const std::function<bool(LayerJob&)>& next,
                      const std::function<void(const LayerJob&)>& done);

}  // namespace quom
