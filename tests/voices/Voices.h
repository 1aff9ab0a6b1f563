// The instruments one at a time, as the literal path plays a note's layers: each plans its layers
// (making its draws and moving the vibrato on), renders them into the voice buffer and mixes them.
#pragma once

#include <cstdint>

#include "render/Engine.h"
#include "render/PlayNote.h"
#include "voices/modGenDrum.h"
#include "voices/modGenTonal.h"

namespace quom::test {

inline void VoiceCubic(Engine& e, int32_t note, float gain, float start, float length, float pan,
                       float send) {
  PlayLayer(e, PlanCubic(e.tools, e.wave.VibPhase, note, gain, start, length, pan, send));
}

inline void VoiceArc(Engine& e, int32_t note, float gain, float start, float length, float pan) {
  PlayLayer(e, PlanArc(e.tools, e.wave.VibPhase, note, gain, start, length, pan));
}

// The arc layer first, then the main one.
inline void VoiceBass(Engine& e, int32_t note, float gain, float start, float length) {
  LayerPlan arc, main;
  PlanBass(e.tools, e.wave.VibPhase, note, gain, start, length, arc, main);
  PlayLayer(e, arc);
  PlayLayer(e, main);
}

// Note numbers without a sound play nothing and draw nothing.
inline void VoiceDrum(Engine& e, int32_t Note, float Gain, float StartSec, float LenSec) {
  LayerPlan p;
  if (PlanDrum(e.tools, Note, Gain, StartSec, LenSec, p)) PlayLayer(e, p);
}

}  // namespace quom::test
