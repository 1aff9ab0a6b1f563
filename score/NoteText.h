// The note list as text: one record a line, "start length note velocity instrument", for
// reading, diffing and editing by hand. Text to records and back is lossless.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "score/NoteList.h"

namespace quom {

// Why a text could not be read: the 1-based line and what is wrong with it.
struct NoteTextError {
  size_t line = 0;
  std::string message;
};

// Reads records from text. Each non-blank line holds five decimal integers separated by spaces
// or tabs: start and length (-32768 .. 32767), note, velocity and instrument (0 .. 255). A '#'
// starts a comment that runs to the end of the line; blank and comment-only lines are skipped.
// Line ends may be "\n" or "\r\n". The first bad line is reported and nothing is returned.
// When `lines` is given it receives the 1-based line of every record read, for messages about a
// record.
std::variant<std::vector<NoteRec>, NoteTextError> ParseNoteText(
    std::string_view text, std::vector<size_t>* lines = nullptr);

// Writes records as text that ParseNoteText reads back to the same records: a comment naming
// the columns, then one line per record in order.
std::string FormatNoteText(std::span<const NoteRec> notes);

}  // namespace quom
