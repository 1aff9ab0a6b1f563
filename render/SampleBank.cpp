// The sample bank's builders in their order, with the progress accounting.
#include "render/SampleBank.h"

namespace quom {

namespace {

using PlateBuilder = int32_t (*)(modTools&, modSamples&, PlateRecording&, int32_t);

void RecordPlate(Engine& e, BankPlate k, PlateBuilder make) {
  // Each stretch of 1,024 samples holds one of the samples a call comes after.
  PlateRecording r;
  do {
    make(e.tools, e.samples, r, kPlateProgressEvery);
    ShowProgress(e, kPlateProgressUnits[k]);
  } while (r.recorded < PlateLength(k));
}

}  // namespace

void BuildSamples(Engine& e) {
  MakeNoise(e.tools, e.samples);
  MakeKick(e.tools, e.samples);
  RecordPlate(e, kPlateSmall, MakePlateSmall);
  RecordPlate(e, kPlateMid, MakePlateMid);
  RecordPlate(e, kPlateBig, MakePlateBig);
}

void BuildSamples(Engine& e, SimdPath path) {
  SampleBankPlan plan;
  PlanSamples(e.tools, plan);
  MakeNoiseBuffer(e.samples.SmpNoise);
  MakeKickBuffer(e.samples.SmpKick);
  // A stretch at a time, so that the progress calls keep coming while the plates run; each
  // PlateRun call rearranges the plate twice, so the stretches are not too short either.
  constexpr int32_t kStretch = 8192;
  BankProgress progress;
  std::array<int32_t, kBankPlates> recorded{};
  for (int k = 0; k < kBankPlates; ++k) {
    PlateJob& job = plan.plates[k];
    while (job.recorded < PlateLength(static_cast<BankPlate>(k))) {
      recorded[k] = RunPlateJob(job, kStretch, path);
      progress.Report(e, recorded);
    }
  }
  FinishSamples(e.samples, plan);
}

int32_t BankProgress::Calls() {
  int32_t calls = 0;
  for (int k = 0; k < kBankPlates; ++k)
    calls += ProgressCallsDue(PlateLength(static_cast<BankPlate>(k)), kPlateProgressEvery);
  return calls;
}

bool BankProgress::Report(Engine& e, const std::array<int32_t, kBankPlates>& recorded) {
  int32_t before = 0;  // calls of the plates before this one
  for (int k = 0; k < kBankPlates; ++k) {
    const int32_t total =
        ProgressCallsDue(PlateLength(static_cast<BankPlate>(k)), kPlateProgressEvery);
    const int32_t due = ProgressCallsDue(recorded[k], kPlateProgressEvery);
    while (made_ < before + due) {
      ShowProgress(e, kPlateProgressUnits[k]);
      ++made_;
    }
    if (due < total) return false;  // the next plate's calls come after all of this one's
    before += total;
  }
  return true;
}

}  // namespace quom
