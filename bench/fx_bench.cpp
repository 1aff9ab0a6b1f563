// Micro-benchmarks of the buffer effects on a note-sized buffer.
#include <benchmark/benchmark.h>

#include <vector>

#include "base/modTools.h"
#include "units/modFX.h"

namespace quom {
namespace {

std::vector<float> NoiseBuffer(int n) {
  modTools t;
  RndSeed(t, 0);
  std::vector<float> buf(n);
  for (float& v : buf)
    v = static_cast<float>(RndUniform(t) - 0.5);
  return buf;
}

void BM_EffectChain(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const std::vector<float> source = NoiseBuffer(n);
  std::vector<float> buf(n);
  for (auto _ : state) {
    buf = source;
    FxDecay(buf.data(), n, 0.999985);
    FxHighPass(buf.data(), n, 0.92f);
    FxResonator(buf.data(), n, 1600.0f, 0.9f, 1.0f);
    FxNormalize(buf.data(), n, 0.1f);
    FxFade(buf.data(), n, 50, 6000);
    benchmark::DoNotOptimize(buf.data());
  }
  state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_EffectChain)->Arg(26050);

void BM_RndUniform(benchmark::State& state) {
  modTools t;
  RndSeed(t, 0);
  for (auto _ : state)
    benchmark::DoNotOptimize(RndUniform(t));
}
BENCHMARK(BM_RndUniform);

}  // namespace
}  // namespace quom
