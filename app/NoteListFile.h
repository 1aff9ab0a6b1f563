// Loading a note list from a file given on the command line.
#pragma once

#include <string>
#include <vector>

#include "song/NoteList.h"

namespace quom {

// Reads the file at `path` and returns its records, checked with CheckNoteList. A name ending in
// ".txt" is read as text (one record a line), anything else as 7-byte records. Throws
// InputError naming the file (and the record and field for an invalid record) when the file
// cannot be read, holds no whole record, has a malformed line (named) or breaks the list's
// invariants. Trailing bytes that do
// not fill a record are ignored with a warning on standard error.
std::vector<NoteRec> LoadNoteListFile(const std::string& path);

// Checks records that came from elsewhere (the embedded list), naming `origin` on failure.
void CheckLoadedNotes(const std::vector<NoteRec>& notes, const std::string& origin);

}  // namespace quom
