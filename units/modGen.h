// The mix bus and the voice buffer: every note layer is rendered into VoiceBuf, then added into
// MixBuf at its start time with a gain, a linear pan and a reverb send.
#pragma once

#include <cstdint>
#include <vector>

#include "base/SampleRate.h"
#include "base/Simd.h"

namespace quom {

struct MixFrame {
  float L = 0.0f;
  float R = 0.0f;
  float Send = 0.0f;  // what the reverb is fed with
};

struct modGen {
  std::vector<MixFrame> MixBuf;  // the whole piece; frames 0 .. MixLen-1
  int32_t MixLen = 0;
  std::vector<float> VoiceBuf;  // one note layer; samples 0 .. VoiceLen-1
  int32_t VoiceLen = 0;
  double VoiceFreq = 0.0;      // Hz, of the latest NewVoice
  float ProgressTotal = 0.0f;  // progress units since start; never reset
};

// Replaces VoiceBuf with Length zero samples and sets VoiceFreq from the (fractional) note number.
void NewVoice(modGen& g, float Note, int32_t Length);

// Adds VoiceBuf into MixBuf from round(StartSec * 44100) on, growing the bus (contents kept) only
// when the voice reaches past its end.
void MixVoice(modGen& g, float StartSec, float Gain, float Pan, float SendLevel);

// MixVoice for a voice held elsewhere: len samples from `voice`.
void MixSamples(modGen& g, float StartSec, float Gain, float Pan, float SendLevel,
                const float* voice, int32_t len);

// The same bits, several frames at a time with the given vector instructions.
void MixSamplesFast(modGen& g, float StartSec, float Gain, float Pan, float SendLevel,
                    const float* voice, int32_t len, SimdPath path = BestSimdPath());

// The frequency NewVoice gives a note number: 2 ^ ((Note + 36.3763) / 12) Hz.
double NoteFrequency(float Note);

// The gain PlayNote gives a velocity: 1.04 ^ (Velocity - 127), rounded to float.
float VelocityGain(int Velocity);

}  // namespace quom
