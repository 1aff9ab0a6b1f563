// Wavetable string oscillator (placeholder).
#include "synth/modString.h"

namespace quom {

void WaveInitCubic(modString&, modTools&, float, float, float) {}
void WaveInitArc(modString&, modTools&, float, float, float) {}
float WaveNext(modString&) { return 0.0f; }

}  // namespace quom
