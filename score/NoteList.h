// The note list: headerless 7-byte little-endian records, decoded field by field.
//
// Record layout: Start (int16), Length (int16), Note (uint8), Velocity (uint8), Instrument
// (uint8). Trailing bytes that do not fill a record are ignored.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace quom {

struct NoteRec {
  int16_t Start = 0;       // ticks from the beginning of the piece
  int16_t Length = 0;      // ticks
  uint8_t Note = 0;        // pitch, or the drum selector for the percussion code
  uint8_t Velocity = 0;    // 127 = full level
  uint8_t Instrument = 0;  // instrument code
};

constexpr size_t kNoteRecBytes = 7;

// Decodes every whole record of `bytes`, independent of host byte order and struct layout.
std::vector<NoteRec> DecodeNoteList(std::span<const uint8_t> bytes);

// Encodes records back into their 7-byte form.
std::vector<uint8_t> EncodeNoteList(std::span<const NoteRec> notes);

// A record that breaks the list's invariants: which record, which field, and why.
struct NoteListProblem {
  size_t index = 0;
  std::string field;
  std::string message;
};

// Checks Start >= 0, Length >= 1 and Start + Length <= 32767 for every record. A list that
// passes renders without any write outside the mix bus.
std::optional<NoteListProblem> CheckNoteList(std::span<const NoteRec> notes);

}  // namespace quom
