// Loading a note list from a file given on the command line.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "app/OutputFile.h"
#include "score/MidiMap.h"
#include "score/NoteList.h"
#include "score/ScoreFile.h"

namespace quom {

// Reads the file at `path` and returns its records, checked with CheckNoteList: ReadScoreBytes
// (score/ScoreFile.h) on its bytes, a MIDI file's channels as `map` says, else by the default map.
// Throws InputError with ReadScoreBytes's refusal, or when the file cannot be read or is larger
// than kMaxScoreFileBytes. Its warning goes to standard error, in one line.
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
