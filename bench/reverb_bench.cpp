// The reverb and the master stage on a bus as long as the piece: the reverb frame by frame and
// by laps on each vector path with one and two workers.
#include <benchmark/benchmark.h>

#include <vector>

#include "base/modTools.h"
#include "render/Reverb.h"
#include "units/modFXMaster.h"

namespace quom {
namespace {

constexpr int32_t kPieceFrames = 5297673;

// Noise in L and R, a send that comes and goes.
const std::vector<MixFrame>& PieceBus() {
  static const std::vector<MixFrame> bus = [] {
    modTools t;
    RndSeed(t, 0.375);
    std::vector<MixFrame> b(kPieceFrames);
    for (int32_t i = 0; i < kPieceFrames; ++i) {
      b[i].L = static_cast<float>((RndUniform(t) - 0.5) * 0.2);
      b[i].R = static_cast<float>((RndUniform(t) - 0.5) * 0.2);
      b[i].Send = (i / 20000) % 4 == 3 ? 0.0f : static_cast<float>(RndDiff(t) * 0.05);
    }
    return b;
  }();
  return bus;
}

// Gives a mix bus state the piece-sized bus.
void LoadPieceBus(modGen& g) {
  g.MixBuf = PieceBus();
  g.MixLen = kPieceFrames;
}

void BM_ReverbFrameByFrame(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    Engine e;
    LoadPieceBus(e.gen);
    state.ResumeTiming();
    ReverbFrameByFrame(e);
  }
}
BENCHMARK(BM_ReverbFrameByFrame)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

// range(0): the SimdPath value; range(1): workers.
void BM_ReverbByLaps(benchmark::State& state) {
  const auto path = static_cast<SimdPath>(state.range(0));
  if (path != SimdPath::kScalar && BestSimdPath() < path) {
    state.SkipWithError("path not available here");
    return;
  }
  state.SetLabel(SimdPathName(path));
  TaskPool pool(static_cast<int>(state.range(1)));
  for (auto _ : state) {
    state.PauseTiming();
    Engine e;
    LoadPieceBus(e.gen);
    state.ResumeTiming();
    ReverbByLaps(e, pool, path);
  }
}
BENCHMARK(BM_ReverbByLaps)
    ->ArgsProduct({{0, 1, 2, 3, 4}, {1, 2}})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->UseRealTime();

void BM_Master(benchmark::State& state) {
  modGen g;
  LoadPieceBus(g);
  std::vector<int16_t> pcm(2 * static_cast<size_t>(kPieceFrames));
  for (auto _ : state) {
    FxMaster(g, pcm);
    benchmark::DoNotOptimize(pcm.data());
  }
}
BENCHMARK(BM_Master)->Unit(benchmark::kMillisecond)->Iterations(3);

// range(0): the SimdPath value.
void BM_MasterFast(benchmark::State& state) {
  const auto path = static_cast<SimdPath>(state.range(0));
  if (path != SimdPath::kScalar && BestSimdPath() < path) {
    state.SkipWithError("path not available here");
    return;
  }
  state.SetLabel(SimdPathName(path));
  modGen g;
  LoadPieceBus(g);
  std::vector<int16_t> pcm(2 * static_cast<size_t>(kPieceFrames));
  for (auto _ : state) {
    float b = kMasterStartLevel;
    FxMasterFramesFast(g, pcm, 0, g.MixLen, b, path);
    benchmark::DoNotOptimize(pcm.data());
  }
}
BENCHMARK(BM_MasterFast)->DenseRange(0, 4)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
}  // namespace quom
