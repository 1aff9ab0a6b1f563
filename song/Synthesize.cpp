// The whole synthesis as one call (reverb and master not wired yet).
#include "song/Synthesize.h"

namespace quom {

std::vector<int16_t> Synthesize(Engine& e, std::span<const NoteRec> notes,
                                StageObserver* observer) {
  InitMix(e);
  BuildSamples(e);
  if (observer) observer->SamplesBuilt(e);
  RenderSong(e, notes, kSecPerTick);
  if (observer) observer->NotesMixed(e);
  if (observer) observer->ReverbAdded(e);
  return std::vector<int16_t>(2 * static_cast<size_t>(e.gen.MixLen), 0);
}

}  // namespace quom
