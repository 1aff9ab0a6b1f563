// Micro-benchmarks of the note stages: one layer alone and layers in lanes on each path, and the
// mixing into the bus, on layers planned from the piece.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <vector>

#include "render/Engine.h"
#include "render/NotePlan.h"
#include "resources/EmbeddedScore.h"
#include "voices/LayerLanes.h"

namespace quom {
namespace {

// The piece's layers, planned once.
const SongPlan& PiecePlan() {
  static const SongPlan plan = [] {
    Engine e;
    InitMix(e);
    return PlanSong(e, DecodeNoteList(EmbeddedNoteList()), kSecPerTick);
  }();
  return plan;
}

// The first `count` cubic layers of the piece.
std::vector<const LayerPlan*> CubicLayers(size_t count) {
  std::vector<const LayerPlan*> layers;
  for (const LayerPlan& p : PiecePlan().layers) {
    if (p.kind == LayerKind::kCubic && layers.size() < count) layers.push_back(&p);
  }
  return layers;
}

void BM_LayerAlone(benchmark::State& state) {
  const auto layers = CubicLayers(64);
  std::vector<float> out(200000);
  int64_t calls = 0;
  for (auto _ : state) {
    for (const LayerPlan* p : layers) {
      RenderLayerAlone(*p, out.data());
      calls += p->Calls();
    }
  }
  state.counters["ns/call"] = benchmark::Counter(
      static_cast<double>(calls), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_LayerAlone)->Unit(benchmark::kMillisecond);

// The argument picks the path, in SimdPath's order; the label names it. Paths the processor
// lacks are skipped.
void BM_LayersInLanes(benchmark::State& state) {
  const SimdPath path = static_cast<SimdPath>(state.range(0));
  const std::vector<SimdPath> paths = AvailableSimdPaths();
  if (std::find(paths.begin(), paths.end(), path) == paths.end()) {
    state.SkipWithError("the processor lacks this path");
    return;
  }
  state.SetLabel(SimdPathName(path));
  const auto layers = CubicLayers(64);
  std::vector<std::vector<float>> out(layers.size());
  for (size_t i = 0; i < layers.size(); ++i)
    out[i].resize(layers[i]->len);
  int64_t calls = 0;
  for (auto _ : state) {
    size_t next = 0;
    RenderLayersInLanes(
        [&](LayerJob& job) {
          if (next == layers.size()) return false;
          job = {layers[next], out[next].data(), next};
          calls += layers[next]->Calls();
          ++next;
          return true;
        },
        [](const LayerJob&) {}, path);
  }
  state.counters["ns/call"] = benchmark::Counter(
      static_cast<double>(calls), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_LayersInLanes)
    ->DenseRange(0, static_cast<int>(SimdPath::kNeon))
    ->Unit(benchmark::kMillisecond);

// Mixing one 26,050-sample voice: argument 0 is one frame at a time, 1 the widest vectors.
void BM_Mix(benchmark::State& state) {
  modGen g;
  g.MixLen = 100000;
  g.MixBuf.assign(100000, MixFrame{});
  const std::vector<float> voice(26050, 0.25f);
  for (auto _ : state) {
    if (state.range(0) == 0) {
      MixSamples(g, 0.1f, 0.7f, 0.3f, 0.2f, voice.data(), 26050);
    } else {
      MixSamplesFast(g, 0.1f, 0.7f, 0.3f, 0.2f, voice.data(), 26050);
    }
    benchmark::DoNotOptimize(g.MixBuf.data());
  }
  state.SetItemsProcessed(state.iterations() * 26050);
}
BENCHMARK(BM_Mix)->Arg(0)->Arg(1);

}  // namespace
}  // namespace quom
