// Percussion instrument: the note number picks one of seven sounds, each a stretch of a sample
// bank buffer copied into the voice buffer, shaped by a few effects and mixed at a fixed pan with
// a reverb send that grows with the gain.
#include <algorithm>
#include <stdexcept>

#include "fx/modFX.h"
#include "song/Engine.h"
#include "synth/Rounding.h"

namespace quom {
namespace {

// Pans: 0 is left only, 1 right only.
constexpr float kPanCentre = 0.5f;
constexpr float kPanSnare = 0.45f;
constexpr float kPanSmallPlate = 0.53f;
constexpr float kPanLowPlate = 0.4f;
constexpr float kPanBigPlate = 0.6f;

// Note 63 follows the note's length within these bounds (seconds), plus a fixed tail (samples).
constexpr float kShortestSec = 0.12f;
constexpr float kLongestSec = 2.0f;
constexpr double kTailSamples = 2000.0;

// Fills the fresh voice buffer with VoiceLen samples of src from index `from` on. The bank is
// built before any note; a drum played without it (or a range past its end) is a caller bug,
// reported instead of reading outside the buffer.
void CopySource(modGen& g, const std::vector<float>& src, int32_t from) {
  if (from < 0 || static_cast<size_t>(from) + static_cast<size_t>(g.VoiceLen) > src.size()) {
    throw std::logic_error("drum source out of range: was the sample bank built?");
  }
  std::copy_n(src.begin() + from, g.VoiceLen, g.VoiceBuf.begin());
}

// The length of note 63: L is LenSec limited to 0.12 .. 2 s; a NaN counts as too short.
int32_t ClampedLength(float LenSec) {
  float L = LenSec;
  if (LenSec > kLongestSec) {
    L = kLongestSec;
  } else if (!(LenSec >= kShortestSec)) {
    L = kShortestSec;
  }
  return RoundToInt32(L * static_cast<double>(kSampleRate) + kTailSamples);
}

}  // namespace

void VoiceDrum(Engine& e, int32_t Note, float Gain, float StartSec, float LenSec) {
  modGen& g = e.gen;
  const modSamples& s = e.samples;
  float* buf = nullptr;  // VoiceBuf, valid only after NewVoice
  const double gain = Gain;

  if (Note == 36) {  // kick
    NewVoice(g, 0, 7000);
    CopySource(g, s.SmpKick, 0);
    MixVoice(g, StartSec, Gain, kPanCentre, Single(gain * 0.1));
  } else if (Note >= 38 && Note <= 40) {  // snare: resonated noise from a random offset
    NewVoice(g, 0, 32000);
    const double u1 = RndUniform(e.tools);  // before the copy
    CopySource(g, s.SmpNoise, RoundToInt32(u1 * 600.0 + 167.0));
    buf = g.VoiceBuf.data();
    FxResonator(buf, g.VoiceLen, 600.0f, 0.97f, 0.07f);
    const double u2 = RndUniform(e.tools);  // after the resonator
    FxFade(buf, g.VoiceLen, RoundToInt32(u2 * 700.0 + 480.0), 31000);
    FxNormalize(buf, g.VoiceLen, 0.2f);
    MixVoice(g, StartSec, Gain, kPanSnare, Single(gain * 0.3));
  } else if (Note == 59) {  // mid plate; quiet notes get a softer attack
    NewVoice(g, 0, 60000);
    CopySource(g, s.SmpPlateMid, 0);
    FxFade(g.VoiceBuf.data(), g.VoiceLen, RoundToInt32(500.0 / (gain + 0.1)), 8000);
    MixVoice(g, StartSec, Gain, kPanSnare, Single(gain * 0.2));
  } else if (Note == 61) {  // small plate with a random attack and a squared decay
    NewVoice(g, 0, 25000);
    CopySource(g, s.SmpPlateSmall, 0);
    const double u1 = RndUniform(e.tools);  // after the copy
    buf = g.VoiceBuf.data();
    FxFade(buf, g.VoiceLen, RoundToInt32(u1 * 500.0 + 348.0), 24900);
    FxFade(buf, g.VoiceLen, 100, 24900);
    MixVoice(g, StartSec, Gain, kPanSmallPlate, Single(gain * 0.35));
  } else if (Note == 63) {  // small plate, as long as the note
    NewVoice(g, 0, ClampedLength(LenSec));
    CopySource(g, s.SmpPlateSmall, 0);
    FxFade(g.VoiceBuf.data(), g.VoiceLen, 364, 2500);
    MixVoice(g, StartSec, Gain, kPanSmallPlate, Single(gain * 0.35));
  } else if (Note == 67) {  // big plate, stretched low
    NewVoice(g, 0, 150000);
    CopySource(g, s.SmpPlateBigLow, 0);
    FxFade(g.VoiceBuf.data(), g.VoiceLen, RoundToInt32(100.0 / (gain + 0.1)), 2500);
    MixVoice(g, StartSec, Gain, kPanLowPlate, Single(gain * 0.2));
  } else if (Note == 69) {  // big plate
    NewVoice(g, 0, 150000);
    CopySource(g, s.SmpPlateBig, 0);
    FxFade(g.VoiceBuf.data(), g.VoiceLen, RoundToInt32(100.0 / (gain + 0.1)), 2500);
    MixVoice(g, StartSec, Gain, kPanBigPlate, Single(gain * 0.2));
  }
  // Any other note number plays nothing: no voice buffer, no mix.
}

}  // namespace quom
