// Records at the far ends of their fields are valid and must render like any other: finite
// samples, and the rest of the piece untouched by them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "render/Engine.h"
#include "render/Reverb.h"
#include "units/modFXMaster.h"
#include "voices/Layer.h"

namespace quom {
namespace {

// A note, an extreme one, a note after it; rendered through reverb and master (no drums, so no
// sample bank is needed). Returns the PCM; the bus must be finite throughout.
std::vector<int16_t> RenderAround(const NoteRec& extreme) {
  const std::vector<NoteRec> notes = {{0, 4, 60, 100, 25}, extreme, {20, 4, 60, 100, 25}};
  Engine e;
  InitMix(e);
  RenderSong(e, notes, kSecPerTick);
  for (const MixFrame& f : e.gen.MixBuf) {
    if (!std::isfinite(f.L) || !std::isfinite(f.R) || !std::isfinite(f.Send)) {
      ADD_FAILURE() << "non-finite bus sample";
      break;
    }
  }
  ReverbFrameByFrame(e);
  std::vector<int16_t> pcm(2 * static_cast<size_t>(e.gen.MixLen));
  FxMaster(e.gen, pcm);
  return pcm;
}

// The loudest sample of the last note's first half second (ticks 20 .. 34).
int PeakOfLastNote(const std::vector<int16_t>& pcm) {
  const size_t from = 2 * static_cast<size_t>(20 * 1603.6);
  const size_t to = from + 2 * 22050;
  int peak = 0;
  for (size_t i = from; i < to && i < pcm.size(); ++i)
    peak = std::max(peak, std::abs(static_cast<int>(pcm[i])));
  return peak;
}

// From note 236 on, an arc layer's frequency passes 6.67 MHz and 1 - f * 3e-7 falls below -1:
// left alone, the envelope overflows and the NaNs it leaves silence everything after the note.
TEST(Extremes, ArcNotesAboveTheDecayLimitStayFiniteAndSpareTheRest) {
  const int reference = PeakOfLastNote(RenderAround({8, 4, 60, 100, 50}));  // code 50: nothing
  ASSERT_GT(reference, 1000);
  for (const int code : {26, 27, 37}) {
    for (const int note : {235, 236, 255}) {
      for (const int velocity : {0, 255}) {
        const NoteRec extreme{8, 4, static_cast<uint8_t>(note), static_cast<uint8_t>(velocity),
                              static_cast<uint8_t>(code)};
        const int peak = PeakOfLastNote(RenderAround(extreme));
        EXPECT_GT(peak, reference / 4) << "code " << code << " note " << note << " velocity "
                                       << velocity << ": the note after it is lost";
      }
    }
  }
  // The bound changes nothing below it: note 235, detuned up, keeps its own factor.
  const double f235 = NoteFrequency(235.01f);
  EXPECT_EQ(ArcDecayFactor(f235), 1.0 - f235 * 3e-7);
  EXPECT_GT(ArcDecayFactor(f235), -1.0);
  EXPECT_EQ(ArcDecayFactor(NoteFrequency(235.99f)), -1.0);
}

}  // namespace
}  // namespace quom
