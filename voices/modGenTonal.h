// Tonal instruments, split into planning (every generator draw, in order) and rendering.
#pragma once

#include <cstdint>

#include "voices/Layer.h"

namespace quom {

struct Engine;

// The bass main layer's settings for a note gain: louder notes get more table noise and a
// shorter attack, and the layer never mixes louder than 0.35.
struct BassMainLayer {
  float h = 0.0f;        // gain / 0.35, rounded to float
  float noise = 0.0f;    // table noise amount
  int32_t fadeIn = 0;    // samples
  float mixGain = 0.0f;  // gain handed to the mix
};

BassMainLayer BassMainLayerFor(float gain);

// Plan one layer each, making the instrument's draws and moving the engine's vibrato phase past
// the layer's oscillator calls. The arguments are those of VoiceCubic, VoiceArc and VoiceBass.
LayerPlan PlanCubic(Engine& e, int32_t note, float gain, float start, float length, float pan,
                    float send);
LayerPlan PlanArc(Engine& e, int32_t note, float gain, float start, float length, float pan);
// The bass makes two layers: its arc layer first, then its main layer.
void PlanBass(Engine& e, int32_t note, float gain, float start, float length, LayerPlan& arc,
              LayerPlan& main);

// Renders a planned layer into the engine's voice buffer the literal way and mixes it.
void PlayLayer(Engine& e, const LayerPlan& p);

}  // namespace quom
