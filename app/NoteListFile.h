// Loading a note list from a file given on the command line.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "score/NoteList.h"

namespace quom {

// The largest score file read, in bytes: far more than any list within the render limits needs.
constexpr size_t kMaxScoreFileBytes = size_t{64} << 20;

// Reads the file at `path` and returns its records, checked with CheckNoteList. A name ending in
// ".txt" is read as text (one record a line), anything else as 7-byte records. Throws
// InputError naming the file (and the record and field for an invalid record) when the file
// cannot be read, holds no whole record, has a malformed line (named) or breaks the list's
// invariants, or is larger than kMaxScoreFileBytes. Trailing bytes that do not fill a record are
// ignored with a warning on standard error.
std::vector<NoteRec> LoadNoteListFile(const std::string& path);

// Checks records that came from elsewhere (the embedded list), naming `origin` on failure.
void CheckLoadedNotes(const std::vector<NoteRec>& notes, const std::string& origin);

// Refuses, with an InputError naming `origin`, the figure and the limit, a list whose render
// would exceed the engine's limits (song/Budget.h). Call before rendering; nothing large has
// been allocated yet.
void CheckRenderBudget(const std::vector<NoteRec>& notes, const std::string& origin);

}  // namespace quom
