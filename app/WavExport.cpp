// Audio files through libsndfile: 16-bit PCM or an encoded stream for the piece, 32-bit float for
// the stages.
#include "app/WavExport.h"

#include <sndfile.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "app/Errors.h"
#include "app/Files.h"
#include "app/Resample.h"
#include "app/Streams.h"
#include "base/Memory.h"
#include "units/modGen.h"

namespace quom {

namespace {

constexpr const char* kStdout = "-";

// A sound file in memory, for libsndfile's virtual I/O: the encoder may go back to finish its
// headers (the WAV lengths, FLAC's stream info) before the bytes leave for a pipe.
struct MemoryFile {
  std::vector<unsigned char> bytes;
  sf_count_t at = 0;

  static MemoryFile& Of(void* user) { return *static_cast<MemoryFile*>(user); }
  static sf_count_t Length(void* user) { return static_cast<sf_count_t>(Of(user).bytes.size()); }
  static sf_count_t Seek(sf_count_t offset, int whence, void* user) {
    MemoryFile& m = Of(user);
    const sf_count_t base = whence == SEEK_CUR ? m.at : whence == SEEK_END ? Length(user) : 0;
    if (base + offset < 0) return -1;
    m.at = base + offset;
    return m.at;
  }
  static sf_count_t Read(void* to, sf_count_t count, void* user) {
    MemoryFile& m = Of(user);
    const sf_count_t n = std::clamp<sf_count_t>(Length(user) - m.at, 0, count);
    if (n > 0) std::memcpy(to, m.bytes.data() + m.at, static_cast<size_t>(n));
    m.at += n;
    return n;
  }
  static sf_count_t Write(const void* from, sf_count_t count, void* user) {
    MemoryFile& m = Of(user);
    const size_t end = static_cast<size_t>(m.at + count);
    if (end > m.bytes.size()) m.bytes.resize(end);
    std::memcpy(m.bytes.data() + m.at, from, static_cast<size_t>(count));
    m.at += count;
    return count;
  }
  static sf_count_t Tell(void* user) { return Of(user).at; }
};

// Hands the bytes to standard output. A closed pipe is the reader's choice, not a fault: the
// program ends quietly, and its temporary files go too.
void WriteToStdout(std::span<const unsigned char> bytes) {
  const int error = WriteAllToStdout(bytes);
  if (error == EPIPE) throw OutputClosed();
  if (error != 0) {
    throw std::runtime_error(std::string("cannot write to standard output: ") +
                             std::strerror(error));
  }
}

// An open sound file that is closed however the writing ends: a file on disk, or one in memory.
class SoundFile {
 public:
  SoundFile(const OutputFile& out, int format, int channels, int rate = kSampleRate)
      : where_("'" + out.path() + "'"), info_(Info(format, channels, rate)), fd_(out.OpenTemp()) {
    sf_ = sf_open_fd(fd_, SFM_WRITE, &info_, SF_FALSE);
    if (!sf_) {
      CloseFd();
      Fail(sf_strerror(nullptr));
    }
    // No PEAK chunk: a float stage file holds the samples and nothing derived from them.
    sf_command(sf_, SFC_SET_ADD_PEAK_CHUNK, nullptr, SF_FALSE);
  }
  SoundFile(MemoryFile& memory, int format, int channels, int rate)
      : where_("to standard output"), info_(Info(format, channels, rate)) {
    static SF_VIRTUAL_IO io = {MemoryFile::Length, MemoryFile::Seek, MemoryFile::Read,
                               MemoryFile::Write, MemoryFile::Tell};
    sf_ = sf_open_virtual(&io, SFM_WRITE, &info_, &memory);
    if (!sf_) Fail(sf_strerror(nullptr));
  }
  ~SoundFile() {
    if (sf_) sf_close(sf_);
    CloseFd();
  }
  SoundFile(const SoundFile&) = delete;
  SoundFile& operator=(const SoundFile&) = delete;

  // In blocks: libvorbis, under libsndfile 1.2.0, crashes when one call hands it the whole piece.
  void WriteFrames(const int16_t* data, sf_count_t frames) {
    const int channels = info_.channels;
    for (sf_count_t at = 0; at < frames; at += kBlockFrames) {
      const sf_count_t n = std::min(kBlockFrames, frames - at);
      if (sf_writef_short(sf_, data + at * channels, n) != n) Fail(sf_strerror(sf_));
    }
  }
  void WriteFrames(const float* data, sf_count_t frames) {
    const int channels = info_.channels;
    for (sf_count_t at = 0; at < frames; at += kBlockFrames) {
      const sf_count_t n = std::min(kBlockFrames, frames - at);
      if (sf_writef_float(sf_, data + at * channels, n) != n) Fail(sf_strerror(sf_));
    }
  }
  void Close() {
    const int err = sf_close(sf_);
    sf_ = nullptr;
    if (err != 0) {
      CloseFd();
      Fail(sf_error_number(err));
    }
    if (fd_ >= 0 && CloseFile(fd_) != 0) {
      fd_ = -1;
      Fail(std::strerror(errno));
    }
    fd_ = -1;
  }

