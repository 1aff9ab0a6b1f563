// The reverb's two lap kernels, written once and compiled for every vector path: the line's values
// for a stretch of positions of a lap, and the wet frames made from them; each in two roundings.
#pragma once

#include <array>
#include <cstdint>

#include "base/Simd.h"
#include "units/reverb/modFXReverb.h"

namespace quom {

constexpr int32_t kReverbChunk = 512;  // frames (or line positions) of one kernel call

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

ReverbLapTaps SortReverbTaps(const ReverbTaps& taps);

// How the kernels round their sums to float: by converting there and back, or by splitting off
// the low bits of the double sum, which gives the same float wherever the float is normal or zero
// (and only there: see ReverbSplitGate). Which is faster depends on the processor.
enum class ReverbRounding { kConvert, kSplit };

// y of kReverbChunk frames, each from half of y a lap (8192 frames) earlier and the TapIn of the
// lap up to it; tapIn and y point at the first frame. TapIn and y are floats held as doubles, so
// that only the roundings cost a conversion.
using ReverbLineKernel = void (*)(const ReverbLapTaps&, const double* tapIn, double* y,
                                  int32_t count);
// The wet left and right of kReverbChunk frames, from y of those frames and of the lap before;
// y points at the first frame.
using ReverbWetKernel = void (*)(const ReverbLapTaps&, const double* y, float* left, float* right,
                                 int32_t count);

struct ReverbLapKernels {
  ReverbLineKernel line = nullptr;
  ReverbWetKernel wet = nullptr;
};

// The kernels of one rounding on `path`.
ReverbLapKernels PickReverbLapKernels(SimdPath path, ReverbRounding rounding);

// The rounding whose kernels on `path` run faster on this processor, timed on a few chunks.
ReverbRounding FasterReverbRounding(SimdPath path);

}  // namespace quom
