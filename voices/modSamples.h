// The percussion sample bank: six mono buffers computed once, before any note is rendered. Two
// come from noise (a noise burst, a falling sine sweep with a click), four from plate recordings.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <vector>

#include "base/Simd.h"
#include "units/modPlate.h"

namespace quom {

struct Engine;  // song/Engine.h owns the bank

struct modSamples {
  std::vector<float> SmpPlateSmall;   // 90,200 samples
  std::vector<float> SmpPlateMid;     // 60,000
  std::vector<float> SmpPlateBig;     // 150,000
  std::vector<float> SmpPlateBigLow;  // 150,000
  std::vector<float> SmpKick;         // 16,384
  std::vector<float> SmpNoise;        // 32,768
};

// Runs the five builders in their fixed order: noise, kick, small, mid and big plate. The order
// is part of the result: the plates draw their stiffness maps one after the other from the one
// RndDiff sequence, and the big plate borrows its attack from the small one. The plate builders
// report progress every 1,024 samples (375.25 units in all). Steps the plates with PlateStep.
void BuildSamples(Engine& e);

// The same bank, to the bit, with the generator state and the progress calls BuildSamples leaves
// and makes, built from the pieces below on the calling thread, the plates run by PlateRun.
void BuildSamples(Engine& e, SimdPath path);

// The builders, each seeding the generators itself. Only BuildSamples runs them in production.
void MakeNoise(Engine& e);
void MakeKick(Engine& e);
void MakePlateSmall(Engine& e);
void MakePlateMid(Engine& e);
void MakePlateBig(Engine& e);  // needs SmpPlateSmall

// Adds the start of the small plate, read at `speed` of its rate without interpolation, into the
// first 8,000 samples of dst, with a weight falling linearly from 1.2 to 0.00015. Throws
// std::logic_error if either buffer is too short.
void AttackBlend(std::vector<float>& dst, const std::vector<float>& small, double speed);

// ---------------------------------------------------------------------------------------------
// The bank in independent pieces, for running them concurrently. Once the three stiffness maps
// are drawn, in order, nothing but the finishing ties the pieces together:
//
//   SampleBankPlan plan;
//   PlanSamples(e, plan);                  // generator calls in BuildSamples' order
//   MakeNoiseBuffer(...), MakeKickBuffer(...)   // anywhere, any time
//   RunPlateJob(plan.plates[k], path)      // k = 0, 1, 2, on any threads, in any order
//   ReportSampleProgress(e, plan, made)    // from one thread, while the jobs run
//   FinishSamples(e.samples, plan)         // once all three jobs are done
//
// and the buffers, e.tools and the progress calls are those of BuildSamples(e).

// The bank's three plate recordings, in the order BuildSamples makes them.
enum BankPlate { kPlateSmall = 0, kPlateMid = 1, kPlateBig = 2 };
constexpr int kBankPlates = 3;

// One plate recording: a plate with its stiffness map drawn, stepped once per sample.
struct PlateJob {
  modPlate plate;                // set up by PlanSamples, stepped by RunPlateJob
  float threshold = 0.0f;        // the rattle threshold of every step
  float progressUnits = 0.0f;    // what ShowProgress adds per 1,024 samples
  std::vector<double> readings;  // one PlateStep result per sample; sized by PlanSamples
  // Readings written so far. RunPlateJob stores it with release order, so a thread that loads it
  // with acquire order may read that many readings.
  std::atomic<int32_t> samplesDone{0};
};

struct SampleBankPlan {
  std::array<PlateJob, kBankPlates> plates;
};

// Seeds the generators and sets up the three plates as the plate builders do, in their order
// (RndSeed(2) and 256, 1,024 and 4,096 RndDiff draws), leaving e.tools as BuildSamples leaves it.
// The noise and kick builders need not come first: they seed the generators themselves and draw
// nothing the plates use.
void PlanSamples(Engine& e, SampleBankPlan& plan);

// Records every sample of one plate, once. Touches nothing but the job.
void RunPlateJob(PlateJob& job, SimdPath path = BestSimdPath());

// The ShowProgress calls a recording of `samples` samples is due: one after each of samples 0,
// 1,024, 2,048 and so on.
constexpr int32_t PlateProgressCalls(int32_t samples) {
  return samples <= 0 ? 0 : (samples - 1) / 1024 + 1;
}

// All the ShowProgress calls of the bank, in order: 89 of 0.25 units, 59 of 1 and 147 of 2.
int32_t SampleProgressCalls(const SampleBankPlan& plan);

// Makes, in the bank's order, the ShowProgress calls that follow the first `made` ones and whose
// samples have been recorded, and returns how many have been made now. Calls from one thread only
// (the one that owns e); a later plate's calls wait for the earlier plates' calls.
int32_t ReportSampleProgress(Engine& e, const SampleBankPlan& plan, int32_t made);

// The noise burst and the kick, each from a generator of its own.
void MakeNoiseBuffer(std::vector<float>& SmpNoise);
void MakeKickBuffer(std::vector<float>& SmpKick);

// Turns the three recordings into SmpPlateSmall, SmpPlateMid, SmpPlateBig and SmpPlateBigLow as
// the plate builders do. Throws std::logic_error if a job has not recorded all its samples.
void FinishSamples(modSamples& s, const SampleBankPlan& plan);

}  // namespace quom
