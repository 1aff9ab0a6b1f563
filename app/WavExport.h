// Writing the piece and its intermediate stages to audio files.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "app/OutputFile.h"
#include "render/Synthesize.h"

namespace quom {

// Where the 16-bit PCM goes and in which container, chosen by the file's extension: .wav (16-bit
// PCM) or .flac (lossless, 16 bits). Any other extension is an InputError, raised here, before
// anything is rendered; an unwritable destination throws std::runtime_error likewise.
class PcmFileWriter {
 public:
  explicit PcmFileWriter(const std::string& path);
  // Writes interleaved stereo at 44,100 Hz, exactly the given samples, and commits the file.
  void Write(std::span<const int16_t> pcm);

 private:
  int format_ = 0;
  OutputFile out_;
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
