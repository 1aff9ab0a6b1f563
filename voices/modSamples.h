// The percussion sample bank: six mono buffers computed once, before any note is rendered. Two
// come from noise (a noise burst, a falling sine sweep with a click), four from plate recordings.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "base/Simd.h"
#include "base/modTools.h"
#include "units/plate/modPlate.h"

namespace quom {

struct modSamples {
  std::vector<float> SmpPlateSmall;   // 90,200 samples
  std::vector<float> SmpPlateMid;     // 60,000
  std::vector<float> SmpPlateBig;     // 150,000
  std::vector<float> SmpPlateBigLow;  // 150,000
  std::vector<float> SmpKick;         // 16,384
  std::vector<float> SmpNoise;        // 32,768
};

// BuildSamples runs the five builders in this order: noise, kick, small, mid and big plate. The
// order is part of the result: the plates draw their stiffness maps one after the other from the
// one RndDiff sequence, and the big plate borrows its attack from the small one. Each builder
// seeds the generators itself.
void MakeNoise(modTools& t, modSamples& s);
void MakeKick(modTools& t, modSamples& s);

// The bank's three plate recordings, in the order BuildSamples makes them.
enum BankPlate { kPlateSmall = 0, kPlateMid = 1, kPlateBig = 2 };
constexpr int kBankPlates = 3;

// Samples a plate records: 90,200, 60,000 and 150,000.
int32_t PlateLength(BankPlate k);

// A plate builder under way: its plate, and how many samples of its buffer are recorded.
struct PlateRecording {
  bool started = false;
  modPlate plate;
  int32_t recorded = 0;
};

// The plate builders, a stretch at a time, stepping the plate with PlateStep. Each call records
// the next `count` samples (fewer at the end) and returns how many are recorded now. The first
// call reseeds the generators, sets up the plate (drawing its stiffness map) and creates the
// buffer; the one that records the last sample finishes it (filters, folds, normalisation).
// MakePlateBig's first call throws std::logic_error unless SmpPlateSmall is complete.
int32_t MakePlateSmall(modTools& t, modSamples& s, PlateRecording& r, int32_t count);
int32_t MakePlateMid(modTools& t, modSamples& s, PlateRecording& r, int32_t count);
int32_t MakePlateBig(modTools& t, modSamples& s, PlateRecording& r, int32_t count);

// Adds the start of the small plate, read at `speed` of its rate without interpolation, into the
// first 8,000 samples of dst, with a weight falling linearly from 1.2 to 0.00015. Throws
// std::logic_error if either buffer is too short.
void AttackBlend(std::vector<float>& dst, const std::vector<float>& small, double speed);

// ---------------------------------------------------------------------------------------------
// The bank in independent pieces, for running them concurrently. Once the three stiffness maps
// are drawn, in order, nothing but the finishing ties the pieces together:
//
//   SampleBankPlan plan;
//   PlanSamples(t, plan);                  // generator calls in BuildSamples' order
//   MakeNoiseBuffer(...), MakeKickBuffer(...)   // anywhere, any time
//   RunPlateJob(plan.plates[k], ...)       // k = 0, 1, 2, in any order or at once; each job
//                                          // a stretch at a time, one stretch after the other
//   FinishSamples(s, plan)                 // once all three jobs are done
//
// and the buffers and the generators are those BuildSamples leaves.

// One plate recording: a plate with its stiffness map drawn, stepped once per sample.
struct PlateJob {
  modPlate plate;                // set up by PlanSamples, stepped by RunPlateJob
  float threshold = 0.0f;        // the rattle threshold of every step
  std::vector<double> readings;  // one PlateStep result per sample; sized by PlanSamples
  int32_t recorded = 0;          // readings written so far
};

struct SampleBankPlan {
  std::array<PlateJob, kBankPlates> plates;
};

// Seeds the generators and sets up the three plates as the plate builders do, in their order
// (RndSeed(2) and 256, 1,024 and 4,096 RndDiff draws), leaving `t` as BuildSamples leaves it.
// The noise and kick builders need not come first: they seed the generators themselves and draw
// nothing the plates use.
void PlanSamples(modTools& t, SampleBankPlan& plan);

// Records the next `count` readings of one plate (fewer at the end) with PlateRun on the given
// path, and returns how many are recorded now. Touches nothing but the job.
int32_t RunPlateJob(PlateJob& job, int32_t count, SimdPath path = BestSimdPath());

// The noise burst and the kick, each from a generator of its own.
void MakeNoiseBuffer(std::vector<float>& SmpNoise);
void MakeKickBuffer(std::vector<float>& SmpKick);

// Turns the three recordings into SmpPlateSmall, SmpPlateMid, SmpPlateBig and SmpPlateBigLow as
// the plate builders do. Throws std::logic_error if a job has not recorded all its samples.
void FinishSamples(modSamples& s, const SampleBankPlan& plan);

}  // namespace quom
