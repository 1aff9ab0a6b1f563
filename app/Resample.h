// The piece at another sample rate, through libsoxr's high-quality resampler, for the encoders
// that do not take 44,100 Hz. The result is outside the bit-exact guarantee: libsoxr picks its
// own vector code on each machine.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>

namespace quom {

// Resamples interleaved 16-bit stereo from `from` to `to` frames per second and hands the result
// to `sink` in blocks of interleaved float frames (full scale 1.0), in order. Throws
// std::runtime_error with libsoxr's reason.
void ResampleStereo(std::span<const int16_t> pcm, int from, int to,
                    const std::function<void(const float* frames, size_t count)>& sink);

}  // namespace quom
