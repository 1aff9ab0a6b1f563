// What each instrument code plays, written once: its layers in order with their pitches, gains,
// lengths, pans and sends, and the progress a note of it reports. The planners, the render limits
// and the tests all read it from here.
#pragma once

#include <array>
#include <cstdint>

#include "voices/Layer.h"

namespace quom {

// One oscillator layer of a tonal instrument.
struct ToneLayer {
  LayerKind kind;     // kCubic or kArc
  int32_t transpose;  // semitones added to the note
  double gain;        // times the note's gain, rounded to float
  float lengthSec;    // how long it sounds; 0: as long as the note
  float pan;          // 0 is left only, 1 right only
  float send;         // cubic layers: reverb send, times the layer's gain (arc layers send 0.2)
};

enum class InstrumentKind : uint8_t {
  kSilent,  // renders nothing and reports no progress
  kTones,   // the tone layers below
  kBass,    // the two-layer bass (PlanBass)
  kDrum,    // one sound of the sample bank picked by the note (PlanDrum)
};

struct Instrument {
  InstrumentKind kind = InstrumentKind::kSilent;
  int layers = 0;  // the most layers a note adds (a drum note that sounds nothing adds none)
  std::array<ToneLayer, 3> tones{};  // kTones: the first `layers` of them, in order
  float progress = 0.0f;             // units a note reports, whether it sounds or not
};

// The instrument of a code: 24 the lead, 25 the arpeggio, 26 the stabs, 27 to 37 the bass, 127
// the drums; any other code is silent.
const Instrument& InstrumentOf(int code);

// The lengths, in samples, of the layers a note of `code` plays, in the order it plays them,
// worked out without a draw. `note` picks the drum sound; `LenSec` is the note's length.
struct LayerLengthList {
  int count = 0;
  std::array<int32_t, 3> len{};
};
LayerLengthList LayerLengthsOf(int code, int32_t note, float LenSec);

}  // namespace quom
