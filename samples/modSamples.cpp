// The sample bank builders: noise burst, kick, and the three plate recordings.
#include "samples/modSamples.h"

#include <cmath>
#include <stdexcept>

#include "fx/modFX.h"
#include "samples/modPlate.h"
#include "song/Engine.h"
#include "synth/Rounding.h"

namespace quom {
namespace {

constexpr int32_t kNoiseLen = 32768;
constexpr int32_t kKickLen = 16384;
constexpr int32_t kPlateSmallLen = 90200;
constexpr int32_t kPlateMidLen = 60000;
constexpr int32_t kPlateBigLen = 150000;
constexpr int32_t kProgressMask = 1023;  // the plate builders report every 1,024 samples

std::vector<float>& Fresh(std::vector<float>& buf, int32_t n) {
  buf.assign(static_cast<size_t>(n), 0.0f);
  return buf;
}

// Records one plate: a PlateStep reading per sample, scaled by scale / (i + scale).
void RecordPlate(Engine& e, modPlate& plate, float threshold, double scale, float progress,
                 std::vector<float>& out) {
  const int32_t n = static_cast<int32_t>(out.size());
  for (int32_t i = 0; i < n; ++i) {
    const double p = PlateStep(plate, threshold);
    out[i] = Single((p * scale) / (i + scale));
    if ((i & kProgressMask) == 0) ShowProgress(e, progress);
  }
}

}  // namespace

void AttackBlend(std::vector<float>& dst, const std::vector<float>& small, double speed) {
  constexpr int32_t kBlendLen = 8000;
  constexpr double kWeight = 0.00015;  // per sample still to go: 1.2 at the start
  const size_t last = static_cast<size_t>(RoundToInt32((kBlendLen - 1) * speed));
  if (dst.size() < static_cast<size_t>(kBlendLen) || small.size() <= last) {
    throw std::logic_error("attack blend needs 8,000 samples and the small plate");
  }
  for (int32_t i = 0; i < kBlendLen; ++i) {
    const int32_t n = kBlendLen - i;
    // Nearest sample, ties to even: 15 * 0.7 = 10.5 reads index 10.
    const float a = small[RoundToInt32(i * speed)];
    dst[i] = Single((a * static_cast<double>(n)) * kWeight + dst[i]);
  }
}

void MakeNoise(Engine& e) {
  std::vector<float>& smp = Fresh(e.samples.SmpNoise, kNoiseLen);
  RndSeed(e.tools, 0);
  for (int32_t i = 0; i < kNoiseLen; ++i) {
    const double env = Single(10.0 / (i + 10));  // stored as float before it is used
    const double b = RndBrown(e.tools);          // the brown draw comes first
    const double u = RndUniform(e.tools);
    smp[i] = Single(((u - 0.5) * env) * env + ((((env * b) * env) * i) * 0.000012));
  }
  FxFade(smp.data(), kNoiseLen, 20, 32000);
}

void MakeKick(Engine& e) {
  std::vector<float>& smp = Fresh(e.samples.SmpKick, kKickLen);
  RndSeed(e.tools, 0);
  // A sine falling from about 104 Hz to 70 Hz over the first 2,000 samples.
  constexpr int32_t kSweepLen = 2000;
  for (int32_t i = 0; i < kSweepLen; ++i) {
    const int32_t i2 = i * i;
    smp[i] = Single(std::sin(1200000.0 / (i + 9000)) / (i2 * 0.00015 + 200.0));
  }
  FxFade(smp.data(), kSweepLen, 500, kSweepLen);
  // A click of brown noise that dies away within a few hundred samples.
  for (int32_t i = 0; i < kKickLen; ++i) {
    const int32_t i2 = i * i;  // at most 16,383^2: fits 32 bits
    smp[i] = Single(RndBrown(e.tools) / (i2 * 0.1 + 3000.0) + smp[i]);
  }
  FxResonator(smp.data(), kKickLen, 4000.0f, 0.75f, 1.0f);
  FxFade(smp.data(), kKickLen, 350, 6000);
  FxNormalize(smp.data(), kKickLen, 0.6f);
}

void MakePlateSmall(Engine& e) {
  std::vector<float>& smp = Fresh(e.samples.SmpPlateSmall, kPlateSmallLen);
  RndSeed(e.tools, 2);
  modPlate plate;
  PlateInit(plate, e.tools, 2, 16, 16, 0.36, 0.00042, 0.2);
  RecordPlate(e, plate, 0.5f, 10000.0, 0.25f, smp);
  FxResonator(smp.data(), kPlateSmallLen, 14000.0f, 0.5f, 1.0f);
  FxHighPass(smp.data(), kPlateSmallLen, 0.9f);
  FxNormalize(smp.data(), kPlateSmallLen, 0.45f);
}

void MakePlateMid(Engine& e) {
  std::vector<float>& smp = Fresh(e.samples.SmpPlateMid, kPlateMidLen);
  RndSeed(e.tools, 2);
  modPlate plate;
  PlateInit(plate, e.tools, 2, 16, 64, 0.345, 0.00026, 0.7);
  RecordPlate(e, plate, 100.0f, 4000.0, 1.0f, smp);
  FxHighPass(smp.data(), kPlateMidLen, 0.95f);
  FxFade(smp.data(), kPlateMidLen, 1, 40000);
  // Octave fold: add the buffer played twice as fast. Ascending j reads 2j before writing it.
  for (int32_t j = 0; j < kPlateMidLen / 2; ++j)
    smp[j] = Single(smp[2 * j] * 5.0 + smp[j]);
  FxNormalize(smp.data(), kPlateMidLen, 0.36f);
}

void MakePlateBig(Engine& e) {
  constexpr int32_t kAttackLen = 8000;  // the quadratic fade-in
  const std::vector<float>& small = e.samples.SmpPlateSmall;
  if (small.size() < static_cast<size_t>(kPlateSmallLen)) {
    throw std::logic_error("MakePlateBig needs the small plate first");
  }

  std::vector<float>& big = Fresh(e.samples.SmpPlateBig, kPlateBigLen);
  RndSeed(e.tools, 2);
  modPlate plate;
  PlateInit(plate, e.tools, 1, 32, 128, 1.0, 0.00063, 0.5);
  RecordPlate(e, plate, 1000.0f, 10000.0, 2.0f, big);
  FxHighPass(big.data(), kPlateBigLen, 0.95f);

  // The low version plays the plate at 0.62 of its speed (linear interpolation; reads up to
  // index 93,000).
  std::vector<float>& low = Fresh(e.samples.SmpPlateBigLow, kPlateBigLen);
  for (int32_t i = 0; i < kPlateBigLen; ++i) {
    const double t = i * 0.62;
    const double k = std::floor(t);
    const double f = t - k;
    const size_t ki = static_cast<size_t>(k);
    low[i] = Single(big[ki] * (1.0 - f) + big[ki + 1] * f);
  }

  for (int32_t i = 0; i < kAttackLen; ++i) {
    const double g = (i * 0.000000015625) * i;  // (i / 8,000)^2
    big[i] = Single(big[i] * g);
    low[i] = Single(low[i] * g);
  }
  FxDecay(big.data(), kPlateBigLen, 0.99999);
  FxDecay(low.data(), kPlateBigLen, 0.99999);

  // Octave folds, ascending so that 2j is read before it is written.
  for (int32_t j = 0; j < kPlateBigLen / 2; ++j) {
    big[j] = Single(big[2 * j] * 4.0 + big[j]);
    low[j] = Single(low[2 * j] * 6.0 + low[j]);
  }
  FxNormalize(big.data(), kPlateBigLen, 0.1f);
  FxNormalize(low.data(), kPlateBigLen, 0.1f);

  // Blended after the normalisation, so the attack may pass the 0.1 peak.
  AttackBlend(big, small, 0.8);
  AttackBlend(low, small, 0.7);
}

void BuildSamples(Engine& e) {
  MakeNoise(e);
  MakeKick(e);
  MakePlateSmall(e);
  MakePlateMid(e);
  MakePlateBig(e);
}

}  // namespace quom
