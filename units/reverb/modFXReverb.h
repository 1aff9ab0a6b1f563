// Reverb: the send channel, smoothed twice, is scattered through 128 seeded taps into a circular
// line; each cell coming due is spread back out through the same taps into a stereo wet buffer,
// halved, and left to come round again; the wet buffer is finally added into L and R.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "base/Simd.h"
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

// ---------------------------------------------------------------------------------------------
// The same bits a lap of the line at a time, with vector kernels, holding a round of a few laps
// instead of the wet buffer. A round goes like this:
//
//   ReverbLapsLines(r, c)    for c in 0 .. kReverbLineChunks - 1, in any order or at once
//   ReverbLapsWet(r, g, c)   for c in 0 .. kReverbWetChunks - 1, likewise, once the lines are done
//   ReverbLapsSend(r, g, r.base + kReverbRound)   the next round's send, beside the wet chunks
//   ReverbLapsNext(r)        once the wet chunks are done
//
// after ReverbLapsStart and ReverbLapsSend(r, g, 0). The wet chunks finish the frames of their
// round: nothing touches frames [r.base, r.base + kReverbRound) of the bus after them, and they
// touch no frame of an earlier round, nor the Send of any frame.

constexpr int32_t kReverbRoundLaps = 8;
constexpr int32_t kReverbRound = kReverbRoundLaps * kReverbLineLen;  // frames per round
constexpr int32_t kReverbChunk = 512;  // frames (or line positions) of one piece of work
constexpr int32_t kReverbLineChunks = kReverbLineLen / kReverbChunk;
constexpr int32_t kReverbWetChunks = kReverbRound / kReverbChunk;

// The taps in the two orders the lap computation adds them in.
struct ReverbLapTaps {
  // Line order: delay descending, 0 counted as 8192; ties by tap number.
  std::array<int32_t, kReverbTaps> lineDelay{};  // 1 .. 8192
  std::array<double, kReverbTaps> lineGain{};
  // Wet order: delay descending, ties by tap number.
  std::array<int32_t, kReverbTaps> wetDelay{};  // 0 .. 8192
  std::array<double, kReverbTaps> wetGain{}, wetLeft{}, wetRight{};
  // The gain times each share, where that product is exact in double: then y * gain * share is
  // y times it, rounded once either way. The right share always is (two floats); the left one,
  // 1 - pan, has too many bits for a few small pans, whose taps keep the two products.
  std::array<double, kReverbTaps> wetGainLeft{}, wetGainRight{};
  std::array<bool, kReverbTaps> wetLeftExact{};
};

// How the lap kernels round their sums to float: by converting there and back, or by splitting
// off the low bits of the double sum, which gives the same float wherever the float is normal or
// zero. Which is faster depends on the processor; either way the kernels convert the sums of a
// round whose inputs could take a sum below the normal range or near the largest float.
enum class ReverbRounding { kConvert, kSplit };

using ReverbLineKernel = void (*)(const ReverbLapTaps&, const double* tapIn, double* y,
                                  int32_t count);
using ReverbWetKernel = void (*)(const ReverbLapTaps&, const double* y, float* left, float* right,
                                 int32_t count);

struct ReverbLaps {
  ReverbLapTaps taps;
  ReverbLineKernel line[2] = {};  // by ReverbRounding
  ReverbWetKernel wet[2] = {};
  ReverbRounding rounding = ReverbRounding::kConvert;  // where the inputs allow the split
  // Inputs (TapIn for the line, y for the wet frames) that are zero or from this large up to
  // 2^100 make every sum of their products zero, or a multiple of the smallest float far below
  // the largest: there the split rounds as a conversion does.
  double lineFloor = 0.0;
  double wetFloor = 0.0;
  bool tapInSmall = false;        // TapIn of the round has values below lineFloor
  bool tapInSmallBefore = false;  // ... of the round before, whose last lap the line reads too
  bool tapInLarge = false;        // TapIn went above the ceiling (or was NaN) at some round so far
  std::array<bool, kReverbLineChunks> yFits{};  // each line chunk's y of the round
  bool yFitsBefore = true;                      // every y of the round before
  int32_t MixLen = 0;
  int32_t lastFrame = -1;  // the last frame fed into the line; -1 when none is
  int32_t rounds = 0;      // rounds that cover the bus
  int32_t base = 0;        // the first frame of the current round
  // TapIn and y of the lap before the round and of the round: frame j at index j - base + 8192.
  // Both are floats held as doubles, so that only the roundings cost a conversion.
  std::vector<double> tapIn, y;
  float SendLp = 0.0f;
  float TapIn = 0.0f;
};

// Sets up a reverb of a bus of MixLen frames with the taps given, on the kernels of `path`,
// rounding as given where the inputs allow it.
void ReverbLapsStart(ReverbLaps& r, const ReverbTaps& taps, int32_t MixLen, SimdPath path,
                     ReverbRounding rounding);

// The rounding whose kernels on `path` run faster on this processor, timed on a few chunks.
ReverbRounding FasterReverbRounding(SimdPath path);

// TapIn for the round starting at frame `from`, after keeping the last lap of the one before:
// reads the Send of those frames. Rounds in order, starting at 0.
void ReverbLapsSend(ReverbLaps& r, const modGen& g, int32_t from);

// The line values of positions [c * 512, c * 512 + 512) of every lap of the round. Chunks write
// values of their own only.
void ReverbLapsLines(ReverbLaps& r, int32_t chunk);

// The wet frames [c * 512, c * 512 + 512) of the round, added into L and R of the bus.
void ReverbLapsWet(const ReverbLaps& r, modGen& g, int32_t chunk);

// On to the next round: keeps the last lap of y.
void ReverbLapsNext(ReverbLaps& r);

}  // namespace quom
