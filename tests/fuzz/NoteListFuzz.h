// The note list readers under arbitrary input, and a bounded render of whatever they accept.
//
// One input must take milliseconds, so the harness (never the product) bounds what it renders:
// the first records only, starts and lengths folded into a few seconds, and a cap on the voice
// samples. The sample bank is a stand-in with the real buffer lengths and cheap contents, built
// once per process: the drums read the same index ranges as with the real bank, without its
// seconds of plate simulation. The reverb is left out: its cost is per frame of the bus, and
// nothing in it depends on what the readers accept (the sanitizer run covers it on whole
// renders).
//
// Each harness returns an empty string when every property holds, else the one that failed.
// The libFuzzer targets trap on a failure; the corpus test replays the kept inputs through the
// same functions in the ordinary build.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "score/NoteList.h"

namespace quom::fuzz {

// Records as 7-byte records: decoding keeps every whole record and encodes back to the same
// bytes; the checker's verdict is honoured; an accepted list renders.
std::string FuzzBinaryNoteList(std::span<const uint8_t> data);

// Records as text: a refusal names a line of the input; what is read prints and reads back to
// the same records; an accepted list renders.
std::string FuzzTextNoteList(std::span<const uint8_t> data);

// A Standard MIDI File: a refusal names a byte of the input; what is read keeps the list's
// invariants and fits MIDI, writes out and reads back to the same records with nothing to report;
// an accepted list renders.
std::string FuzzMidiScore(std::span<const uint8_t> data);

// Renders a list that passed CheckNoteList, bounded as above, the literal way and through the
// fast path's planning, lanes and vector mixer: both buses must agree to the bit and hold finite
// samples only, and the master stage must run over them.
std::string RenderBounded(std::span<const NoteRec> notes);

}  // namespace quom::fuzz
