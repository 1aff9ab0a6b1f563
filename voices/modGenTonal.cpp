// Tonal instruments: a cubic-table tone read twice per sample, an arc-table tone whose decay
// follows its pitch, and a two-layer bass through a fixed resonance.
#include "voices/modGenTonal.h"

#include "base/Rounding.h"
#include "base/SampleRate.h"
#include "units/Vibrato.h"
#include "units/modGen.h"

namespace quom {

namespace {

constexpr double kTailSamples = 4000.0;      // the cubic and arc buffers ring on past the note
constexpr double kBassTailSamples = 2000.0;  // the bass main layer's tail
constexpr double kArcSend = 0.2;             // an arc layer's reverb send, times its gain

// Start jitter: a layer starts up to `spread` seconds early (and `offset` more), never before 0.
float JitterStart(modTools& t, float start, double spread, double offset) {
  const double r = RndUniform(t);
  float s = Single(start - r * spread - offset);
  if (s < 0.0f) s = 0.0f;
  return s;
}

// A voice of the note's length plus tail, detuned by up to +-0.01 semitone.
void DetunedVoice(modTools& t, LayerPlan& p, int32_t note, float length) {
  const double r = RndUniform(t);
  p.len = ToneLength(length);
  p.voiceNote = Single((r - 0.5) * 0.02 + note);
  p.voiceFreq = NoteFrequency(p.voiceNote);
}

// The layer's oscillator starts where the vibrato is now; the vibrato runs on past its calls.
void TakeVibrato(double& VibPhase, LayerPlan& p) {
  p.wave.VibPhase = VibPhase;
  VibPhase = VibratoAdvance(VibPhase, p.Calls());
}

}  // namespace

int32_t ToneLength(float length) {
  return RoundToInt32(length * kSampleRateHz + kTailSamples);
}

float BassArcLength(float length) {
  return Single(length * 0.5);
}

int32_t BassMainLength(float length) {
  return RoundToInt32(length * kSampleRateHz + kBassTailSamples);
}

BassMainLayer BassMainLayerFor(float gain) {
  constexpr float kMaxMainGain = 0.35f;
  BassMainLayer b;
  b.h = Single(gain / 0.35);
  // The first factor is the unrounded quotient, the last the rounded h.
  b.noise = Single((gain / 0.35) * 0.03 * b.h);
  b.fadeIn = RoundToInt32(200.0 / (static_cast<double>(b.h) * b.h));
  b.mixGain = gain > kMaxMainGain ? kMaxMainGain : gain;
  return b;
}

LayerPlan PlanCubic(modTools& t, double& VibPhase, int32_t note, float gain, float start,
                    float length, float pan, float send) {
  LayerPlan p;
  p.kind = LayerKind::kCubic;
  p.start = JitterStart(t, start, 0.02, 0.0);
  DetunedVoice(t, p, note, length);
  // Half the frequency, read twice per sample: the note's pitch with a mild low-pass.
  WaveInitCubic(p.wave, t, Single(p.voiceFreq * 0.5), 0.1f, Single(note / 50.0));
  TakeVibrato(VibPhase, p);
  p.gain = gain;
  p.pan = pan;
  p.send = Single(static_cast<double>(gain) * send);
  return p;
}

LayerPlan PlanArc(modTools& t, double& VibPhase, int32_t note, float gain, float start,
                  float length, float pan) {
  LayerPlan p;
  p.kind = LayerKind::kArc;
  p.start = JitterStart(t, start, 0.02, 0.0);
  DetunedVoice(t, p, note, length);
  WaveInitArc(p.wave, t, Single(p.voiceFreq), 0.1f, 0.2f);
  TakeVibrato(VibPhase, p);
  p.gain = gain;
  p.pan = pan;
  p.send = Single(gain * kArcSend);
  return p;
}

void PlanBass(modTools& t, double& VibPhase, int32_t note, float gain, float start, float length,
              LayerPlan& arc, LayerPlan& main) {
  start = JitterStart(t, start, 0.01, 0.01);

  // The arc layer: half the length, centred, a gain that falls faster than the note's.
  arc = PlanArc(t, VibPhase, note, Single((gain * 0.4 + 0.2) * gain), start, BassArcLength(length),
                0.5f);

  // The main layer: not detuned, no draw.
  main = LayerPlan{};
  main.kind = LayerKind::kBass;
  main.len = BassMainLength(length);
  main.voiceNote = static_cast<float>(note);
  main.voiceFreq = NoteFrequency(main.voiceNote);
  const BassMainLayer layer = BassMainLayerFor(gain);
  WaveInitArc(main.wave, t, Single(main.voiceFreq), 0.5f, layer.noise);
  TakeVibrato(VibPhase, main);
  main.fadeIn = layer.fadeIn;
  main.peak = Single(0.5 - note * 0.005);  // lower notes peak higher
  main.start = start;
  main.gain = layer.mixGain;
  main.pan = 0.5f;
  main.send = Single(layer.mixGain * 0.1);
}

}  // namespace quom
