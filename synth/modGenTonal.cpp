// Tonal instruments (placeholder until the oscillator lands).
#include "song/Engine.h"

namespace quom {

void VoiceCubic(Engine&, int32_t, float, float, float, float, float) {}
void VoiceArc(Engine&, int32_t, float, float, float, float) {}
void VoiceBass(Engine&, int32_t, float, float, float) {}

}  // namespace quom
