// Reverb: the send channel, smoothed twice, is scattered through 128 seeded taps into a circular
// line; each cell coming due is spread back out through the same taps into a stereo wet buffer,
// halved, and left to come round again; the wet buffer is finally added into L and R.
#pragma once

#include "song/Engine.h"

namespace quom {

constexpr int kReverbTaps = 128;
constexpr int kReverbLineLen = 8192;  // cells; a power of two, so positions wrap with AND

// Adds the reverb of MixBuf's Send channel into L and R; Send is left as it was. Reseeds the
// shared generators with 13 and draws the taps from them, so every call on the same bus gives the
// same result. Frames 0 .. MixLen - 8191 feed the line (none when MixLen < 8191), reporting 0.035
// progress units every 1024 of them.
void FxReverb(Engine& e);

}  // namespace quom
