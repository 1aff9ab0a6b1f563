// The synthesis engine: every module's state in one value, and the score rendering that drives
// it. Nothing here knows of windows, terminals, files or sound devices.
#pragma once

#include <span>

#include "base/Progress.h"
#include "base/modTools.h"
#include "score/NoteList.h"
#include "units/modGen.h"
#include "units/modString.h"
#include "voices/modSamples.h"

namespace quom {

struct Engine {
  modTools tools;      // the shared generators; the order of draws is part of the output
  modString wave;      // the one oscillator
  modGen gen;          // mix bus, voice buffer, progress total
  modSamples samples;  // percussion sample bank
  ProgressSink* progress = nullptr;  // not owned; may be null
};

// Seconds per tick of the note list: 4/110 rounded to float (27.5 ticks per second).
inline const float kSecPerTick = static_cast<float>(4.0 / 110.0);

// Adds amount to the progress total (in float) and reports the new total to the sink.
void ShowProgress(Engine& e, float amount);

// Starts the progress clock and empties the voice buffer and the mix bus.
void InitMix(Engine& e);

// Sizes the mix bus to the last note end plus one second, then plays every record in file order.
// The records must pass CheckNoteList. An empty list gives one second of silence.
void RenderSong(Engine& e, std::span<const NoteRec> notes, float SecPerTick);

}  // namespace quom
