// The sample rate: 44,100 frames per second everywhere. A time in seconds becomes a frame index
// or a sample count by multiplying by it and rounding to nearest, ties to even.
#pragma once

#include <cstdint>

namespace quom {

constexpr int32_t kSampleRate = 44100;  // frames per second
constexpr double kSampleRateHz = kSampleRate;

}  // namespace quom
