// The reverb as a stage of the engine: frame by frame, or a lap at a time on the task pool, with
// the progress it reports every 1,024 frames fed into the line.
#pragma once

#include <cstdint>
#include <functional>

#include "base/Simd.h"
#include "render/Engine.h"
#include "render/TaskPool.h"

namespace quom {

constexpr int32_t kReverbProgressEvery = 1024;  // frames fed between two progress calls
constexpr float kReverbProgressUnits = 0.035f;

// FxReverb of the whole bus: adds the reverb of MixBuf's Send channel into L and R; Send is left
// as it was. Reseeds the shared generators with 13 and draws the taps from them, so every call on
// the same bus gives the same result. Frames 0 .. MixLen - 8191 feed the line (none when MixLen
// < 8191), reporting 0.035 progress units every 1024 of them. Frame by frame, with a wet buffer
// of MixLen + 8192 frames.
void ReverbFrameByFrame(Engine& e);

// Called on the calling thread with each stretch of frames [from, to) as soon as the reverb is
// in them, in order from frame 0 up to MixLen: nothing touches those frames of the bus
// afterwards, so the caller may convert them and hand their pages back while the reverb goes on.
using ReverbFramesDone = std::function<void(int32_t from, int32_t to)>;

// The same, to the bit, with the same generator calls and progress calls, a lap of the line at a
// time with the vector kernels of `path`: the pool's workers and the calling thread share each
// round's pieces, and the calling thread smooths the send, hands on the finished frames and makes
// the progress calls, a round at a time. If a progress call or framesDone throws, the workers
// stop, the bus is left partly reverberated, and the exception is passed on.
void ReverbByLaps(Engine& e, TaskPool& pool, SimdPath path,
                  const ReverbFramesDone& framesDone = {});

}  // namespace quom
