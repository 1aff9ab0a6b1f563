// One note layer, planned: everything the generators and the vibrato decide about it, so that
// it can be rendered later, anywhere, and mixed in file order.
//
// Planning a layer makes all of its generator draws (jitter, detune, table noise, drum offsets)
// and counts its oscillator calls; rendering it needs nothing but the plan (and, for drums, the
// sample bank). The same plans drive the literal one-call-at-a-time rendering and the fast one.
#pragma once

#include <cstdint>

#include "units/modString.h"

namespace quom {

struct modSamples;

enum class LayerKind : uint8_t {
  kCubic,  // cubic table, two oscillator calls per sample, decay, high-pass
  kArc,    // arc table, one call per sample, pitch-dependent decay, high-pass
  kBass,   // the bass main layer: arc table through a resonance, fade, then high-pass
  kDrum,   // a stretch of the sample bank with its effects
};

struct LayerPlan {
  LayerKind kind = LayerKind::kCubic;
  int32_t len = 0;         // samples in the voice buffer
  float voiceNote = 0.0f;  // the (detuned) note number the voice buffer is made for

  // Where and how it is mixed.
  float start = 0.0f;
  float gain = 0.0f;
  float pan = 0.0f;
  float send = 0.0f;

  // Tonal layers: the oscillator as its initialiser leaves it, and the vibrato phase of the
  // layer's first oscillator call.
  modString wave;
  double voiceFreq = 0.0;  // the arc decay follows it
  int32_t fadeIn = 0;      // bass: attack length
  float peak = 0.0f;       // bass: normalisation peak

  // Drum layers: the note and the gain that pick the sound and shape it, and its draws.
  int32_t drumNote = 0;
  float drumLen = 0.0f;  // note 63 follows the note's length
  double u1 = 0.0;
  double u2 = 0.0;

  // Oscillator calls the layer makes.
  int64_t Calls() const {
    if (kind == LayerKind::kDrum) return 0;
    return kind == LayerKind::kCubic ? 2 * static_cast<int64_t>(len) : len;
  }
};

// The arc layer's decay factor per sample: higher notes die away faster. From about 6.67 MHz on
// (note numbers 236 and up) 1 - f * 3e-7 falls below -1 and the envelope would grow until it
// overflowed, leaving infinities and NaNs that the reverb and the master stage would carry to the
// end of the piece; the factor is held at -1 there. Every lower note keeps its exact factor.
inline double ArcDecayFactor(double voiceFreq) {
  const double factor = 1.0 - voiceFreq * 3e-7;
  return factor < -1.0 ? -1.0 : factor;
}

// A tonal layer's effects, as data: which of the two chains, and its settings. The literal
// renderer runs the effects one after the other from these; the lanes fuse the first two into
// their passes over a chunk and the rest into one pass once the layer's peak is known.
struct ToneEffects {
  // false: FxDecay, FxHighPass, FxNormalize, FxFade (cubic and arc layers).
  // true: FxResonator, FxFade, FxNormalize, FxHighPass (the bass main layer): the fade comes
  // before the normalisation, and the high-pass after it.
  bool resonant = false;
  double decay = 1.0;      // FxDecay factor
  float highPass = 0.0f;   // FxHighPass pole
  float resonance = 0.0f;  // FxResonator freq (Hz), feedback and mix
  float feedback = 0.0f;
  float mix = 0.0f;
  float peak = 0.0f;    // FxNormalize
  int32_t fadeIn = 0;   // FxFade, samples
  int32_t fadeOut = 0;  // FxFade, samples
};

inline ToneEffects EffectsOf(const LayerPlan& p) {
  switch (p.kind) {
    case LayerKind::kCubic:  // a decay of about -5.75 dB per second
      return {.decay = 0.999985, .highPass = 0.92f, .peak = 0.1f, .fadeIn = 50, .fadeOut = 6000};
    case LayerKind::kArc:
      return {.decay = ArcDecayFactor(p.voiceFreq),
              .highPass = 0.8f,
              .peak = 0.1f,
              .fadeIn = 50,
              .fadeOut = 5000};
    case LayerKind::kBass:  // fully wet resonance; the attack and the peak follow the note
      return {.resonant = true,
              .highPass = 0.975f,
              .resonance = 1600.0f,
              .feedback = 0.9f,
              .mix = 1.0f,
              .peak = p.peak,
              .fadeIn = p.fadeIn,
              .fadeOut = 3000};
    case LayerKind::kDrum:  // shaped by its own sound's effects (voices/modGenDrum.cpp)
      break;
  }
  return {};
}

// Renders a planned layer one oscillator call and one effect at a time into out[0 .. len-1],
// running the oscillator `w` (which the caller has set to p.wave).
void RenderLayerLiteral(const LayerPlan& p, modString& w, const modSamples& bank, float* out);

}  // namespace quom
