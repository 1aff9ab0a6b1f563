// The whole synthesis as one call, in the order the piece is made.
#include "song/Synthesize.h"

#include <algorithm>
#include <thread>

#include "fx/modFXMaster.h"
#include "fx/modFXReverb.h"
#include "song/Pipeline.h"

namespace quom {

int WorkerThreads() {
  const unsigned n = std::thread::hardware_concurrency();
  return n == 0 ? 2 : static_cast<int>(std::min(n, 8u));
}

std::vector<int16_t> Synthesize(Engine& e, std::span<const NoteRec> notes, StageObserver* observer,
                                RenderPath path) {
  InitMix(e);
  if (path == RenderPath::kLiteral) {
    BuildSamples(e);  // before any note reads the sample bank
    if (observer) observer->SamplesBuilt(e);
    RenderSong(e, notes, kSecPerTick);
  } else {
    // The bank and the notes at once; the drums wait for the bank.
    BuildSamplesAndRenderSong(e, notes, kSecPerTick, WorkerThreads(), [&] {
      if (observer) observer->SamplesBuilt(e);
    });
  }
  if (observer) observer->NotesMixed(e);

  if (path == RenderPath::kLiteral) {
    FxReverb(e);
  } else {
    FxReverb(e, BestSimdPath(), WorkerThreads());
  }
  if (observer) observer->ReverbAdded(e);

  // Sized by the final MixLen: voices reaching past the estimate have grown the bus.
  std::vector<int16_t> PcmBuf(2 * static_cast<size_t>(e.gen.MixLen), 0);
  FxMaster(e.gen, PcmBuf);
  return PcmBuf;
}

}  // namespace quom