  // The compression level a quality asks for, before the first frame.
  void SetQuality(int quality) {
    if (quality < 0) return;  // the encoder's default
    double level = CompressionLevel(quality);
    if (!sf_command(sf_, SFC_SET_COMPRESSION_LEVEL, &level, sizeof level)) {
      Fail(("the encoder refuses --quality " + std::to_string(quality)).c_str());
    }
  }

 private:
  static SF_INFO Info(int format, int channels, int rate) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = format;
    return info;
  }
  [[noreturn]] void Fail(const char* why) {
    throw std::runtime_error("cannot write " + where_ + ": " + why);
  }
  void CloseFd() {
    if (fd_ >= 0) CloseFile(fd_);
    fd_ = -1;
  }
  static constexpr sf_count_t kBlockFrames = 4096;
  std::string where_;
  SF_INFO info_;
  int fd_ = -1;  // the file on disk, closed after libsndfile lets go of it; -1 for memory
  SNDFILE* sf_ = nullptr;
};

// The piece as the format holds it: the samples themselves, or floats for an encoder (libsndfile
// 1.2.0's MP3 encoder garbles 16-bit input), resampled first for Opus.
void WritePiece(SoundFile& f, const SoundFormat& format, int quality,
                std::span<const int16_t> pcm) {
  f.SetQuality(quality);
  const size_t frames = pcm.size() / 2;
  if (!format.lossy) {
    f.WriteFrames(pcm.data(), static_cast<sf_count_t>(frames));
  } else if (format.sampleRate == kSampleRate) {
    constexpr size_t kBlock = 4096;
    std::vector<float> block(2 * kBlock);
    for (size_t at = 0; at < frames; at += kBlock) {
      const size_t n = std::min(kBlock, frames - at);
      for (size_t i = 0; i < 2 * n; ++i)
        block[i] = static_cast<float>(pcm[2 * at + i]) / 32768.0f;  // libsndfile's float scale
      f.WriteFrames(block.data(), static_cast<sf_count_t>(n));
    }
  } else {
    ResampleStereo(pcm, kSampleRate, format.sampleRate, [&f](const float* block, size_t count) {
      f.WriteFrames(block, static_cast<sf_count_t>(count));
    });
  }
  f.Close();
}

const SoundFormat& ChooseFormat(const std::string& path, const PcmFileOptions& options) {
  const SoundFormat* named = nullptr;
  if (!options.format.empty()) {
    named = FindSoundFormat(options.format);
    if (!named) {
      throw InputError("--format '" + options.format + "': not a format quom writes (" +
                       SoundFormatNames() + ")");
    }
  }
  const SoundFormat* byName = path == kStdout ? nullptr : SoundFormatOfPath(path);
  if (named && byName && named != byName) {
    throw InputError("--wav '" + path + "' is named ." + byName->name + " but --format is " +
                     named->name);
  }
  if (named) return *named;
  if (byName) return *byName;
  if (path == kStdout) return *FindSoundFormat("wav");
  throw InputError("--wav '" + path + "': the file name must end in " + SoundFormatNames(".") +
                   ", or --format must name the format");
}

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

PcmFileWriter::PcmFileWriter(const std::string& path, const PcmFileOptions& options)
    : format_(&ChooseFormat(path, options)), quality_(options.quality) {
  if (quality_ >= 0 && !format_->lossy) {
    throw InputError(std::string("--quality is for the lossy formats (ogg, mp3, opus); ") +
                     format_->name + " keeps every sample as it is");
  }
  if (path != kStdout) {
    out_.emplace(path);
  } else if (IsTerminal(stdout)) {
    throw InputError(
        "--wav -: standard output is a terminal; send it to a file or a program instead "
        "(quom --wav - > piece.wav, quom --wav - | aplay)");
  }
}

void PcmFileWriter::Write(std::span<const int16_t> pcm) {
  if (out_) {
    SoundFile f(*out_, format_->sndfile, 2, format_->sampleRate);
    WritePiece(f, *format_, quality_, pcm);
    out_->Commit();
    return;
  }
  MemoryFile memory;
  // A WAV stream's size: no copy on the way, and its megabytes fault in as huge pages.
  ReserveHuge(memory.bytes, pcm.size_bytes() + 4096);
  SoundFile f(memory, format_->sndfile, 2, format_->sampleRate);
  WritePiece(f, *format_, quality_, pcm);
  WriteToStdout(memory.bytes);
}

StemWriter::StemWriter(const std::string& dir) {
  namespace fs = std::filesystem;
  // The folders this run creates, deepest first, so that a failed run can take them away again.
  std::error_code ec;
  const fs::path folder = PathFromUtf8(dir);
  for (fs::path p = fs::absolute(folder, ec); !p.empty() && !fs::exists(p, ec);
       p = p.parent_path()) {
    createdDirs_.push_back(p);
    if (p == p.parent_path()) break;
  }
  fs::create_directories(folder, ec);
  if (ec || !fs::is_directory(folder)) {
    RemoveCreatedDirs();
    throw std::runtime_error("cannot write stems to '" + dir +
                             "': " + (ec ? ec.message() : std::string("not a folder")));
  }
  for (const fs::path& p : createdDirs_)
    dirHandles_.push_back(RemoveFolderOnSignal(Utf8FromPath(p)));
  try {
    for (const char* name : kFileNames) {
      files_.push_back(std::make_unique<OutputFile>(Utf8FromPath(folder / name)));
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
