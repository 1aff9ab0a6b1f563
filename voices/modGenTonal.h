// Tonal instruments, split into planning (every generator draw, in order) and rendering.
#pragma once

#include <cstdint>

#include "base/modTools.h"
#include "voices/Layer.h"

namespace quom {

// The samples of a cubic or arc layer for a note of `length` seconds: the note and its tail.
int32_t ToneLength(float length);

// The bass's arc layer lasts half the note; its main layer the note and a shorter tail.
float BassArcLength(float length);
int32_t BassMainLength(float length);

// The bass main layer's settings for a note gain: louder notes get more table noise and a
// shorter attack, and the layer never mixes louder than 0.35.
struct BassMainLayer {
  float h = 0.0f;        // gain / 0.35, rounded to float
  float noise = 0.0f;    // table noise amount
  int32_t fadeIn = 0;    // samples
  float mixGain = 0.0f;  // gain handed to the mix
};

BassMainLayer BassMainLayerFor(float gain);

// Plan one layer each, making the instrument's draws from `t` and moving the oscillator's vibrato
// phase `VibPhase` past the layer's oscillator calls. The other arguments are those of
// VoiceCubic, VoiceArc and VoiceBass.
LayerPlan PlanCubic(modTools& t, double& VibPhase, int32_t note, float gain, float start,
                    float length, float pan, float send);
LayerPlan PlanArc(modTools& t, double& VibPhase, int32_t note, float gain, float start,
                  float length, float pan);
// The bass makes two layers: its arc layer first, then its main layer.
void PlanBass(modTools& t, double& VibPhase, int32_t note, float gain, float start, float length,
              LayerPlan& arc, LayerPlan& main);

}  // namespace quom
