// Score rendering, fast: plan every note, render each layer with the fused kernels, mix in file
// order. The bus, the generators and the progress reports come out as RenderSong leaves them.
#include "song/Engine.h"
#include "song/NotePlan.h"
#include "synth/Layer.h"

namespace quom {

void RenderSongFast(Engine& e, std::span<const NoteRec> notes, float SecPerTick) {
  const SongPlan plan = PlanSong(e, notes, SecPerTick);
  modGen& g = e.gen;
  // Sized once for every voice: growing it on the way would keep the same contents.
  g.MixLen = plan.mixLen;
  g.MixBuf.assign(static_cast<size_t>(g.MixLen), MixFrame{});

  std::vector<float> voice;
  size_t layer = 0;
  for (size_t n = 0; n < plan.noteEnd.size(); ++n) {
    for (; layer < plan.noteEnd[n]; ++layer) {
      const LayerPlan& p = plan.layers[layer];
      voice.resize(static_cast<size_t>(p.len));
      RenderLayerFast(p, e.samples, voice.data());
      MixSamples(g, p.start, p.gain, p.pan, p.send, voice.data(), p.len);
    }
    if (plan.units[n] > 0.0f) ShowProgress(e, plan.units[n]);
  }
}

}  // namespace quom
