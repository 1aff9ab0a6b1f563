// The note list: decoding, encoding and the invariants a list must keep to be rendered.
#include "score/NoteList.h"

namespace quom {

std::vector<NoteRec> DecodeNoteList(std::span<const uint8_t> bytes) {
  const size_t n = bytes.size() / kNoteRecBytes;
  std::vector<NoteRec> notes(n);
  for (size_t i = 0; i < n; ++i) {
    const uint8_t* b = bytes.data() + i * kNoteRecBytes;
    NoteRec& r = notes[i];
    r.Start = static_cast<int16_t>(static_cast<uint16_t>(b[0] | (b[1] << 8)));
    r.Length = static_cast<int16_t>(static_cast<uint16_t>(b[2] | (b[3] << 8)));
    r.Note = b[4];
    r.Velocity = b[5];
    r.Instrument = b[6];
  }
  return notes;
}

std::vector<uint8_t> EncodeNoteList(std::span<const NoteRec> notes) {
  std::vector<uint8_t> bytes;
  bytes.reserve(notes.size() * kNoteRecBytes);
  for (const NoteRec& r : notes) {
    const auto start = static_cast<uint16_t>(r.Start);
    const auto length = static_cast<uint16_t>(r.Length);
    bytes.insert(bytes.end(),
                 {static_cast<uint8_t>(start & 0xFF), static_cast<uint8_t>(start >> 8),
                  static_cast<uint8_t>(length & 0xFF), static_cast<uint8_t>(length >> 8), r.Note,
                  r.Velocity, r.Instrument});
  }
  return bytes;
}

std::optional<NoteListProblem> CheckNoteList(std::span<const NoteRec> notes) {
  for (size_t i = 0; i < notes.size(); ++i) {
    const NoteRec& r = notes[i];
    if (r.Start < 0) {
      return NoteListProblem{i, "Start", "Start " + std::to_string(r.Start) + " is negative"};
    }
    if (r.Length < 1) {
      return NoteListProblem{i, "Length",
                             "Length " + std::to_string(r.Length) + " is less than 1 tick"};
    }
    const int end = r.Start + r.Length;
    if (end > 32767) {
      return NoteListProblem{i, "Length",
                             "Start + Length = " + std::to_string(end) + " is beyond tick 32767"};
    }
  }
  return std::nullopt;
}

}  // namespace quom
