// Standard MIDI Files to note lists and back: the reader pairs note-ons with note-offs, lays the
// tempo map over every track and lands each note on the 4/110 s tick; the writer puts each
// instrument code on a track of its own at 110 beats per minute.
//
// Time. A note's start and end are turned into seconds exactly (whole microseconds per quarter
// note over the division, or the SMPTE frame rate), then into ticks, each rounded once to the
// nearest tick, ties to even. Nothing accumulates: a note is never more than half a tick (18 ms)
// from where the file puts it, and notes that touch in the file touch in the list. The length is
// the rounded end minus the rounded start, and at least one tick.
//
// Order. The list holds the notes by start, then by track, then in their track's order, unless
// every note of the file sits in a track that quom wrote (see below): then they come back in the
// order of the list that was written.
//
// quom's own files. Each track the writer makes carries a sequencer-specific event (manufacturer
// 0x7D, then "quom", version 1, the instrument code, and the list position of each of the track's
// notes in the order they start, as variable-length numbers). A track with that mark keeps its
// code and its notes as written, silent ones included, unless --map names its channel. Other
// programs ignore the event; a sequencer that drops it leaves a General MIDI file that the default
// map still reads as the same sounds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "score/MidiMap.h"
#include "score/NoteList.h"

namespace quom {

struct MidiReadOptions {
  ChannelMap map;              // channels whose code the user chose
  size_t maxEvents = 1 << 20;  // notes, program changes or tempo changes the reader holds, each
};

// What the reader did to fit the file into a note list, counted for one warning.
struct MidiReadReport {
  size_t pastEnd = 0;     // notes starting at or after tick 32767: dropped
  size_t cutShort = 0;    // notes running past tick 32767: ended there
  size_t silent = 0;      // drum keys outside the kit, and channels mapped to a silent code
  size_t unreleased = 0;  // notes never released: ended with their track
  size_t ignored = 0;     // pitch bends, controllers, aftertouch
};

// Why a file was refused: the byte where the fault was found, and what it is.
struct MidiError {
  size_t offset = 0;
  std::string message;
};

struct MidiScore {
  std::vector<NoteRec> notes;  // every record passes CheckNoteList
  MidiReadReport report;
};

// Reads a Standard MIDI File of format 0 or 1. Running status, note-ons of velocity 0 as
// note-offs, same-key notes paired first in first out (per track and channel), tempo changes
// from any track, SMPTE division, unknown chunks, meta and system exclusive events and a
// missing end-of-track are all accepted. A file with no notes gives an empty list.
std::variant<MidiScore, MidiError> ReadMidiFile(std::span<const uint8_t> bytes,
                                                const MidiReadOptions& options);

// The report as one clause list ("3 notes past tick 32767 dropped, ..."); empty when nothing
// was changed.
std::string DescribeMidiReport(const MidiReadReport& report);

// What the writer had to change: MIDI has 7-bit keys and velocities of 1 to 127.
struct MidiWriteReport {
  size_t highNotes = 0;   // note numbers above 127: left out
  size_t velocities = 0;  // velocities of 0 or above 127: written as 1 or 127
};

// Writes a format-1 file: a first track with the tempo (545,455 microseconds a quarter note, the
// nearest to 110 beats per minute) and 4/4 time, then one track per instrument code in the order
// the codes first appear, each with its name, program change and mark. The division is 480 ticks
// a quarter note, 32 to the list's tick. A code whose notes of one key nest (one starting after
// and ending before another) gets a further track, since a reader pairs such notes first in
// first out. Reading the file back gives the same records in the same order, for every list
// whose notes and velocities fit MIDI. Returns an empty vector only for a list that would need
// more than 65,535 tracks.
std::vector<uint8_t> WriteMidiFile(std::span<const NoteRec> notes, MidiWriteReport* report);

// The writer's report as one clause list; empty when nothing was changed.
std::string DescribeMidiReport(const MidiWriteReport& report);

}  // namespace quom
