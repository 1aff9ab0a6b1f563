// Note list files: read the bytes, decode, check; every failure names the file.
#include "app/NoteListFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string_view>
#include <utility>
#include <variant>

#include "app/Errors.h"
#include "app/Files.h"
#include "render/Budget.h"
#include "render/Engine.h"
#include "score/MidiFile.h"
#include "score/NoteText.h"

namespace quom {

namespace {

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
  const auto fail = [&](int err) {
    throw InputError("cannot read score '" + path + "': " + std::strerror(err));
  };
  std::unique_ptr<FILE, int (*)(FILE*)> f(OpenFile(path, "rb"), &std::fclose);
  if (!f) fail(errno);

  // Counted as it is read, not taken from the file's size: a device or a pipe has none.
  std::vector<uint8_t> bytes;
  uint8_t chunk[65536];
  size_t got = 0;
  while ((got = std::fread(chunk, 1, sizeof chunk, f.get())) > 0) {
    if (bytes.size() + got > kMaxScoreFileBytes) {
      throw InputError("score '" + path + "' is larger than " +
                       std::to_string(kMaxScoreFileBytes >> 20) + " MiB, the most a score may be");
    }
    bytes.insert(bytes.end(), chunk, chunk + got);
  }
  if (std::ferror(f.get())) fail(errno);  // a directory, for one, opens but does not read
  return bytes;
}

bool HasTextExtension(const std::string& path) {
  constexpr std::string_view kText = ".txt";
  return path.size() >= kText.size() &&
         path.compare(path.size() - kText.size(), kText.size(), kText.data()) == 0;
}

bool EndsWithNoCase(const std::string& path, std::string_view end) {
  if (path.size() < end.size()) return false;
  for (size_t i = 0; i < end.size(); ++i) {
    const char c = path[path.size() - end.size() + i];
    if ((c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c) != end[i]) return false;
  }
  return true;
}

// A Standard MIDI File: a refusal names the byte where the fault lies.
std::vector<NoteRec> NotesFromMidi(const std::string& path, const std::vector<uint8_t>& bytes,
                                   const ChannelMap& map) {
  auto read = ReadMidiFile(bytes, {map, kRenderLimits.records});
  if (const auto* error = std::get_if<MidiError>(&read)) {
    throw InputError("score '" + path + "', byte " + std::to_string(error->offset) + ": " +
                     error->message);
  }
  MidiScore& score = std::get<MidiScore>(read);
  const std::string changes = DescribeMidiReport(score.report);
  if (score.notes.empty()) {
    throw InputError("score '" + path + "' holds no note record" +
                     (changes.empty() ? std::string(": it has no notes") : " (" + changes + ")"));
  }
  if (!changes.empty()) {
    std::fprintf(stderr, "quom: warning: score '%s': %s\n", path.c_str(), changes.c_str());
  }
  return std::move(score.notes);
}

// The text form: one record a line. A record that breaks the invariants is named by its line.
std::vector<NoteRec> NotesFromText(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::vector<size_t> lines;
  auto parsed = ParseNoteText(
      std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), &lines);
  if (const auto* error = std::get_if<NoteTextError>(&parsed)) {
    throw InputError("score '" + path + "', line " + std::to_string(error->line) + ": " +
                     error->message);
  }
  std::vector<NoteRec> notes = std::move(std::get<std::vector<NoteRec>>(parsed));
  if (notes.empty()) throw InputError("score '" + path + "' holds no note record");
  if (const auto problem = CheckNoteList(notes)) {
    throw InputError("score '" + path + "', line " + std::to_string(lines[problem->index]) +
                     " (record " + std::to_string(problem->index) + "), field " + problem->field +
                     ": " + problem->message);
  }
  return notes;
}

// The binary form: headerless 7-byte records.
std::vector<NoteRec> NotesFromBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  if (bytes.size() < kNoteRecBytes) {
    throw InputError("score '" + path + "' holds no note record (" + std::to_string(bytes.size()) +
                     " bytes; a record is 7 bytes)");
  }
  if (const size_t extra = bytes.size() % kNoteRecBytes; extra != 0) {
    std::fprintf(stderr,
                 "quom: warning: score '%s' ends with %zu bytes that fill no record; "
                 "they are ignored\n",
                 path.c_str(), extra);
  }
  return DecodeNoteList(bytes);
}

}  // namespace

void CheckLoadedNotes(const std::vector<NoteRec>& notes, const std::string& origin) {
  if (const auto problem = CheckNoteList(notes)) {
    throw InputError(origin + ", record " + std::to_string(problem->index) + ", field " +
                     problem->field + ": " + problem->message);
  }
}

void CheckRenderBudget(const std::vector<NoteRec>& notes, const std::string& origin) {
  if (const auto excess = CheckRenderCost(EstimateRenderCost(notes, kSecPerTick))) {
    throw InputError(origin + " is too large to render: " + *excess);
  }
}

bool IsMidiPath(const std::string& path) {
  return EndsWithNoCase(path, ".mid") || EndsWithNoCase(path, ".midi");
}

std::vector<NoteRec> LoadNoteListFile(const std::string& path, const ChannelMap& map) {
  const std::vector<uint8_t> bytes = ReadFileBytes(path);
  if (HasTextExtension(path)) return NotesFromText(path, bytes);
  std::vector<NoteRec> notes =
      IsMidiPath(path) ? NotesFromMidi(path, bytes, map) : NotesFromBytes(path, bytes);
  CheckLoadedNotes(notes, "score '" + path + "'");
  return notes;
}

MidiExport::MidiExport(const std::string& path, const std::vector<NoteRec>& notes) : out_(path) {
  MidiWriteReport report;
  const std::vector<uint8_t> bytes = WriteMidiFile(notes, &report);
  if (bytes.empty()) {
    throw std::runtime_error("cannot write '" + path +
                             "': the notes would need more than 65,535 tracks");
  }
  if (const std::string changes = DescribeMidiReport(report); !changes.empty()) {
    std::fprintf(stderr, "quom: warning: '%s': %s\n", path.c_str(), changes.c_str());
  }
  const auto fail = [&] {
    throw std::runtime_error("cannot write '" + path + "': " + std::strerror(errno));
  };
  const int fd = out_.OpenTemp();
  std::unique_ptr<FILE, int (*)(FILE*)> f(fdopen(fd, "wb"), &std::fclose);
  if (!f) {
    const int error = errno;
    CloseFile(fd);
    errno = error;
    fail();
  }
  if (std::fwrite(bytes.data(), 1, bytes.size(), f.get()) != bytes.size()) fail();
  if (std::fclose(f.release()) != 0) fail();
}

}  // namespace quom
