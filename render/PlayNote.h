// The literal path a note at a time: what RenderSong does for each record, and for each layer of
// it. The tests play single notes and layers through these.
#pragma once

#include "render/Engine.h"
#include "voices/Layer.h"

namespace quom {

// Renders one note: velocity to gain, the instrument code's layers in order, then progress.
void PlayNote(Engine& e, float StartSec, float LenSec, int Note, int Velocity, int Instrument);

// Renders a planned layer into the voice buffer the literal way, with the engine's oscillator,
// and mixes it.
void PlayLayer(Engine& e, const LayerPlan& p);

}  // namespace quom
