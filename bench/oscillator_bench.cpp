// Micro-benchmarks of the oscillator and one tonal note.
#include <benchmark/benchmark.h>

#include "song/Engine.h"
#include "synth/modString.h"

namespace quom {
namespace {

void BM_WaveNext(benchmark::State& state) {
  modString w;
  modTools t;
  WaveInitCubic(w, t, 220.0f, 0.1f, 1.0f);
  for (auto _ : state) benchmark::DoNotOptimize(WaveNext(w));
}
BENCHMARK(BM_WaveNext);

void BM_VoiceCubicHalfSecond(benchmark::State& state) {
  Engine e;
  InitMix(e);
  e.gen.MixLen = 44100;
  e.gen.MixBuf.assign(44100, MixFrame{});
  for (auto _ : state) VoiceCubic(e, 60, 1.0f, 0.1f, 0.5f, 0.5f, 0.2f);
  state.SetItemsProcessed(state.iterations() * e.gen.VoiceLen);
}
BENCHMARK(BM_VoiceCubicHalfSecond);

}  // namespace
}  // namespace quom
