// Loading a note list from a file given on the command line.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "app/OutputFile.h"
#include "score/MidiMap.h"
#include "score/NoteList.h"

namespace quom {

// The largest score file read, in bytes: far more than any list within the render limits needs.
constexpr size_t kMaxScoreFileBytes = size_t{64} << 20;

// Whether `path` names a Standard MIDI File: it ends in .mid or .midi, in any case.
bool IsMidiPath(const std::string& path);

// Reads the file at `path` and returns its records, checked with CheckNoteList. A name ending in
// ".txt" is read as text (one record a line), one ending in ".mid" or ".midi" as a Standard MIDI
// File (channels as `map` says, else by the default map), anything else as 7-byte records. Throws
// InputError naming the file (and the record and field for an invalid record, the byte offset
// for a bad MIDI file) when the file cannot be read, holds no whole record, has a malformed line
// (named) or breaks the list's invariants, or is larger than kMaxScoreFileBytes. Trailing bytes
// that do not fill a record, and what a MIDI file held that a list cannot, are reported in one
// warning line on standard error.
std::vector<NoteRec> LoadNoteListFile(const std::string& path, const ChannelMap& map = {});

// A note list written as a Standard MIDI File, under a temporary name at once; it takes its
// place on Commit and is removed otherwise. What MIDI cannot hold (notes above 127, velocities
// outside 1 .. 127) is reported in one warning line. Throws std::runtime_error naming `path`
// when it cannot be written.
class MidiExport {
 public:
  MidiExport(const std::string& path, const std::vector<NoteRec>& notes);
  void Commit() { out_.Commit(); }

 private:
  OutputFile out_;
};

// Checks records that came from elsewhere (the embedded list), naming `origin` on failure.
void CheckLoadedNotes(const std::vector<NoteRec>& notes, const std::string& origin);

// Refuses, with an InputError naming `origin`, the figure and the limit, a list whose render
// would exceed the engine's limits (song/Budget.h). Call before rendering; nothing large has
// been allocated yet.
void CheckRenderBudget(const std::vector<NoteRec>& notes, const std::string& origin);

}  // namespace quom
