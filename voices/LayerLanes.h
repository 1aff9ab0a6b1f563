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
#include <memory>

#include "base/Simd.h"
#include "voices/Layer.h"

namespace quom {

struct LayerJob {
  const LayerPlan* plan = nullptr;  // a tonal layer (cubic, arc or bass)
  float* out = nullptr;             // plan->len samples
  size_t index = 0;                 // the caller's tag
};

// Room for the lanes of one RenderLayersInLanes call at a time, kept from one call to the next:
// the lanes take some 200 KB, whose pages a new allocation would fault in again every time.
class LaneRoom {
 public:
  // At least `bytes`, 64-byte aligned; what an earlier call left there is not kept.
  void* Take(size_t bytes);

 private:
  struct Free {
    void operator()(void* p) const;
  };
  std::unique_ptr<void, Free> room_;
  size_t bytes_ = 0;
};

// Takes jobs from `next` (false when there are none for now) and renders them, calling `done` for
// each as soon as it is finished; jobs finish in any order. A lane left without a job asks again
// after the next chunk of the others, and the call returns once `next` has nothing and every lane
// is done. `path` picks the vector instructions (and so the number of lanes); every path gives
// the same bits. The lanes live in `room` when one is given. Throws std::invalid_argument for a
// drum layer.
void RenderLayersInLanes(const std::function<bool(LayerJob&)>& next,
                         const std::function<void(const LayerJob&)>& done,
                         SimdPath path = BestSimdPath(), LaneRoom* room = nullptr);

// One tonal layer alone: the lanes with a single lane, the vibrato on `path`.
void RenderLayerAlone(const LayerPlan& p, float* out, SimdPath path = BestSimdPath());

}  // namespace quom
