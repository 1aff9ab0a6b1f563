// The note list as text: a strict line reader and its printer.
#include "score/NoteText.h"

#include <array>
#include <charconv>
#include <cstdint>

namespace quom {

namespace {

struct Field {
  const char* name;
  int min;
  int max;
};

// Start and Length are signed 16-bit in the binary record, the rest unsigned bytes.
constexpr std::array<Field, 5> kFields = {{{"start", -32768, 32767},
                                           {"length", -32768, 32767},
                                           {"note", 0, 255},
                                           {"velocity", 0, 255},
                                           {"instrument", 0, 255}}};

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r';
}

// Splits a line (comment already removed) into its whitespace-separated words.
std::vector<std::string_view> Words(std::string_view line) {
  std::vector<std::string_view> words;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && IsBlank(line[i]))
      ++i;
    size_t j = i;
    while (j < line.size() && !IsBlank(line[j]))
      ++j;
    if (j > i) words.push_back(line.substr(i, j - i));
    i = j;
  }
  return words;
}

// Parses one field; an empty result means the value was read into `value`.
std::string ReadField(std::string_view word, const Field& field, int& value) {
  const char* first = word.data();
  const char* last = word.data() + word.size();
  long long v = 0;
  const auto [end, ec] = std::from_chars(first, last, v);
  if (ec == std::errc::result_out_of_range) {
    return std::string(field.name) + " " + std::string(word) + " is out of range " +
           std::to_string(field.min) + " .. " + std::to_string(field.max);
  }
  if (ec != std::errc() || end != last) {
    return std::string(field.name) + " '" + std::string(word) + "' is not a whole number";
  }
  if (v < field.min || v > field.max) {
    return std::string(field.name) + " " + std::to_string(v) + " is out of range " +
           std::to_string(field.min) + " .. " + std::to_string(field.max);
  }
  value = static_cast<int>(v);
  return {};
}

}  // namespace

std::variant<std::vector<NoteRec>, NoteTextError> ParseNoteText(std::string_view text,
                                                                std::vector<size_t>* lines) {
  std::vector<NoteRec> notes;
  if (lines) lines->clear();
  size_t lineNo = 0;
  size_t pos = 0;
  while (pos < text.size()) {
    ++lineNo;
    size_t eol = text.find('\n', pos);
    if (eol == std::string_view::npos) eol = text.size();
    std::string_view line = text.substr(pos, eol - pos);
    pos = eol + 1;

    const size_t hash = line.find('#');
    if (hash != std::string_view::npos) line = line.substr(0, hash);
    const std::vector<std::string_view> words = Words(line);
    if (words.empty()) continue;
    if (words.size() != kFields.size()) {
      return NoteTextError{lineNo,
                           "expected 5 fields (start length note velocity instrument), "
                           "found " +
                               std::to_string(words.size())};
    }
    std::array<int, 5> v{};
    for (size_t f = 0; f < kFields.size(); ++f) {
      std::string problem = ReadField(words[f], kFields[f], v[f]);
      if (!problem.empty()) return NoteTextError{lineNo, std::move(problem)};
    }
    notes.push_back(NoteRec{static_cast<int16_t>(v[0]), static_cast<int16_t>(v[1]),
                            static_cast<uint8_t>(v[2]), static_cast<uint8_t>(v[3]),
                            static_cast<uint8_t>(v[4])});
    if (lines) lines->push_back(lineNo);
  }
  return notes;
}

std::string FormatNoteText(std::span<const NoteRec> notes) {
  std::string out = "# start length note velocity instrument\n";
  out.reserve(out.size() + notes.size() * 20);
  for (const NoteRec& r : notes) {
    out += std::to_string(r.Start);
    out += ' ';
    out += std::to_string(r.Length);
    out += ' ';
    out += std::to_string(r.Note);
    out += ' ';
    out += std::to_string(r.Velocity);
    out += ' ';
    out += std::to_string(r.Instrument);
    out += '\n';
  }
  return out;
}

}  // namespace quom
