// The whole synthesis as one call, in the order the piece is made.
#include "song/Synthesize.h"

#include "fx/modFXMaster.h"
#include "fx/modFXReverb.h"

namespace quom {

std::vector<int16_t> Synthesize(Engine& e, std::span<const NoteRec> notes,
                                StageObserver* observer, RenderPath path) {
  InitMix(e);
  BuildSamples(e);  // before any note reads the sample bank
  if (observer) observer->SamplesBuilt(e);

  if (path == RenderPath::kLiteral) {
    RenderSong(e, notes, kSecPerTick);
  } else {
    RenderSongFast(e, notes, kSecPerTick);
  }
  if (observer) observer->NotesMixed(e);

  FxReverb(e);
  if (observer) observer->ReverbAdded(e);

  // Sized by the final MixLen: voices reaching past the estimate have grown the bus.
  std::vector<int16_t> PcmBuf(2 * static_cast<size_t>(e.gen.MixLen), 0);
  FxMaster(e.gen, PcmBuf);
  return PcmBuf;
}

}  // namespace quom
