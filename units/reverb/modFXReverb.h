// Reverb: the send channel, smoothed twice, is scattered through 128 seeded taps into a circular
// line; each cell coming due is spread back out through the same taps into a stereo wet buffer,
// halved, and left to come round again; the wet buffer is finally added into L and R.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "base/modTools.h"
#include "units/modGen.h"

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

// Frames of a bus of MixLen frames that feed the line: 0 .. MixLen - 8191, none when MixLen is
// below 8191. The wet tail of the last one must still fit the wet buffer.
constexpr int32_t ReverbFedFrames(int32_t MixLen) {
  return MixLen < kReverbLineLen - 1 ? 0 : MixLen - (kReverbLineLen - 1) + 1;
}

// ---------------------------------------------------------------------------------------------
// Frame by frame, with a wet buffer of MixLen + 8192 frames.

struct WetFrame {
  float L = 0.0f;
  float R = 0.0f;
};

// One FxReverb under way.
struct ReverbState {
  ReverbTaps taps;
  std::vector<float> ReverbLine;
  std::vector<WetFrame> WetBuf;
  float SendLp = 0.0f;
  float TapIn = 0.0f;
  int32_t LinePos = 0;
  int32_t fed = 0;        // frames fed so far
  int32_t frames = 0;     // frames to feed in all
  bool wetAdded = false;  // the wet buffer is in the bus
};

// Sets up a reverb of a bus of MixLen frames with the taps given: an empty line and wet buffer.
void ReverbStart(ReverbState& r, const ReverbTaps& taps, int32_t MixLen);

// Feeds the next `count` frames of Send into the line (fewer at the end) and returns how many it
// fed. Once every frame is fed (by this call, or before it when there is none to feed), adds the
// wet buffer into L and R, once; wet frames from MixLen on are dropped and Send is left as it was.
int32_t FxReverb(modGen& g, ReverbState& r, int32_t count);

}  // namespace quom
