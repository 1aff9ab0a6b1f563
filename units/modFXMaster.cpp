// Master stage: level, envelope, gain and soft clip, one frame at a time.
#include "units/modFXMaster.h"

#include <cmath>
#include <stdexcept>

#include "base/Rounding.h"

namespace quom {

namespace {

constexpr double kKnee = 32000.0;    // PCM units where the clipper starts to bend
constexpr double kHeadroom = 767.0;  // the knee approaches kKnee + 767 = 32767
// Adding and taking away 1.5 * 2^52 rounds a double below 2^51 in magnitude to an integer, to
// nearest with ties to even: what RoundToInt16 does, without a library call per sample.
constexpr double kRoundMagic = 6755399441055744.0;
constexpr float kTargetLevel = 22000.0f;  // envelope level held by the limiter; also b's start
constexpr double kLiftOffset = 11000.0;   // below the target: u = 33000 / (b + 11000)
constexpr double kLiftNumerator = 33000.0;

// One-pole envelope coefficients, single precision: 5 ms attack (1 / 220.5 samples at 44.1 kHz)
// while the level is above the envelope, 200 ms release (1 / 8820) otherwise.
constexpr float kAttack = static_cast<float>(1.0 / 220.5);
constexpr float kAttackKeep = static_cast<float>(1.0 - 1.0 / 220.5);
constexpr float kRelease = static_cast<float>(1.0 / 8820.0);
constexpr float kReleaseKeep = static_cast<float>(1.0 - 1.0 / 8820.0);

// SoftClip, inlined into the master loop.
inline int16_t SoftClipInline(float x) {
  const double xd = x;
  double value = xd;
  if (xd > kKnee) {
    const double y = xd - kKnee;
    // (767 * y) / (y + 767), in this order; the ratio tends to 1 as y grows.
    value = std::isinf(y) ? kKnee + kHeadroom : kKnee + kHeadroom * y / (y + kHeadroom);
  } else if (xd < -kKnee) {
    const double y = -kKnee - xd;
    value = std::isinf(y) ? -kKnee - kHeadroom : -kKnee - kHeadroom * y / (y + kHeadroom);
  }
  if (value != value) return 0;  // NaN falls through both tests
  // Within +-32767 here, so the rounded value fits.
  return static_cast<int16_t>((value + kRoundMagic) - kRoundMagic);
}

}  // namespace

int16_t SoftClip(float x) {
  return SoftClipInline(x);
}

void FxMaster(const modGen& g, std::span<int16_t> PcmBuf) {
  if (g.MixLen <= 0) return;
  if (PcmBuf.size() / 2 < static_cast<size_t>(g.MixLen)) {
    throw std::length_error("FxMaster: PcmBuf holds fewer than 2 * MixLen values");
  }
  float b = kMasterStartLevel;
  FxMasterFrames(g, PcmBuf, 0, g.MixLen, b);
}

void FxMasterFrames(const modGen& g, std::span<int16_t> PcmBuf, int32_t from, int32_t to,
                    float& envelope) {
  if (from < 0 || to > g.MixLen || from > to || PcmBuf.size() / 2 < static_cast<size_t>(to)) {
    throw std::length_error("FxMasterFrames: frames outside the bus or PcmBuf");
  }
  float b = envelope;
  for (int32_t i = from; i < to; ++i) {
    const double L = g.MixBuf[i].L;
    const double R = g.MixBuf[i].R;

    // One level for both channels. The right product is rounded to single before the
    // comparison; the left one is taken as it is when it wins or ties.
    const double left = std::fabs(L) * kMixToPcm;
    const float right = Single(std::fabs(R) * kMixToPcm);
    const double e = left >= right ? left : right;

    // Both candidates, then the choice by index: the level crosses the envelope too often for
    // a branch to be predicted.
    const float next[2] = {Single(e * kRelease + b * static_cast<double>(kReleaseKeep)),
                           Single(e * kAttack + b * static_cast<double>(kAttackKeep))};
    b = next[e > b];

    const float u = b > kTargetLevel ? Single(kTargetLevel / static_cast<double>(b))
                                     : Single(kLiftNumerator / (b + kLiftOffset));

    // (sample * 200000) * u, rounded to single before the clipper.
    PcmBuf[2 * static_cast<size_t>(i)] = SoftClipInline(Single(L * kMixToPcm * u));
    PcmBuf[2 * static_cast<size_t>(i) + 1] = SoftClipInline(Single(R * kMixToPcm * u));
  }
  envelope = b;
}

}  // namespace quom
