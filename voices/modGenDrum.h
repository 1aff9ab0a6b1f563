// Percussion instrument, split into planning (its draws) and rendering from the sample bank.
#pragma once

#include <cstdint>

#include "base/Simd.h"
#include "voices/Layer.h"

namespace quom {

struct Engine;

// Plans the drum sound of a note number, making its draws; false for note numbers that play
// nothing (no voice, no draw). The arguments are those of VoiceDrum.
bool PlanDrum(Engine& e, int32_t Note, float Gain, float StartSec, float LenSec, LayerPlan& p);

// Copies the sound's stretch of the bank into out[0 .. p.len-1] and shapes it, with the vector
// instructions of `path` where they help (every path gives the same bits). Throws
// std::logic_error if the bank has not been built.
void RenderDrum(const LayerPlan& p, const modSamples& s, float* out,
                SimdPath path = SimdPath::kScalar);

}  // namespace quom
