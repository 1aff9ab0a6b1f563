// Audio files through libsndfile: 16-bit PCM for the piece, 32-bit float for the stages.
#include "app/WavExport.h"

#include <sndfile.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <stdexcept>

#include "app/Errors.h"
#include "units/modGen.h"

namespace quom {

namespace {

std::string LowerExtension(const std::string& path) {
  std::string ext = std::filesystem::path(path).extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return ext;
}

int PcmFormatFor(const std::string& path) {
  const std::string ext = LowerExtension(path);
  if (ext == ".wav") return SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  if (ext == ".flac") return SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
  throw InputError("--wav '" + path + "': the file name must end in .wav or .flac");
}

// An open sound file that is closed however the writing ends.
class SoundFile {
 public:
  SoundFile(const OutputFile& out, int format, int channels) : path_(out.path()) {
    SF_INFO info{};
    info.samplerate = kSampleRate;
    info.channels = channels;
    info.format = format;
    sf_ = sf_open(out.temp_path().c_str(), SFM_WRITE, &info);
    if (!sf_) Fail(sf_strerror(nullptr));
    // No PEAK chunk: a float stage file holds the samples and nothing derived from them.
    sf_command(sf_, SFC_SET_ADD_PEAK_CHUNK, nullptr, SF_FALSE);
  }
  ~SoundFile() {
    if (sf_) sf_close(sf_);
  }
  SoundFile(const SoundFile&) = delete;
  SoundFile& operator=(const SoundFile&) = delete;

  void WriteFrames(const int16_t* data, sf_count_t frames) {
    if (sf_writef_short(sf_, data, frames) != frames) Fail(sf_strerror(sf_));
  }
  void WriteFrames(const float* data, sf_count_t frames) {
    if (sf_writef_float(sf_, data, frames) != frames) Fail(sf_strerror(sf_));
  }
  void Close() {
    const int err = sf_close(sf_);
    sf_ = nullptr;
    if (err != 0) Fail(sf_error_number(err));
  }

 private:
  [[noreturn]] void Fail(const char* why) {
    throw std::runtime_error("cannot write '" + path_ + "': " + why);
  }
  std::string path_;
  SNDFILE* sf_ = nullptr;
};

constexpr int kStemFormat = SF_FORMAT_WAV | SF_FORMAT_FLOAT;

void WriteMono(OutputFile& out, const std::vector<float>& samples) {
  SoundFile f(out, kStemFormat, 1);
  f.WriteFrames(samples.data(), static_cast<sf_count_t>(samples.size()));
  f.Close();
}

// The bus in blocks, so that a stage file costs a few kilobytes beyond the bus itself.
void WriteBus(OutputFile& out, const modGen& g) {
  constexpr int32_t kBlockFrames = 4096;
  SoundFile f(out, kStemFormat, 3);
  std::vector<float> block(3 * static_cast<size_t>(kBlockFrames));
  for (int32_t start = 0; start < g.MixLen; start += kBlockFrames) {
    const int32_t n = std::min(kBlockFrames, g.MixLen - start);
    for (int32_t i = 0; i < n; ++i) {
      const MixFrame& m = g.MixBuf[static_cast<size_t>(start + i)];
      block[3 * static_cast<size_t>(i)] = m.L;
      block[3 * static_cast<size_t>(i) + 1] = m.R;
      block[3 * static_cast<size_t>(i) + 2] = m.Send;
    }
    f.WriteFrames(block.data(), n);
  }
  f.Close();
}

}  // namespace

PcmFileWriter::PcmFileWriter(const std::string& path) : format_(PcmFormatFor(path)), out_(path) {}

void PcmFileWriter::Write(std::span<const int16_t> pcm) {
  SoundFile f(out_, format_, 2);
  f.WriteFrames(pcm.data(), static_cast<sf_count_t>(pcm.size() / 2));
  f.Close();
  out_.Commit();
}

StemWriter::StemWriter(const std::string& dir) {
  namespace fs = std::filesystem;
  // The folders this run creates, deepest first, so that a failed run can take them away again.
  std::error_code ec;
  for (fs::path p = fs::absolute(dir, ec); !p.empty() && !fs::exists(p, ec); p = p.parent_path()) {
    createdDirs_.push_back(p);
    if (p == p.parent_path()) break;
  }
  fs::create_directories(dir, ec);
  if (ec || !fs::is_directory(dir)) {
    RemoveCreatedDirs();
    throw std::runtime_error("cannot write stems to '" + dir +
                             "': " + (ec ? ec.message() : std::string("not a folder")));
  }
  for (const fs::path& p : createdDirs_)
    dirHandles_.push_back(RemoveFolderOnSignal(p.string()));
  try {
    for (const char* name : kFileNames) {
      files_.push_back(std::make_unique<OutputFile>((fs::path(dir) / name).string()));
    }
  } catch (...) {
    files_.clear();
    RemoveCreatedDirs();
    throw;
  }
}

StemWriter::~StemWriter() {
  if (committed_) return;
  files_.clear();  // their temporary files first
  RemoveCreatedDirs();
}

void StemWriter::RemoveCreatedDirs() {
  std::error_code ec;
  for (const std::filesystem::path& p : createdDirs_)
    std::filesystem::remove(p, ec);  // only while empty
  ForgetFolders();
}

void StemWriter::SamplesBuilt(const Engine& e) {
  const modSamples& s = e.samples;
  WriteMono(*files_[0], s.SmpNoise);
  WriteMono(*files_[1], s.SmpKick);
  WriteMono(*files_[2], s.SmpPlateSmall);
  WriteMono(*files_[3], s.SmpPlateMid);
  WriteMono(*files_[4], s.SmpPlateBig);
  WriteMono(*files_[5], s.SmpPlateBigLow);
}

void StemWriter::NotesMixed(const Engine& e) {
  WriteBus(*files_[6], e.gen);
}

void StemWriter::ReverbAdded(const Engine& e) {
  WriteBus(*files_[7], e.gen);
}

void StemWriter::ForgetFolders() {
  for (int handle : dirHandles_)
    KeepFolder(handle);
  dirHandles_.clear();
}

void StemWriter::Commit() {
  for (auto& f : files_)
    f->Commit();
  ForgetFolders();
  committed_ = true;
}

}  // namespace quom
