// Note list files: read the bytes, decode, check; every failure names the file.
#include "app/NoteListFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <utility>

#include "app/Errors.h"
#include "app/Files.h"
#include "render/Budget.h"
#include "render/Engine.h"
#include "score/MidiFile.h"

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
    if (bytes.size() + got > kMaxScoreFileBytes) throw InputError(ScoreTooLargeMessage(path));
    bytes.insert(bytes.end(), chunk, chunk + got);
  }
  if (std::ferror(f.get())) fail(errno);  // a directory, for one, opens but does not read
  return bytes;
}

}  // namespace

void CheckLoadedNotes(const std::vector<NoteRec>& notes, const std::string& origin) {
  if (std::string problem = NoteListProblemMessage(notes, origin); !problem.empty()) {
    throw InputError(problem);
  }
}

void CheckRenderBudget(const std::vector<NoteRec>& notes, const std::string& origin) {
  if (const auto excess = CheckRenderCost(EstimateRenderCost(notes, kSecPerTick))) {
    throw InputError(TooLargeToRenderMessage(origin, *excess));
  }
}

std::vector<NoteRec> LoadNoteListFile(const std::string& path, const ChannelMap& map) {
  const std::vector<uint8_t> bytes = ReadFileBytes(path);
  ScoreRead read = ReadScoreBytes(path, bytes, {map, kRenderLimits.records});
  if (!read.warning.empty()) std::fprintf(stderr, "quom: warning: %s\n", read.warning.c_str());
  if (!read.error.empty()) throw InputError(read.error);
  return std::move(read.notes);
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
