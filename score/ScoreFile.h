// A score file's bytes to checked records, with the words the user reads: every refusal and
// warning names the file as "score 'NAME'", so that the command line and the page say the same.
// The form comes from the name: ".txt" is text, ".mid" or ".midi" (any case) a Standard MIDI File,
// anything else 7-byte records.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "score/MidiFile.h"
#include "score/NoteList.h"

namespace quom {

// The largest score file read, in bytes: far more than any list within the render limits needs.
inline constexpr size_t kMaxScoreFileBytes = size_t{64} << 20;

// Whether `name` names a Standard MIDI File: it ends in .mid or .midi, in any case.
bool IsMidiName(std::string_view name);

// How messages name a score file: "score 'NAME'".
std::string ScoreOrigin(std::string_view name);

// The refusal of a file larger than kMaxScoreFileBytes.
std::string ScoreTooLargeMessage(std::string_view name);

// The refusal of records that break the list's invariants (CheckNoteList), from `origin`; empty
// when they keep them.
std::string NoteListProblemMessage(std::span<const NoteRec> notes, std::string_view origin);

// The refusal of a list whose render would exceed the limits, `why` naming the figure and the
// limit.
std::string TooLargeToRenderMessage(std::string_view origin, std::string_view why);

struct ScoreRead {
  std::vector<NoteRec> notes;  // checked with CheckNoteList; empty when refused
  std::string warning;  // what was ignored, dropped or changed, in one line; empty when nothing
  std::string error;    // why the file is refused, in one line; empty when it is read
};

// Reads a score file's bytes: text (a bad line, or a bad record, is named by its line), MIDI (a
// fault is named by its byte) or 7-byte records (trailing bytes that fill no record are ignored,
// with a warning). A file that holds no record, or more than kMaxScoreFileBytes, is refused. A
// warning may come with a refusal.
ScoreRead ReadScoreBytes(std::string_view name, std::span<const uint8_t> bytes,
                         const MidiReadOptions& midi);

}  // namespace quom
