// The sample bank builders: noise burst, kick, and the three plate recordings.
#include "voices/modSamples.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "base/Rounding.h"
#include "units/modFX.h"

namespace quom {
namespace {

constexpr int32_t kNoiseLen = 32768;
constexpr int32_t kKickLen = 16384;

// One plate recording: the plate, what each step is given, and how a reading p becomes sample i:
// (p * scale) / (i + scale).
struct PlateRecipe {
  int32_t steps, width, height;
  double tension, loss, irregularity;
  float threshold;
  int32_t length;
  double scale;
};

constexpr PlateRecipe kPlates[kBankPlates] = {
    {2, 16, 16, 0.36, 0.00042, 0.2, 0.5f, 90200, 10000.0},
    {2, 16, 64, 0.345, 0.00026, 0.7, 100.0f, 60000, 4000.0},
    {1, 32, 128, 1.0, 0.00063, 0.5, 1000.0f, 150000, 10000.0},
};

std::vector<float>& Fresh(std::vector<float>& buf, int32_t n) {
  buf.assign(static_cast<size_t>(n), 0.0f);
  return buf;
}

// Reseeds the generators and sets up the plate; the stiffness map takes width * height draws.
void SetUpPlate(modTools& t, modPlate& plate, const PlateRecipe& recipe) {
  RndSeed(t, 2);
  PlateInit(plate, t, recipe.steps, recipe.width, recipe.height, recipe.tension, recipe.loss,
            recipe.irregularity);
}

float Recorded(double p, int32_t i, double scale) {
  return Single((p * scale) / (i + scale));
}

// The next stretch of one plate recording with PlateStep, setting it up first if need be.
// Returns whether this call recorded the last sample.
bool RecordStretch(modTools& t, const PlateRecipe& recipe, PlateRecording& r,
                   std::vector<float>& out, int32_t count) {
  if (!r.started) {
    Fresh(out, recipe.length);
    SetUpPlate(t, r.plate, recipe);
    r.recorded = 0;
    r.started = true;
  }
  const int32_t end = r.recorded + std::clamp(count, 0, recipe.length - r.recorded);
  if (end == r.recorded) return false;
  for (int32_t i = r.recorded; i < end; ++i)
    out[i] = Recorded(PlateStep(r.plate, recipe.threshold), i, recipe.scale);
  r.recorded = end;
  return end == recipe.length;
}

// What the plate builders do with their recordings.

void FinishPlateSmall(std::vector<float>& smp) {
  const int32_t n = static_cast<int32_t>(smp.size());
  FxResonator(smp.data(), n, 14000.0f, 0.5f, 1.0f);
  FxHighPass(smp.data(), n, 0.9f);
  FxNormalize(smp.data(), n, 0.45f);
}

void FinishPlateMid(std::vector<float>& smp) {
  const int32_t n = static_cast<int32_t>(smp.size());
  FxHighPass(smp.data(), n, 0.95f);
  FxFade(smp.data(), n, 1, 40000);
  // Octave fold: add the buffer played twice as fast. Ascending j reads 2j before writing it.
  for (int32_t j = 0; j < n / 2; ++j)
    smp[j] = Single(smp[2 * j] * 5.0 + smp[j]);
  FxNormalize(smp.data(), n, 0.36f);
}

void FinishPlateBig(std::vector<float>& big, std::vector<float>& low,
                    const std::vector<float>& small) {
  constexpr int32_t kAttackLen = 8000;  // the quadratic fade-in
  const int32_t n = static_cast<int32_t>(big.size());
  FxHighPass(big.data(), n, 0.95f);

  // The low version plays the plate at 0.62 of its speed (linear interpolation; reads up to
  // index 93,000).
  Fresh(low, n);
  for (int32_t i = 0; i < n; ++i) {
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
  FxDecay(big.data(), n, 0.99999);
  FxDecay(low.data(), n, 0.99999);

  // Octave folds, ascending so that 2j is read before it is written.
  for (int32_t j = 0; j < n / 2; ++j) {
    big[j] = Single(big[2 * j] * 4.0 + big[j]);
    low[j] = Single(low[2 * j] * 6.0 + low[j]);
  }
  FxNormalize(big.data(), n, 0.1f);
  FxNormalize(low.data(), n, 0.1f);

  // Blended after the normalisation, so the attack may pass the 0.1 peak.
  AttackBlend(big, small, 0.8);
  AttackBlend(low, small, 0.7);
}

void RequireSmallPlate(const std::vector<float>& small) {
  if (small.size() < static_cast<size_t>(kPlates[kPlateSmall].length)) {
    throw std::logic_error("the big plate needs the small plate first");
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

namespace {

void MakeNoiseWith(modTools& t, std::vector<float>& SmpNoise) {
  std::vector<float>& smp = Fresh(SmpNoise, kNoiseLen);
  RndSeed(t, 0);
  for (int32_t i = 0; i < kNoiseLen; ++i) {
    const double env = Single(10.0 / (i + 10));  // stored as float before it is used
    const double b = RndBrown(t);                // the brown draw comes first
    const double u = RndUniform(t);
    smp[i] = Single(((u - 0.5) * env) * env + ((((env * b) * env) * i) * 0.000012));
  }
  FxFade(smp.data(), kNoiseLen, 20, 32000);
}

void MakeKickWith(modTools& t, std::vector<float>& SmpKick) {
  std::vector<float>& smp = Fresh(SmpKick, kKickLen);
  RndSeed(t, 0);
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
    smp[i] = Single(RndBrown(t) / (i2 * 0.1 + 3000.0) + smp[i]);
  }
  FxResonator(smp.data(), kKickLen, 4000.0f, 0.75f, 1.0f);
  FxFade(smp.data(), kKickLen, 350, 6000);
  FxNormalize(smp.data(), kKickLen, 0.6f);
}

}  // namespace

int32_t PlateLength(BankPlate k) {
  return kPlates[k].length;
}

void MakeNoise(modTools& t, modSamples& s) {
  MakeNoiseWith(t, s.SmpNoise);
}

void MakeKick(modTools& t, modSamples& s) {
  MakeKickWith(t, s.SmpKick);
}

// Both seed the generator first and draw nothing else from it, so a private one gives the same.
void MakeNoiseBuffer(std::vector<float>& SmpNoise) {
  modTools t;
  MakeNoiseWith(t, SmpNoise);
}

void MakeKickBuffer(std::vector<float>& SmpKick) {
  modTools t;
  MakeKickWith(t, SmpKick);
}

int32_t MakePlateSmall(modTools& t, modSamples& s, PlateRecording& r, int32_t count) {
  if (RecordStretch(t, kPlates[kPlateSmall], r, s.SmpPlateSmall, count)) {
    FinishPlateSmall(s.SmpPlateSmall);
  }
  return r.recorded;
}

int32_t MakePlateMid(modTools& t, modSamples& s, PlateRecording& r, int32_t count) {
  if (RecordStretch(t, kPlates[kPlateMid], r, s.SmpPlateMid, count)) FinishPlateMid(s.SmpPlateMid);
  return r.recorded;
}

int32_t MakePlateBig(modTools& t, modSamples& s, PlateRecording& r, int32_t count) {
  if (!r.started) RequireSmallPlate(s.SmpPlateSmall);
  if (RecordStretch(t, kPlates[kPlateBig], r, s.SmpPlateBig, count)) {
    FinishPlateBig(s.SmpPlateBig, s.SmpPlateBigLow, s.SmpPlateSmall);
  }
  return r.recorded;
}

void PlanSamples(modTools& t, SampleBankPlan& plan) {
  for (int k = 0; k < kBankPlates; ++k) {
    const PlateRecipe& recipe = kPlates[k];
    PlateJob& job = plan.plates[k];
    SetUpPlate(t, job.plate, recipe);
    job.threshold = recipe.threshold;
    job.readings.assign(static_cast<size_t>(recipe.length), 0.0);
    job.recorded = 0;
  }
}

int32_t RunPlateJob(PlateJob& job, int32_t count, SimdPath path) {
  const int32_t length = static_cast<int32_t>(job.readings.size());
  const int32_t n = std::clamp(count, 0, length - job.recorded);
  PlateRun(job.plate, job.threshold, job.readings.data() + job.recorded, n, path);
  job.recorded += n;
  return job.recorded;
}

void FinishSamples(modSamples& s, const SampleBankPlan& plan) {
  std::vector<float>* out[kBankPlates] = {&s.SmpPlateSmall, &s.SmpPlateMid, &s.SmpPlateBig};
  for (int k = 0; k < kBankPlates; ++k) {
    const PlateJob& job = plan.plates[k];
    const int32_t n = static_cast<int32_t>(job.readings.size());
    if (n != kPlates[k].length || job.recorded != n) {
      throw std::logic_error("FinishSamples: a plate recording is not complete");
    }
    std::vector<float>& smp = Fresh(*out[k], n);
    for (int32_t i = 0; i < n; ++i)
      smp[i] = Recorded(job.readings[i], i, kPlates[k].scale);
  }
  FinishPlateSmall(s.SmpPlateSmall);
  FinishPlateMid(s.SmpPlateMid);
  FinishPlateBig(s.SmpPlateBig, s.SmpPlateBigLow, s.SmpPlateSmall);
}

}  // namespace quom
