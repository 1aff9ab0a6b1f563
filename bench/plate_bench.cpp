// The plate on each of the sample bank's plates, stepped literally and by each vector kernel,
// and the whole bank both ways.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <vector>

#include "render/Engine.h"
#include "render/SampleBank.h"
#include "units/plate/modPlate.h"
#include "voices/modSamples.h"

namespace quom {
namespace {

struct PlateShape {
  int32_t steps, width, height;
  double tension, loss, irregularity;
  float threshold;
};
constexpr PlateShape kSmall{2, 16, 16, 0.36, 0.00042, 0.2, 0.5f};
constexpr PlateShape kMid{2, 16, 64, 0.345, 0.00026, 0.7, 100.0f};
constexpr PlateShape kBig{1, 32, 128, 1.0, 0.00063, 0.5, 1000.0f};

modPlate SetUp(const PlateShape& b) {
  modTools t;
  RndSeed(t, 2);
  modPlate p;
  PlateInit(p, t, b.steps, b.width, b.height, b.tension, b.loss, b.irregularity);
  return p;
}

// One PlateStep per iteration. Items are cell updates (all passes of one cell in one step).
void PlateStepBench(benchmark::State& state, const PlateShape& b) {
  modPlate p = SetUp(b);
  for (auto _ : state)
    benchmark::DoNotOptimize(PlateStep(p, b.threshold));
  state.SetItemsProcessed(state.iterations() * b.steps * b.width * b.height);
}

// 1,024 samples per iteration (as the bank's progress blocks), on the path given by range(0).
void PlateRunBench(benchmark::State& state, const PlateShape& b) {
  const auto path = static_cast<SimdPath>(state.range(0));
  const std::vector<SimdPath> here = SupportedSimdPaths();
  if (std::find(here.begin(), here.end(), path) == here.end()) {
    state.SkipWithError("path not available here");
    return;
  }
  state.SetLabel(SimdPathName(path));
  modPlate p = SetUp(b);
  std::vector<double> out(1024);
  for (auto _ : state) {
    PlateRun(p, b.threshold, out.data(), 1024, path);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * 1024 * b.steps * b.width * b.height);
}

void BM_PlateStepSmall(benchmark::State& state) {
  PlateStepBench(state, kSmall);
}
void BM_PlateStepMid(benchmark::State& state) {
  PlateStepBench(state, kMid);
}
void BM_PlateStepBig(benchmark::State& state) {
  PlateStepBench(state, kBig);
}
BENCHMARK(BM_PlateStepSmall);
BENCHMARK(BM_PlateStepMid);
BENCHMARK(BM_PlateStepBig);

void BM_PlateRunSmall(benchmark::State& state) {
  PlateRunBench(state, kSmall);
}
void BM_PlateRunMid(benchmark::State& state) {
  PlateRunBench(state, kMid);
}
void BM_PlateRunBig(benchmark::State& state) {
  PlateRunBench(state, kBig);
}
// Arguments: the SimdPath values sse2, avx2, avx512.
void PlatePaths(benchmark::internal::Benchmark* b) {
  for (SimdPath path : {SimdPath::kSse2, SimdPath::kAvx2, SimdPath::kAvx512})
    b->Arg(static_cast<int64_t>(path));
  b->Unit(benchmark::kMicrosecond);
}
BENCHMARK(BM_PlateRunSmall)->Apply(PlatePaths);
BENCHMARK(BM_PlateRunMid)->Apply(PlatePaths);
BENCHMARK(BM_PlateRunBig)->Apply(PlatePaths);

// The whole sample bank as the program builds it at start-up: frame by frame, then with the
// widest vector plates on one thread.
void BM_BuildSamples(benchmark::State& state) {
  for (auto _ : state) {
    Engine e;
    BuildSamples(e);
    benchmark::DoNotOptimize(e.samples.SmpPlateBig.data());
  }
}
BENCHMARK(BM_BuildSamples)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_BuildSamplesFast(benchmark::State& state) {
  for (auto _ : state) {
    Engine e;
    BuildSamples(e, BestSimdPath());
    benchmark::DoNotOptimize(e.samples.SmpPlateBig.data());
  }
}
BENCHMARK(BM_BuildSamplesFast)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
}  // namespace quom
