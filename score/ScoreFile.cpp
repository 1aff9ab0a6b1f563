// Score files: decode by form, check, and put every failure into words that name the file.
#include "score/ScoreFile.h"

#include <utility>
#include <variant>

#include "score/NoteText.h"

namespace quom {

namespace {

bool EndsWith(std::string_view name, std::string_view end) {
  return name.size() >= end.size() && name.substr(name.size() - end.size()) == end;
}

bool EndsWithNoCase(std::string_view name, std::string_view end) {
  if (name.size() < end.size()) return false;
  for (size_t i = 0; i < end.size(); ++i) {
    const char c = name[name.size() - end.size() + i];
    if ((c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c) != end[i]) return false;
  }
  return true;
}

// A Standard MIDI File: a refusal names the byte where the fault lies.
ScoreRead FromMidi(std::string_view name, std::span<const uint8_t> bytes,
                   const MidiReadOptions& options) {
  ScoreRead out;
  auto read = ReadMidiFile(bytes, options);
  if (const auto* error = std::get_if<MidiError>(&read)) {
    out.error =
        ScoreOrigin(name) + ", byte " + std::to_string(error->offset) + ": " + error->message;
    return out;
  }
  MidiScore& score = std::get<MidiScore>(read);
  const std::string changes = DescribeMidiReport(score.report);
  if (score.notes.empty()) {
    out.error = ScoreOrigin(name) + " holds no note record" +
                (changes.empty() ? std::string(": it has no notes") : " (" + changes + ")");
    return out;
  }
  if (!changes.empty()) out.warning = ScoreOrigin(name) + ": " + changes;
  out.notes = std::move(score.notes);
  return out;
}

// The text form: one record a line. A record that breaks the invariants is named by its line.
ScoreRead FromText(std::string_view name, std::span<const uint8_t> bytes) {
  ScoreRead out;
  std::vector<size_t> lines;
  auto parsed = ParseNoteText(
      std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), &lines);
  if (const auto* error = std::get_if<NoteTextError>(&parsed)) {
    out.error = ScoreOrigin(name) + ", line " + std::to_string(error->line) + ": " + error->message;
    return out;
  }
  std::vector<NoteRec> notes = std::move(std::get<std::vector<NoteRec>>(parsed));
  if (notes.empty()) {
    out.error = ScoreOrigin(name) + " holds no note record";
  } else if (const auto problem = CheckNoteList(notes)) {
    out.error = ScoreOrigin(name) + ", line " + std::to_string(lines[problem->index]) +
                " (record " + std::to_string(problem->index) + "), field " + problem->field + ": " +
                problem->message;
  } else {
    out.notes = std::move(notes);
  }
  return out;
}

// The binary form: headerless 7-byte records.
ScoreRead FromRecords(std::string_view name, std::span<const uint8_t> bytes) {
  ScoreRead out;
  if (bytes.size() < kNoteRecBytes) {
    out.error = ScoreOrigin(name) + " holds no note record (" + std::to_string(bytes.size()) +
                " bytes; a record is 7 bytes)";
    return out;
  }
  if (const size_t extra = bytes.size() % kNoteRecBytes; extra != 0) {
    out.warning = ScoreOrigin(name) + " ends with " + std::to_string(extra) +
                  " bytes that fill no record; they are ignored";
  }
  out.notes = DecodeNoteList(bytes);
  return out;
}

}  // namespace

bool IsMidiName(std::string_view name) {
  return EndsWithNoCase(name, ".mid") || EndsWithNoCase(name, ".midi");
}

std::string ScoreOrigin(std::string_view name) {
  return "score '" + std::string(name) + "'";
}

std::string ScoreTooLargeMessage(std::string_view name) {
  return ScoreOrigin(name) + " is larger than " + std::to_string(kMaxScoreFileBytes >> 20) +
         " MiB, the most a score may be";
}

std::string NoteListProblemMessage(std::span<const NoteRec> notes, std::string_view origin) {
  const auto problem = CheckNoteList(notes);
  if (!problem) return {};
  return std::string(origin) + ", record " + std::to_string(problem->index) + ", field " +
         problem->field + ": " + problem->message;
}

std::string TooLargeToRenderMessage(std::string_view origin, std::string_view why) {
  return std::string(origin) + " is too large to render: " + std::string(why);
}

ScoreRead ReadScoreBytes(std::string_view name, std::span<const uint8_t> bytes,
                         const MidiReadOptions& midi) {
  if (bytes.size() > kMaxScoreFileBytes) return {{}, {}, ScoreTooLargeMessage(name)};
  if (EndsWith(name, ".txt")) return FromText(name, bytes);
  ScoreRead out = IsMidiName(name) ? FromMidi(name, bytes, midi) : FromRecords(name, bytes);
  if (out.error.empty()) {
    out.error = NoteListProblemMessage(out.notes, ScoreOrigin(name));
    if (!out.error.empty()) out.notes.clear();
  }
  return out;
}

}  // namespace quom
