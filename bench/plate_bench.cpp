// The plate step on each of the sample bank's plates, and the whole bank.
#include <benchmark/benchmark.h>

#include "samples/modPlate.h"
#include "samples/modSamples.h"
#include "song/Engine.h"

namespace quom {
namespace {

// One plate set up and stepped with the arguments the sample bank gives it.
void PlateStepBench(benchmark::State& state, int32_t steps, int32_t width, int32_t height,
                    double tension, double loss, double irregularity, float threshold) {
  modTools t;
  RndSeed(t, 2);
  modPlate p;
  PlateInit(p, t, steps, width, height, tension, loss, irregularity);
  for (auto _ : state)
    benchmark::DoNotOptimize(PlateStep(p, threshold));
  // Items are cell updates (all passes of one cell in one step).
  state.SetItemsProcessed(state.iterations() * steps * width * height);
}

void BM_PlateStepSmall(benchmark::State& state) {
  PlateStepBench(state, 2, 16, 16, 0.36, 0.00042, 0.2, 0.5f);
}
void BM_PlateStepMid(benchmark::State& state) {
  PlateStepBench(state, 2, 16, 64, 0.345, 0.00026, 0.7, 100.0f);
}
void BM_PlateStepBig(benchmark::State& state) {
  PlateStepBench(state, 1, 32, 128, 1.0, 0.00063, 0.5, 1000.0f);
}
BENCHMARK(BM_PlateStepSmall);
BENCHMARK(BM_PlateStepMid);
BENCHMARK(BM_PlateStepBig);

// The whole sample bank as the program builds it at start-up.
void BM_BuildSamples(benchmark::State& state) {
  for (auto _ : state) {
    Engine e;
    BuildSamples(e);
    benchmark::DoNotOptimize(e.samples.SmpPlateBig.data());
  }
}
BENCHMARK(BM_BuildSamples)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
}  // namespace quom
