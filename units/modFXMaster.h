// Master stage: one stereo-linked envelope drives a limiter above 22000 and upward gain below it;
// the scaled samples pass the soft-knee clipper into interleaved 16-bit PCM.
#pragma once

#include <cstdint>
#include <span>

#include "base/Simd.h"
#include "units/modGen.h"

namespace quom {

// PCM units per mix-bus unit, in the level detector and the output alike.
constexpr double kMixToPcm = 200000.0;

// One sample in 16-bit units to a 16-bit value: unchanged within +-32000, bent beyond by a knee
// that approaches +-32767 without reaching it, rounded to nearest with ties to even. Odd
// symmetric; never -32768. Infinities give +-32767 (the knee's limit) and NaN gives 0.
int16_t SoftClip(float x);

// Converts MixBuf's L and R (frames 0 .. MixLen-1) into PcmBuf, interleaved L0 R0 L1 R1 ...
// PcmBuf must hold at least 2 * MixLen values (std::length_error otherwise); values past them are
// left alone. Nothing happens when MixLen <= 0.
void FxMaster(const modGen& g, std::span<int16_t> PcmBuf);

// The same conversion in pieces: frames [from, to) into PcmBuf[2 * from .. 2 * to), carrying
// the envelope `b` from one piece to the next (it starts at kMasterStartLevel). Pieces run in
// order over 0 .. MixLen give exactly FxMaster's result.
constexpr float kMasterStartLevel = 22000.0f;
void FxMasterFrames(const modGen& g, std::span<int16_t> PcmBuf, int32_t from, int32_t to, float& b);

// FxMasterFrames on the kernels of `path`, to the same bits: on wide vectors the gains and the
// clipper of a group of frames are computed while the envelope runs on through the next group.
void FxMasterFramesFast(const modGen& g, std::span<int16_t> PcmBuf, int32_t from, int32_t to,
                        float& b, SimdPath path);

}  // namespace quom
