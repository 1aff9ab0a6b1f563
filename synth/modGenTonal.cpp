// Tonal instruments: a cubic-table tone read twice per sample, an arc-table tone whose decay
// follows its pitch, and a two-layer bass through a fixed resonance.
#include "synth/modGenTonal.h"

#include <cmath>

#include "fx/modFX.h"
#include "song/Engine.h"
#include "synth/Rounding.h"

namespace quom {

namespace {

constexpr double kSampleRateHz = 44100.0;
constexpr double kTailSamples = 4000.0;      // the cubic and arc buffers ring on past the note
constexpr double kBassTailSamples = 2000.0;  // the bass main layer's tail

// Start jitter: a layer starts up to `spread` seconds early (and `offset` more), never before 0.
float JitterStart(modTools& t, float start, double spread, double offset) {
  const double r = RndUniform(t);
  float s = Single(start - r * spread - offset);
  if (s < 0.0f) s = 0.0f;
  return s;
}

// A fresh voice of the note's length plus tail, detuned by up to +-0.01 semitone.
void NewDetunedVoice(Engine& e, int32_t note, float length) {
  const double r = RndUniform(e.tools);
  const int32_t count = RoundToInt32(length * kSampleRateHz + kTailSamples);
  NewVoice(e.gen, Single((r - 0.5) * 0.02 + note), count);
}

}  // namespace

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

void VoiceCubic(Engine& e, int32_t note, float gain, float start, float length, float pan,
                float send) {
  modGen& g = e.gen;
  start = JitterStart(e.tools, start, 0.02, 0.0);
  NewDetunedVoice(e, note, length);
  // Half the frequency, read twice per sample: the note's pitch with a mild low-pass.
  WaveInitCubic(e.wave, e.tools, Single(g.VoiceFreq * 0.5), 0.1f, Single(note / 50.0));
  float* buf = g.VoiceBuf.data();
  for (int32_t i = 0; i < g.VoiceLen; ++i) {
    const float a = WaveNext(e.wave);
    const float b = WaveNext(e.wave);
    buf[i] = Single(static_cast<double>(a) + b);
  }
  FxDecay(buf, g.VoiceLen, 0.999985);  // about -5.75 dB per second
  FxHighPass(buf, g.VoiceLen, 0.92f);
  FxNormalize(buf, g.VoiceLen, 0.1f);
  FxFade(buf, g.VoiceLen, 50, 6000);
  MixVoice(g, start, gain, pan, Single(static_cast<double>(gain) * send));
}

void VoiceArc(Engine& e, int32_t note, float gain, float start, float length, float pan) {
  modGen& g = e.gen;
  start = JitterStart(e.tools, start, 0.02, 0.0);
  NewDetunedVoice(e, note, length);
  WaveInitArc(e.wave, e.tools, Single(g.VoiceFreq), 0.1f, 0.2f);
  float* buf = g.VoiceBuf.data();
  for (int32_t i = 0; i < g.VoiceLen; ++i)
    buf[i] = WaveNext(e.wave);
  FxDecay(buf, g.VoiceLen, 1.0 - g.VoiceFreq * 3e-7);  // higher notes die away faster
  FxHighPass(buf, g.VoiceLen, 0.8f);
  FxNormalize(buf, g.VoiceLen, 0.1f);
  FxFade(buf, g.VoiceLen, 50, 5000);
  MixVoice(g, start, gain, pan, Single(gain * 0.2));
}

void VoiceBass(Engine& e, int32_t note, float gain, float start, float length) {
  modGen& g = e.gen;
  start = JitterStart(e.tools, start, 0.01, 0.01);

  // The arc layer: half the length, centred, a gain that falls faster than the note's.
  VoiceArc(e, note, Single((gain * 0.4 + 0.2) * gain), start, Single(length * 0.5), 0.5f);

  // The main layer: not detuned, no draw.
  NewVoice(g, static_cast<float>(note), RoundToInt32(length * kSampleRateHz + kBassTailSamples));
  const BassMainLayer layer = BassMainLayerFor(gain);
  WaveInitArc(e.wave, e.tools, Single(g.VoiceFreq), 0.5f, layer.noise);
  float* buf = g.VoiceBuf.data();
  for (int32_t i = 0; i < g.VoiceLen; ++i)
    buf[i] = WaveNext(e.wave);
  FxResonator(buf, g.VoiceLen, 1600.0f, 0.9f, 1.0f);
  FxFade(buf, g.VoiceLen, layer.fadeIn, 3000);  // fade before normalising, high-pass after
  FxNormalize(buf, g.VoiceLen, Single(0.5 - note * 0.005));  // lower notes peak higher
  FxHighPass(buf, g.VoiceLen, 0.975f);
  MixVoice(g, start, layer.mixGain, 0.5f, Single(layer.mixGain * 0.1));
}

}  // namespace quom
