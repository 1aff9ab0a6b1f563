// Percussion instrument: the note number picks one of seven sounds, each a stretch of a sample
// bank buffer copied into the voice buffer, shaped by a few effects and mixed at a fixed pan with
// a reverb send that grows with the gain.
#include "voices/modGenDrum.h"

#include <algorithm>
#include <stdexcept>

#include "base/Rounding.h"
#include "base/SampleRate.h"
#include "units/modFX.h"
#include "voices/modSamples.h"

namespace quom {
namespace {

// Note 63 follows the note's length within these bounds (seconds), plus a fixed tail (samples).
constexpr float kShortestSec = 0.12f;
constexpr float kLongestSec = 2.0f;
constexpr double kTailSamples = 2000.0;

// The seven sounds. Pans: 0 is left only, 1 right only; the send grows with the gain.
constexpr DrumSound kKick{DrumSource::kKick, 7000, 0.5f, 0.1, 0};
constexpr DrumSound kSnare{DrumSource::kNoise, 32000, 0.45f, 0.3, 2};  // offset, attack
constexpr DrumSound kMidPlate{DrumSource::kPlateMid, 60000, 0.45f, 0.2, 0};
constexpr DrumSound kClosedHat{DrumSource::kPlateSmall, 25000, 0.53f, 0.35, 1};  // attack
constexpr DrumSound kOpenHat{DrumSource::kPlateSmall, 0, 0.53f, 0.35, 0};  // the note's length
constexpr DrumSound kLowCrash{DrumSource::kPlateBigLow, 150000, 0.4f, 0.2, 0};
constexpr DrumSound kCrash{DrumSource::kPlateBig, 150000, 0.6f, 0.2, 0};

// Fills out[0 .. len-1] with src from index `from` on. The bank is built before any note; a drum
// played without it (or a range past its end) is a caller bug, reported instead of reading
// outside the buffer.
void CopySource(float* out, int32_t len, const std::vector<float>& src, int32_t from) {
  if (from < 0 || static_cast<size_t>(from) + static_cast<size_t>(len) > src.size()) {
    throw std::logic_error("drum source out of range: was the sample bank built?");
  }
  std::copy_n(src.begin() + from, len, out);
}

const std::vector<float>& SourceOf(const modSamples& s, DrumSource source) {
  switch (source) {
    case DrumSource::kKick:
      return s.SmpKick;
    case DrumSource::kNoise:
      return s.SmpNoise;
    case DrumSource::kPlateSmall:
      return s.SmpPlateSmall;
    case DrumSource::kPlateMid:
      return s.SmpPlateMid;
    case DrumSource::kPlateBig:
      return s.SmpPlateBig;
    case DrumSource::kPlateBigLow:
      return s.SmpPlateBigLow;
  }
  return s.SmpKick;
}

}  // namespace

const DrumSound* DrumSoundOf(int32_t Note) {
  switch (Note) {
    case 36:
      return &kKick;
    case 38:
    case 39:
    case 40:
      return &kSnare;
    case 59:
      return &kMidPlate;
    case 61:
      return &kClosedHat;
    case 63:
      return &kOpenHat;
    case 67:
      return &kLowCrash;
    case 69:
      return &kCrash;
    default:
      return nullptr;  // any other note number plays nothing
  }
}

int32_t DrumLength(int32_t Note, float LenSec) {
  const DrumSound* sound = DrumSoundOf(Note);
  if (!sound) return 0;
  if (sound->len > 0) return sound->len;
  // L is LenSec limited to 0.12 .. 2 s; a NaN counts as too short.
  float L = LenSec;
  if (LenSec > kLongestSec) {
    L = kLongestSec;
  } else if (!(LenSec >= kShortestSec)) {
    L = kShortestSec;
  }
  return RoundToInt32(L * static_cast<double>(kSampleRate) + kTailSamples);
}

bool PlanDrum(modTools& t, int32_t Note, float Gain, float StartSec, float LenSec, LayerPlan& p) {
  p = LayerPlan{};
  const DrumSound* sound = DrumSoundOf(Note);
  if (!sound) return false;  // no voice, no draw
  p.kind = LayerKind::kDrum;
  p.drumNote = Note;
  p.start = StartSec;
  p.gain = Gain;
  p.len = DrumLength(Note, LenSec);
  p.pan = sound->pan;
  p.send = Single(Gain * sound->send);
  // The draws happen here, in the places the sounds make them: before the copy for the snare's
  // offset, after its resonator for its attack, after the copy for note 61's attack.
  if (sound->draws > 0) p.u1 = RndUniform(t);
  if (sound->draws > 1) p.u2 = RndUniform(t);
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
  const DrumSound* sound = DrumSoundOf(p.drumNote);
  if (!sound) return;
  const std::vector<float>& source = SourceOf(s, sound->source);
  const double gain = p.gain;
  switch (p.drumNote) {
    case 36:
      CopySource(out, n, source, 0);
      break;
    case 38:
    case 39:
    case 40:
      CopySource(out, n, source, RoundToInt32(p.u1 * 600.0 + 167.0));
      FxResonator(out, n, 600.0f, 0.97f, 0.07f);
      fade(RoundToInt32(p.u2 * 700.0 + 480.0), 31000);
      FxNormalize(out, n, 0.2f);
      break;
    case 59:  // quiet notes get a softer attack
      CopySource(out, n, source, 0);
      fade(RoundToInt32(500.0 / (gain + 0.1)), 8000);
      break;
    case 61:
      CopySource(out, n, source, 0);
      fade(RoundToInt32(p.u1 * 500.0 + 348.0), 24900);
      fade(100, 24900);
      break;
    case 63:
      CopySource(out, n, source, 0);
      fade(364, 2500);
      break;
    case 67:
      CopySource(out, n, source, 0);
      fade(RoundToInt32(100.0 / (gain + 0.1)), 2500);
      break;
    case 69:
      CopySource(out, n, source, 0);
      fade(RoundToInt32(100.0 / (gain + 0.1)), 2500);
      break;
  }
}

}  // namespace quom
