// Tonal instruments' level rules that depend on the note's gain alone.
#pragma once

#include <cstdint>

namespace quom {

// The bass main layer's settings for a note gain: louder notes get more table noise and a
// shorter attack, and the layer never mixes louder than 0.35.
struct BassMainLayer {
  float h = 0.0f;        // gain / 0.35, rounded to float
  float noise = 0.0f;    // table noise amount
  int32_t fadeIn = 0;    // samples
  float mixGain = 0.0f;  // gain handed to the mix
};

BassMainLayer BassMainLayerFor(float gain);

}  // namespace quom
