// Micro-benchmarks of the oscillator and one tonal note.
#include <benchmark/benchmark.h>

#include <vector>

#include "render/Engine.h"
#include "render/PlayNote.h"
#include "units/Vibrato.h"
#include "units/modString.h"
#include "voices/modGenTonal.h"

namespace quom {
namespace {

void BM_WaveNext(benchmark::State& state) {
  modString w;
  modTools t;
  WaveInitCubic(w, t, 220.0f, 0.1f, 1.0f);
  for (auto _ : state)
    benchmark::DoNotOptimize(WaveNext(w));
}
BENCHMARK(BM_WaveNext);

void BM_VoiceCubicHalfSecond(benchmark::State& state) {
  Engine e;
  InitMix(e);
  e.gen.MixLen = 44100;
  e.gen.MixBuf.assign(44100, MixFrame{});
  for (auto _ : state)
    PlayLayer(e, PlanCubic(e.tools, e.wave.VibPhase, 60, 1.0f, 0.1f, 0.5f, 0.5f, 0.2f));
  state.SetItemsProcessed(state.iterations() * e.gen.VoiceLen);
}
BENCHMARK(BM_VoiceCubicHalfSecond);

}  // namespace
}  // namespace quom

namespace quom {
namespace {

void BM_WaveNextBlock(benchmark::State& state) {
  modString w;
  modTools t;
  w.VibPhase = 10000.0;
  WaveInitCubic(w, t, 220.0f, 0.1f, 1.0f);
  std::vector<float> out(4096);
  for (auto _ : state) {
    WaveNextBlock(w, out.data(), 4096);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * 4096);
}
BENCHMARK(BM_WaveNextBlock);

void BM_VibratoBends(benchmark::State& state) {
  std::vector<double> bend(256);
  double v = 10000.0;
  for (auto _ : state) {
    v = VibratoBends(v, bend.data(), 256);
    benchmark::DoNotOptimize(bend.data());
  }
  state.SetItemsProcessed(state.iterations() * 256);
}
BENCHMARK(BM_VibratoBends);

}  // namespace
}  // namespace quom
