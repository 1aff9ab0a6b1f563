// Percussion instrument (placeholder until the sample bank lands).
#include "song/Engine.h"

namespace quom {

void VoiceDrum(Engine&, int32_t, float, float, float) {}

}  // namespace quom
