// Reverb: the send channel, smoothed twice, is scattered through 128 seeded taps into a circular
// line; each cell coming due is spread back out through the same taps into a stereo wet buffer,
// halved, and left to come round again; the wet buffer is finally added into L and R.
#pragma once

#include <array>
#include <cstdint>
#include <functional>

#include "base/Simd.h"
#include "render/Engine.h"

namespace quom {

constexpr int kReverbTaps = 128;
constexpr int kReverbLineLen = 8192;  // cells; a power of two, so positions wrap with AND

// The 128 taps: a delay (0 .. 8192 frames), a gain and a share for the right channel each.
struct ReverbTaps {
  std::array<int32_t, kReverbTaps> TapDelay{};
  std::array<float, kReverbTaps> TapGain{};
  std::array<float, kReverbTaps> TapPan{};
};

// Reseeds the generators with 13 and draws the taps, three values per tap: delay, gain, pan.
void DrawReverbTaps(modTools& t, ReverbTaps& taps);

// Adds the reverb of MixBuf's Send channel into L and R; Send is left as it was. Reseeds the
// shared generators with 13 and draws the taps from them, so every call on the same bus gives the
// same result. Frames 0 .. MixLen - 8191 feed the line (none when MixLen < 8191), reporting 0.035
// progress units every 1024 of them. Frame by frame, with a wet buffer of MixLen + 8192 frames.
void FxReverb(Engine& e);

// The same, to the bit, with the same generator calls and progress calls, computed a lap of the
// line at a time with vector kernels of the given path, on `threads` threads (the calling thread
// and threads - 1 of its own), holding a few laps instead of the wet buffer. The progress calls
// come from the calling thread, a few laps at a time; if one throws, the other threads stop, the
// bus is left partly reverberated, and the exception is passed on.
//
// `framesDone`, when given, is called on the calling thread with each stretch of frames
// [from, to) as soon as the reverb is in them, in order from frame 0 up to MixLen: nothing
// touches those frames of the bus afterwards, so the caller may convert them and hand their
// pages back while the reverb goes on. An exception from it stops the reverb like a progress
// call's.
using ReverbFramesDone = std::function<void(int32_t from, int32_t to)>;
void FxReverb(Engine& e, SimdPath path, int threads = 1, const ReverbFramesDone& framesDone = {});

// The two ways of running the reverb with the taps given, drawing nothing: for tap sets the seed
// does not give (delays of 0 and 8192, many shared delays).
void ReverbFrameByFrame(Engine& e, const ReverbTaps& taps);
void ReverbByLaps(Engine& e, const ReverbTaps& taps, SimdPath path, int threads,
                  const ReverbFramesDone& framesDone = {});

}  // namespace quom
