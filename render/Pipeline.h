// The sample bank and the notes, built and rendered together on the task pool.
#pragma once

#include <cstdint>
#include <functional>
#include <span>

#include "base/Simd.h"
#include "render/Engine.h"
#include "render/TaskPool.h"

namespace quom {

// BuildSamples then RenderSong, to the bit: the same bank, bus, generator state and progress
// calls (made from the calling thread, in the same order), computed on the pool's workers with
// the vector kernels of `path`. `samplesBuilt` runs on the calling thread once the bank is
// complete, while the notes may still be rendering. If a progress call throws, the workers stop
// and the exception is passed on; so is a worker's. A plate not recorded to its length or a
// layer not mixed once every task has ended throws RenderIncomplete (render/Completeness.h);
// `leaveOut` names a layer to leave unmixed (-1: none), so that tests can see that happen.
void BuildSamplesAndRenderSong(Engine& e, std::span<const NoteRec> notes, float SecPerTick,
                               TaskPool& pool, const std::function<void()>& samplesBuilt = {},
                               SimdPath path = BestSimdPath(), int64_t leaveOut = -1);

}  // namespace quom
