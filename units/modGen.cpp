// The mix bus and the voice buffer: NewVoice and MixVoice.
#include "units/modGen.h"

#include <cmath>

#include "base/Rounding.h"

namespace quom {

double NoteFrequency(float Note) {
  return std::pow(2.0, (Note + 36.3763) / 12.0);
}

float VelocityGain(int Velocity) {
  return Single(std::pow(1.04, static_cast<double>(Velocity - 127)));
}

void NewVoice(modGen& g, float Note, int32_t Length) {
  if (Length < 0) Length = 0;  // no caller asks for less than one sample
  g.VoiceLen = Length;
  g.VoiceBuf.assign(static_cast<size_t>(Length), 0.0f);  // reuses the capacity of earlier voices
  g.VoiceFreq = NoteFrequency(Note);
}

void MixSamples(modGen& g, float StartSec, float Gain, float Pan, float SendLevel,
                const float* voice, int32_t len) {
  const int64_t off = RoundToInt32(StartSec * static_cast<double>(kSampleRate));
  const int64_t end = off + len;
  if (g.MixLen < end) {
    g.MixLen = static_cast<int32_t>(end);
    g.MixBuf.resize(static_cast<size_t>(g.MixLen));  // existing frames kept, new ones zero
  }
  // A voice never starts before the piece; should one try, its early samples are dropped
  // rather than written outside the bus.
  const int32_t first = off < 0 ? static_cast<int32_t>(-off) : 0;

  const double gain = Gain;
  const double left = 1.0 - static_cast<double>(Pan);
  const double right = Pan;
  const double send = SendLevel;
  MixFrame* mix = g.MixBuf.data();
  for (int32_t i = first; i < len; ++i) {
    // Gain * v first, then the third factor, then the addition: one rounding to float per store.
    const double gv = gain * voice[i];
    MixFrame& f = mix[off + i];
    f.L = Single(gv * left + f.L);
    f.R = Single(gv * right + f.R);
    f.Send = Single(gv * send + f.Send);
  }
}

void MixVoice(modGen& g, float StartSec, float Gain, float Pan, float SendLevel) {
  MixSamples(g, StartSec, Gain, Pan, SendLevel, g.VoiceBuf.data(), g.VoiceLen);
}

}  // namespace quom
