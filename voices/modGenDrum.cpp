// Percussion instrument: the note number picks one of seven sounds, each a stretch of a sample
// bank buffer copied into the voice buffer, shaped by a few effects and mixed at a fixed pan with
// a reverb send that grows with the gain.
#include "voices/modGenDrum.h"

#include <algorithm>
#include <stdexcept>

#include "base/Rounding.h"
#include "render/Engine.h"
#include "units/modFX.h"
#include "voices/modGenTonal.h"
#include "voices/modSamples.h"

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

// Fills out[0 .. len-1] with src from index `from` on. The bank is built before any note; a drum
// played without it (or a range past its end) is a caller bug, reported instead of reading
// outside the buffer.
void CopySource(float* out, int32_t len, const std::vector<float>& src, int32_t from) {
  if (from < 0 || static_cast<size_t>(from) + static_cast<size_t>(len) > src.size()) {
    throw std::logic_error("drum source out of range: was the sample bank built?");
  }
  std::copy_n(src.begin() + from, len, out);
}

}  // namespace

bool PlanDrum(Engine& e, int32_t Note, float Gain, float StartSec, float LenSec, LayerPlan& p) {
  p = LayerPlan{};
  p.kind = LayerKind::kDrum;
  p.drumNote = Note;
  p.start = StartSec;
  p.gain = Gain;
  const double gain = Gain;
  // The draws happen here, in the places the sounds make them: before the copy for the snare's
  // offset, after its resonator for its attack, after the copy for note 61's attack.
  if (Note == 36) {  // kick
    p.len = 7000;
    p.pan = kPanCentre;
    p.send = Single(gain * 0.1);
  } else if (Note >= 38 && Note <= 40) {  // snare: resonated noise from a random offset
    p.len = 32000;
    p.u1 = RndUniform(e.tools);
    p.u2 = RndUniform(e.tools);
    p.pan = kPanSnare;
    p.send = Single(gain * 0.3);
  } else if (Note == 59) {  // mid plate
    p.len = 60000;
    p.pan = kPanSnare;
    p.send = Single(gain * 0.2);
  } else if (Note == 61) {  // small plate with a random attack and a squared decay
    p.len = 25000;
    p.u1 = RndUniform(e.tools);
    p.pan = kPanSmallPlate;
    p.send = Single(gain * 0.35);
  } else if (Note == 63) {  // small plate, as long as the note
    p.len = ClampedLength(LenSec);
    p.pan = kPanSmallPlate;
    p.send = Single(gain * 0.35);
  } else if (Note == 67) {  // big plate, stretched low
    p.len = 150000;
    p.pan = kPanLowPlate;
    p.send = Single(gain * 0.2);
  } else if (Note == 69) {  // big plate
    p.len = 150000;
    p.pan = kPanBigPlate;
    p.send = Single(gain * 0.2);
  } else {
    return false;  // any other note number plays nothing
  }
  return true;
}

void RenderDrum(const LayerPlan& p, const modSamples& s, float* out, SimdPath path) {
  // The fades divide every sample of their stretch; the vector paths divide several at once.
  const int32_t n = p.len;
  auto fade = [&](int32_t fadeIn, int32_t fadeOut) {
    if (path == SimdPath::kScalar) {
      FxFade(out, n, fadeIn, fadeOut);
    } else {
      FadeBuffer(out, n, fadeIn, fadeOut, path);
    }
  };
  const double gain = p.gain;
  switch (p.drumNote) {
    case 36:
      CopySource(out, n, s.SmpKick, 0);
      break;
    case 38:
    case 39:
    case 40:
      CopySource(out, n, s.SmpNoise, RoundToInt32(p.u1 * 600.0 + 167.0));
      FxResonator(out, n, 600.0f, 0.97f, 0.07f);
      fade(RoundToInt32(p.u2 * 700.0 + 480.0), 31000);
      FxNormalize(out, n, 0.2f);
      break;
    case 59:  // quiet notes get a softer attack
      CopySource(out, n, s.SmpPlateMid, 0);
      fade(RoundToInt32(500.0 / (gain + 0.1)), 8000);
      break;
    case 61:
      CopySource(out, n, s.SmpPlateSmall, 0);
      fade(RoundToInt32(p.u1 * 500.0 + 348.0), 24900);
      fade(100, 24900);
      break;
    case 63:
      CopySource(out, n, s.SmpPlateSmall, 0);
      fade(364, 2500);
      break;
    case 67:
      CopySource(out, n, s.SmpPlateBigLow, 0);
      fade(RoundToInt32(100.0 / (gain + 0.1)), 2500);
      break;
    case 69:
      CopySource(out, n, s.SmpPlateBig, 0);
      fade(RoundToInt32(100.0 / (gain + 0.1)), 2500);
      break;
  }
}

void VoiceDrum(Engine& e, int32_t Note, float Gain, float StartSec, float LenSec) {
  LayerPlan p;
  if (PlanDrum(e, Note, Gain, StartSec, LenSec, p)) PlayLayer(e, p);
}

}  // namespace quom
