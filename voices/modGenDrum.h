// Percussion instrument, split into planning (its draws) and rendering from the sample bank.
#pragma once

#include <cstdint>

#include "base/Simd.h"
#include "base/modTools.h"
#include "voices/Layer.h"

namespace quom {

// The bank buffer a drum sound copies from.
enum class DrumSource : uint8_t { kKick, kNoise, kPlateSmall, kPlateMid, kPlateBig, kPlateBigLow };

// One of the seven drum sounds: where it comes from, how long it is, where it sits. Its effects
// are RenderDrum's.
struct DrumSound {
  DrumSource source;
  int32_t len;  // samples; 0: follows the note's length (DrumLength)
  float pan;    // 0 is left only, 1 right only
  double send;  // reverb send, times the gain
  int draws;    // uniform draws it makes when planned
};

// The sound a drum note number plays; null for note numbers that play nothing.
const DrumSound* DrumSoundOf(int32_t Note);

// The samples a drum note plays for a note of LenSec seconds; 0 when it plays nothing.
int32_t DrumLength(int32_t Note, float LenSec);

// Plans the drum sound of a note number, making its draws from `t`; false for note numbers that
// play nothing (no voice, no draw). The other arguments are those of VoiceDrum.
bool PlanDrum(modTools& t, int32_t Note, float Gain, float StartSec, float LenSec, LayerPlan& p);

// Copies the sound's stretch of the bank into out[0 .. p.len-1] and shapes it, with the vector
// instructions of `path` where they help (every path gives the same bits). Throws
// std::logic_error if the bank has not been built.
void RenderDrum(const LayerPlan& p, const modSamples& s, float* out,
                SimdPath path = SimdPath::kScalar);

}  // namespace quom
