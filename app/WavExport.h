// Writing the piece and its intermediate stages to audio files.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "app/OutputFile.h"
#include "app/SoundFormats.h"
#include "render/Synthesize.h"

namespace quom {

struct PcmFileOptions {
  std::string format;  // a name from the table of formats; empty: the file's extension says
  int quality = -1;    // 0 (smallest) to 10 (best) for the lossy formats; -1: the default
};

// Where the piece goes and in which format: a file named by its extension (.wav, .flac, .ogg,
// .mp3, .opus) or by options.format, or standard output ("-", WAV unless options.format says
// otherwise). A name the format cannot be told from, a --format the name contradicts, a quality
// for a lossless format or standard output on a terminal are InputErrors, raised here, before
// anything is rendered; an unwritable destination throws std::runtime_error likewise.
class PcmFileWriter {
 public:
  explicit PcmFileWriter(const std::string& path, const PcmFileOptions& options = {});
  // Writes the interleaved 44,100 Hz stereo and commits the file. WAV and FLAC hold exactly the
  // given samples; Vorbis and MP3 encode them, Opus encodes them resampled to 48 kHz. Standard
  // output gets the whole stream at once, its headers complete (a WAV header with the true
  // length), as the file would hold it; a reader that has gone raises OutputClosed.
  void Write(std::span<const int16_t> pcm);

 private:
  const SoundFormat* format_;
  int quality_;
  std::optional<OutputFile> out_;  // empty: standard output
};

// Writes each stage of the render, as it completes, to a 32-bit float WAV file in `dir` (created
// when missing): the six sample bank buffers (mono), then mix-dry.wav and mix-wet.wav (three
// channels: L, R, Send) after the notes and after the reverb. The values are the engine's floats,
// bit for bit. Files appear only on Commit, all together; without it, the folders it created are
// removed again.
class StemWriter : public StageObserver {
 public:
  explicit StemWriter(const std::string& dir);
  ~StemWriter() override;
  StemWriter(const StemWriter&) = delete;
  StemWriter& operator=(const StemWriter&) = delete;
  void SamplesBuilt(const Engine& e) override;
  void NotesMixed(const Engine& e) override;
  void ReverbAdded(const Engine& e) override;
  void Commit();

  static constexpr std::array<const char*, 8> kFileNames = {
      "SmpNoise.wav",    "SmpKick.wav",        "SmpPlateSmall.wav", "SmpPlateMid.wav",
      "SmpPlateBig.wav", "SmpPlateBigLow.wav", "mix-dry.wav",       "mix-wet.wav"};

 private:
  void RemoveCreatedDirs();
  void ForgetFolders();  // the created folders stay, or are already gone

  std::vector<std::unique_ptr<OutputFile>> files_;  // in the order of kFileNames
  std::vector<std::filesystem::path> createdDirs_;  // deepest first
  std::vector<int> dirHandles_;                     // their registrations for a fatal signal
  bool committed_ = false;
};

}  // namespace quom
