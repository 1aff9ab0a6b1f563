// The quom program driven from outside: files it writes read back with libsndfile, the failures
// it reports, and what it leaves behind.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sndfile.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "app/Resample.h"
#include "base/Simd.h"
#include "render/Synthesize.h"
#include "tests/TestScores.h"

namespace quom {
namespace {

namespace fs = std::filesystem;

struct RunResult {
  int status = -1;
  std::string out;
  std::string err;
};

// Where the program's standard output goes: a file, a pipe read to its end, a pipe whose reader
// has already gone, or a terminal.
enum class Stdout { kFile, kPipe, kClosedPipe, kTerminal };

std::string ReadText(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// A scratch folder per test: `work` is where the program runs and writes, `capture` holds its
// standard output and error, so that a listing of `work` shows exactly what the program left.
class Cli : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "quom-cli-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
    work_ = root_ / "work";
    fs::create_directory(work_);
    fs::create_directory(root_ / "capture");
  }
  void TearDown() override { fs::remove_all(root_); }

  RunResult Run(const std::vector<std::string>& args, Stdout to = Stdout::kFile) {
    const fs::path outPath = root_ / "capture" / "stdout";
    const fs::path errPath = root_ / "capture" / "stderr";
    std::vector<std::string> argv = {QUOM_EXE};
    argv.insert(argv.end(), args.begin(), args.end());
    int ends[2] = {-1, -1};  // the pipe, or the terminal's controller and device
    if (to == Stdout::kPipe || to == Stdout::kClosedPipe) {
      EXPECT_EQ(pipe(ends), 0);
    } else if (to == Stdout::kTerminal) {
      EXPECT_EQ(openpty(&ends[0], &ends[1], nullptr, nullptr, nullptr), 0);
    }
    const pid_t pid = fork();
    if (pid == 0) {
      std::vector<char*> cargv;
      for (std::string& a : argv)
        cargv.push_back(a.data());
      cargv.push_back(nullptr);
      const int out =
          to == Stdout::kFile ? open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644) : ends[1];
      if (ends[0] >= 0) close(ends[0]);
      const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (out < 0 || err < 0 || chdir(work_.c_str()) != 0) _exit(127);
      dup2(out, 1);
      dup2(err, 2);
      alarm(kRunLimitSeconds);  // a hang ends in SIGALRM, which fails the test
      if (fileSizeLimit_ > 0) {
        // Files may grow only so far: the writes past it fail as on a full disk.
        signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{fileSizeLimit_, fileSizeLimit_};
        setrlimit(RLIMIT_FSIZE, &limit);
      }
      execv(cargv[0], cargv.data());
      _exit(127);
    }
    RunResult r;
    if (ends[1] >= 0) close(ends[1]);
    if (to == Stdout::kClosedPipe) close(ends[0]);
    if (to == Stdout::kPipe || to == Stdout::kTerminal) {
      char buf[65536];
      ssize_t n;
      while ((n = read(ends[0], buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR))
        r.out.append(buf, static_cast<size_t>(std::max<ssize_t>(n, 0)));
      close(ends[0]);
    }
    int wstatus = 0;
    waitpid(pid, &wstatus, 0);
    r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
    if (to == Stdout::kFile) r.out = ReadText(outPath);
    r.err = ReadText(errPath);
    return r;
  }

  void WriteBytes(const std::string& name, const std::vector<uint8_t>& bytes) {
    std::ofstream(work_ / name, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
  }

  // Every file under `work`, as paths relative to it.
  std::vector<std::string> Listing() {
    std::vector<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(work_)) {
      names.push_back(fs::relative(entry.path(), work_).string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  static constexpr unsigned kRunLimitSeconds = 300;  // a render under the sanitizers is slow
  rlim_t fileSizeLimit_ = 0;                         // bytes; 0 for none
  fs::path root_;
  fs::path work_;
};

// What the engine holds at each stage of an in-process render.
struct Stages : StageObserver {
  std::vector<std::vector<float>> samples;
  std::vector<MixFrame> dry;
  std::vector<MixFrame> wet;
  void SamplesBuilt(const Engine& e) override {
    const modSamples& s = e.samples;
    samples = {s.SmpNoise,    s.SmpKick,     s.SmpPlateSmall,
               s.SmpPlateMid, s.SmpPlateBig, s.SmpPlateBigLow};
  }
  void NotesMixed(const Engine& e) override { dry = e.gen.MixBuf; }
  void ReverbAdded(const Engine& e) override { wet = e.gen.MixBuf; }
};

struct Sound {
  SF_INFO info{};
  std::vector<int16_t> pcm;
  std::vector<float> floats;
};

Sound ReadSound(const fs::path& p, bool asFloat) {
  Sound s;
  SNDFILE* f = sf_open(p.c_str(), SFM_READ, &s.info);
  EXPECT_NE(f, nullptr) << p << ": " << sf_strerror(nullptr);
  if (!f) return s;
  const size_t n = static_cast<size_t>(s.info.frames) * static_cast<size_t>(s.info.channels);
  if (asFloat) {
    s.floats.resize(n);
    EXPECT_EQ(sf_readf_float(f, s.floats.data(), s.info.frames), s.info.frames);
  } else {
    s.pcm.resize(n);
    EXPECT_EQ(sf_readf_short(f, s.pcm.data(), s.info.frames), s.info.frames);
  }
  sf_close(f);
  return s;
}

bool SameFloats(const float* a, const float* b, size_t n) {
  return std::memcmp(a, b, n * sizeof(float)) == 0;
}

void ExpectBus(const Sound& s, const std::vector<MixFrame>& bus, const char* name) {
  ASSERT_EQ(s.info.channels, 3) << name;
  ASSERT_EQ(static_cast<size_t>(s.info.frames), bus.size()) << name;
  std::vector<float> flat;
  for (const MixFrame& m : bus)
    flat.insert(flat.end(), {m.L, m.R, m.Send});
  EXPECT_TRUE(SameFloats(s.floats.data(), flat.data(), flat.size())) << name;
}

TEST_F(Cli, WritesExactlyWhatTheEngineRenders) {
  const std::vector<NoteRec> notes = test::AllInstrumentsScore();
  WriteBytes("score.bin", EncodeNoteList(notes));
  Stages stages;
  Engine e;
  const std::vector<int16_t> pcm = Synthesize(e, notes, &stages);

  const RunResult r = Run({"--score", "score.bin", "--wav", "out.wav", "--stems", "stems"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");  // no progress line when standard error is not a terminal

  const Sound wav = ReadSound(work_ / "out.wav", false);
  EXPECT_EQ(wav.info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
  EXPECT_EQ(wav.info.channels, 2);
  EXPECT_EQ(wav.info.samplerate, 44100);
  EXPECT_TRUE(wav.pcm == pcm);

  const char* kSampleStems[] = {"SmpNoise.wav",    "SmpKick.wav",     "SmpPlateSmall.wav",
                                "SmpPlateMid.wav", "SmpPlateBig.wav", "SmpPlateBigLow.wav"};
  for (size_t i = 0; i < std::size(kSampleStems); ++i) {
    const Sound s = ReadSound(work_ / "stems" / kSampleStems[i], true);
    EXPECT_EQ(s.info.format, SF_FORMAT_WAV | SF_FORMAT_FLOAT) << kSampleStems[i];
    EXPECT_EQ(s.info.channels, 1);
    ASSERT_EQ(s.floats.size(), stages.samples[i].size()) << kSampleStems[i];
    EXPECT_TRUE(SameFloats(s.floats.data(), stages.samples[i].data(), s.floats.size()))
        << kSampleStems[i];
  }
  ExpectBus(ReadSound(work_ / "stems" / "mix-dry.wav", true), stages.dry, "mix-dry.wav");
  ExpectBus(ReadSound(work_ / "stems" / "mix-wet.wav", true), stages.wet, "mix-wet.wav");

  // FLAC is lossless. Bytes that fill no record are ignored, with a warning.
  std::vector<uint8_t> trailing = EncodeNoteList(notes);
  trailing.insert(trailing.end(), {1, 2, 3});
  WriteBytes("score.bin", trailing);
  const RunResult flac = Run({"--score", "score.bin", "--wav", "out.FLAC"});
  ASSERT_EQ(flac.status, 0) << flac.err;
  EXPECT_NE(flac.err.find("warning"), std::string::npos) << flac.err;
  EXPECT_NE(flac.err.find("3 bytes"), std::string::npos) << flac.err;
  const Sound f = ReadSound(work_ / "out.FLAC", false);
  EXPECT_EQ(f.info.format, SF_FORMAT_FLAC | SF_FORMAT_PCM_16);
  EXPECT_TRUE(f.pcm == pcm);

  std::vector<std::string> expected = {"out.FLAC", "out.wav", "score.bin", "stems"};
  for (const char* name : kSampleStems)
    expected.push_back(std::string("stems/") + name);
  expected.push_back("stems/mix-dry.wav");
  expected.push_back("stems/mix-wet.wav");
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(Listing(), expected);
}

uint32_t Le32(const std::string& b, size_t at) {
  return static_cast<uint8_t>(b[at]) | static_cast<uint8_t>(b[at + 1]) << 8 |
         static_cast<uint8_t>(b[at + 2]) << 16 |
         static_cast<uint32_t>(static_cast<uint8_t>(b[at + 3])) << 24;
}

uint16_t Le16(const std::string& b, size_t at) {
  return static_cast<uint16_t>(static_cast<uint8_t>(b[at]) | static_cast<uint8_t>(b[at + 1]) << 8);
}

// A WAV stream read as a player reading a pipe must read it: front to back, trusting the header.
void ExpectWavStream(const std::string& bytes, const std::vector<int16_t>& pcm) {
  ASSERT_GE(bytes.size(), 44u);
  EXPECT_EQ(bytes.substr(0, 4), "RIFF");
  EXPECT_EQ(Le32(bytes, 4), bytes.size() - 8) << "the RIFF size is not the stream's";
  EXPECT_EQ(bytes.substr(8, 4), "WAVE");
  size_t at = 12;
  bool sawFormat = false;
  while (at + 8 <= bytes.size() && bytes.substr(at, 4) != "data") {
    const uint32_t size = Le32(bytes, at + 4);
    if (bytes.substr(at, 4) == "fmt ") {
      sawFormat = true;
      EXPECT_EQ(Le16(bytes, at + 8), 1) << "not PCM";
      EXPECT_EQ(Le16(bytes, at + 10), 2) << "channels";
      EXPECT_EQ(Le32(bytes, at + 12), 44100u) << "rate";
      EXPECT_EQ(Le16(bytes, at + 22), 16) << "bits";
    }
    at += 8 + size + (size & 1);
  }
  EXPECT_TRUE(sawFormat);
  ASSERT_LE(at + 8, bytes.size()) << "no data chunk";
  EXPECT_EQ(Le32(bytes, at + 4), pcm.size() * 2) << "the data size is not the piece's";
  ASSERT_EQ(bytes.size() - at - 8, pcm.size() * 2);
  EXPECT_EQ(std::memcmp(bytes.data() + at + 8, pcm.data(), pcm.size() * 2), 0);
}

// Standard output as a pipe: the WAV stream knows its length before its first byte, FLAC's stream
// info is filled in; a reader that has gone ends the program quietly and takes the stage files
// with it; a terminal is refused before anything is rendered.
TEST_F(Cli, WritesToStandardOutput) {
  const std::vector<NoteRec> notes = test::AllInstrumentsScore();
  WriteBytes("score.bin", EncodeNoteList(notes));
  Engine e;
  const std::vector<int16_t> pcm = Synthesize(e, notes);
  const std::vector<std::string> before = Listing();

  const RunResult wav = Run({"--score", "score.bin", "--wav", "-"}, Stdout::kPipe);
  ASSERT_EQ(wav.status, 0) << wav.err;
  EXPECT_EQ(wav.err, "");
  ExpectWavStream(wav.out, pcm);

  const RunResult flac =
      Run({"--score", "score.bin", "--wav", "-", "--format", "FLAC", "--stems", "stems"},
          Stdout::kPipe);
  ASSERT_EQ(flac.status, 0) << flac.err;
  ASSERT_GT(flac.out.size(), 42u);
  ASSERT_EQ(flac.out.substr(0, 4), "fLaC");
  // Stream info: 36 bits of total samples after the rate, channels and bits, then the MD5.
  const auto byte = [&](size_t i) {
    return static_cast<uint64_t>(static_cast<uint8_t>(flac.out[i]));
  };
  const uint64_t total =
      (byte(21) & 0x0f) << 32 | byte(22) << 24 | byte(23) << 16 | byte(24) << 8 | byte(25);
  EXPECT_EQ(total, pcm.size() / 2);
  EXPECT_NE(flac.out.substr(26, 16), std::string(16, '\0')) << "no MD5 of the samples";
  std::ofstream(work_ / "piped.flac", std::ios::binary) << flac.out;
  EXPECT_TRUE(ReadSound(work_ / "piped.flac", false).pcm == pcm);
  EXPECT_TRUE(fs::exists(work_ / "stems" / "mix-wet.wav"));
  fs::remove(work_ / "piped.flac");
  fs::remove_all(work_ / "stems");

  const RunResult closed =
      Run({"--score", "score.bin", "--wav", "-", "--stems", "stems"}, Stdout::kClosedPipe);
  EXPECT_EQ(closed.status, 141);
  EXPECT_EQ(closed.err, "");
  EXPECT_EQ(Listing(), before);

  const RunResult terminal = Run({"--score", "score.bin", "--wav", "-"}, Stdout::kTerminal);
  EXPECT_EQ(terminal.status, 2);
  EXPECT_EQ(terminal.out, "");
  EXPECT_EQ(std::count(terminal.err.begin(), terminal.err.end(), '\n'), 1) << terminal.err;
  EXPECT_NE(terminal.err.find("terminal"), std::string::npos) << terminal.err;
  EXPECT_NE(terminal.err.find("quom --wav - > "), std::string::npos) << terminal.err;
}

double Rms(const float* x, size_t n) {
  double sum = 0;
  for (size_t i = 0; i < n; ++i)
    sum += static_cast<double>(x[i]) * x[i];
  return std::sqrt(sum / static_cast<double>(n));
}

// How alike two signals are, 1 for the same shape at any level.
double Correlation(const float* a, const float* b, size_t n) {
  double ab = 0, aa = 0, bb = 0;
  for (size_t i = 0; i < n; ++i) {
    ab += static_cast<double>(a[i]) * b[i];
    aa += static_cast<double>(a[i]) * a[i];
    bb += static_cast<double>(b[i]) * b[i];
  }
  return ab / std::sqrt(aa * bb);
}

// Vorbis, MP3 and Opus decode back to the piece: as long, as loud, and the same waveform within
// what the encoders change. Opus, written at 48 kHz, is brought back to 44.1 kHz to be compared.
TEST_F(Cli, CompressedFormatsDecodeBack) {
  const std::vector<NoteRec> notes = test::AllInstrumentsScore();
  WriteBytes("score.bin", EncodeNoteList(notes));
  Engine e;
  const std::vector<int16_t> pcm = Synthesize(e, notes);
  std::vector<float> piece(pcm.size());
  std::transform(pcm.begin(), pcm.end(), piece.begin(),
                 [](int16_t v) { return static_cast<float>(v) / 32768.0f; });

  struct Case {
    std::vector<std::string> args;
    std::string file;  // what is decoded
    int format;
    int rate;
  };
  const Case cases[] = {
      {{"--wav", "out.ogg"}, "out.ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS, 44100},
      {{"--wav", "-", "--format", "ogg", "--quality", "9"},
       "best.ogg",
       SF_FORMAT_OGG | SF_FORMAT_VORBIS,
       44100},
      {{"--wav", "out.mp3", "--quality", "0"},
       "out.mp3",
       SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III,
       44100},
      {{"--wav", "out", "--format", "opus"}, "out", SF_FORMAT_OGG | SF_FORMAT_OPUS, 48000},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"--score", "score.bin"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const bool piped = c.args[1] == "-";
    const RunResult r = Run(args, piped ? Stdout::kPipe : Stdout::kFile);
    ASSERT_EQ(r.status, 0) << c.file << ": " << r.err;
    if (piped) std::ofstream(work_ / c.file, std::ios::binary) << r.out;

    Sound s = ReadSound(work_ / c.file, true);
    EXPECT_EQ(s.info.format, c.format) << c.file;
    EXPECT_EQ(s.info.channels, 2) << c.file;
    EXPECT_EQ(s.info.samplerate, c.rate) << c.file;
    if (c.rate != 44100) {
      std::vector<int16_t> decoded(s.floats.size());
      std::transform(s.floats.begin(), s.floats.end(), decoded.begin(), [](float v) {
        return static_cast<int16_t>(std::lrint(std::clamp(v * 32768.0f, -32768.0f, 32767.0f)));
      });
      s.floats.clear();
      ResampleStereo(decoded, c.rate, 44100, [&s](const float* block, size_t frames) {
        s.floats.insert(s.floats.end(), block, block + 2 * frames);
      });
    }
    const double frames = static_cast<double>(s.floats.size() / 2);
    EXPECT_NEAR(frames, static_cast<double>(pcm.size() / 2), 2.0) << c.file;
    const size_t n = std::min(s.floats.size(), piece.size());
    const double level = 20 * std::log10(Rms(s.floats.data(), n) / Rms(piece.data(), n));
    // The smallest MP3 (--quality 0) is the furthest off: -0.6 dB, 0.93. A garbled encoding,
    // such as libsndfile's MP3 encoder makes of 16-bit input, correlates at about 0.35.
    EXPECT_NEAR(level, 0.0, 1.0) << c.file << ": dB against the piece";
    EXPECT_GT(Correlation(s.floats.data(), piece.data(), n), 0.9) << c.file;
  }
  // The quality asked for is the one used.
  EXPECT_GT(fs::file_size(work_ / "best.ogg"), 2 * fs::file_size(work_ / "out.ogg"));
}

TEST_F(Cli, FailuresSayWhyAndLeaveNoFile) {
  WriteBytes("good.bin", EncodeNoteList(test::AllInstrumentsScore()));
  WriteBytes("short.bin", {0x00, 0x00, 0x04});
  WriteBytes("bad.bin",
             EncodeNoteList(std::vector<NoteRec>{{0, 4, 60, 100, 25}, {8, 0, 60, 100, 25}}));
  fs::create_directory(work_ / "taken.wav");
  std::ofstream(work_ / "bad.txt") << "# start length note velocity instrument\n"
                                   << "0 4 60 100 25\n\n"
                                   << "12 4 sixty 100 25\n";
  // Too short to hold a record.
  WriteBytes("empty.bin", {});
  WriteBytes("one.bin", {0x00});
  WriteBytes("six.bin", {0x00, 0x00, 0x04, 0x00, 60, 100});
  std::ofstream(work_ / "empty.txt") << "# nothing but a comment\n\n";
  // Records that break the invariants, and lines that are not records.
  WriteBytes("negative.bin", EncodeNoteList(std::vector<NoteRec>{{-1, 4, 60, 100, 25}}));
  WriteBytes("late.bin",
             EncodeNoteList(std::vector<NoteRec>{{0, 4, 60, 100, 25}, {32000, 768, 60, 100, 25}}));
  std::ofstream(work_ / "negative.txt") << "0 4 60 100 25\n# a comment\n-3 4 60 100 25\n";
  std::ofstream(work_ / "few.txt") << "0 4 60 100 25\n4 4 60 100\n";
  std::ofstream(work_ / "many.txt") << "0 4 60 100 25 1\n";
  std::ofstream(work_ / "huge.txt") << "0 4 60 100 25\n0 32767 60 100 26\n";
  // Outputs that cannot be written: a pipe, and a folder without write permission (the system's
  // own for root, who may write anywhere else).
  ASSERT_EQ(mkfifo((work_ / "pipe.wav").c_str(), 0644), 0);
  std::string locked = "/sys/quom-cli-test.wav";
  if (geteuid() != 0) {
    fs::create_directory(work_ / "locked");
    fs::permissions(work_ / "locked", fs::perms::owner_read | fs::perms::owner_exec);
    locked = "locked/out.wav";
  }
  // A vector path this processor cannot run (NEON on x86-64, AVX2 on ARM), and those it can.
  const std::vector<SimdPath> supported = SupportedSimdPaths();
  std::string foreignPath;
  std::string supportedNames;
  for (SimdPath path : {SimdPath::kNeon, SimdPath::kAvx2}) {
    if (std::find(supported.begin(), supported.end(), path) == supported.end())
      foreignPath = SimdPathName(path);
  }
  for (SimdPath path : supported)
    supportedNames += (supportedNames.empty() ? "" : ", ") + std::string(SimdPathName(path));
  const std::vector<std::string> before = Listing();

  struct Case {
    std::vector<std::string> args;
    int status;
    std::vector<std::string> said;  // each must appear in the message
  };
  const Case cases[] = {
      {{"--score", "missing.bin", "--wav", "out.wav"}, 2, {"missing.bin", "No such file"}},
      {{"--score", "short.bin", "--wav", "out.wav"}, 2, {"short.bin", "no note record"}},
      {{"--score", "empty.bin", "--wav", "out.wav"}, 2, {"empty.bin", "no note record"}},
      {{"--score", "one.bin", "--wav", "out.wav"}, 2, {"one.bin", "(1 bytes"}},
      {{"--score", "six.bin", "--wav", "out.wav"}, 2, {"six.bin", "(6 bytes"}},
      {{"--score", "empty.txt", "--wav", "out.wav"}, 2, {"empty.txt", "no note record"}},
      {{"--score", "negative.bin", "--wav", "out.wav"}, 2, {"record 0", "Start -1 is negative"}},
      {{"--score", "late.bin", "--wav", "out.wav"}, 2, {"record 1", "32768", "32767"}},
      {{"--score", "negative.txt", "--wav", "out.wav"}, 2, {"line 3 (record 1)", "Start -3"}},
      {{"--score", "few.txt", "--wav", "out.wav"}, 2, {"few.txt", "line 2", "found 4"}},
      {{"--score", "many.txt", "--wav", "out.wav"}, 2, {"many.txt", "line 1", "found 6"}},
      {{"--score", "huge.txt", "--wav", "out.wav"},
       2,
       {"huge.txt", "too large", "record 1", "52,550,350 samples", "limit is 2,650,000"}},
      {{"--score", "/dev/zero", "--wav", "out.wav"}, 2, {"/dev/zero", "larger than 64 MiB"}},
      {{"--score", "good.bin", "--wav", "pipe.wav"}, 1, {"pipe.wav", "not a regular file"}},
      {{"--score", "good.bin", "--wav", locked}, 1, {locked}},
      {{"--score", "bad.bin", "--wav", "out.wav"}, 2, {"bad.bin", "record 1", "Length"}},
      {{"--score", "bad.txt", "--wav", "out.wav"}, 2, {"bad.txt", "line 4"}},
      {{"--score", ".", "--wav", "out.wav"}, 2, {"'.'"}},
      {{"--score", "good.bin", "--wav", "out.aiff"},
       2,
       {"out.aiff", ".wav, .flac, .ogg, .mp3 or .opus"}},
      {{"--score", "good.bin", "--wav", "out"}, 2, {"'out'", "--format"}},
      {{"--score", "good.bin", "--wav", "out.mp3", "--format", "ogg"}, 2, {"out.mp3", "ogg"}},
      {{"--score", "good.bin", "--wav", "-", "--format", "aiff"}, 2, {"'aiff'", "wav, flac"}},
      {{"--score", "good.bin", "--wav", "out.flac", "--quality", "5"}, 2, {"--quality", "flac"}},
      {{"--score", "good.bin", "--wav", "out.ogg", "--quality", "11"}, 2, {"--quality"}},
      {{"--quality", "5"}, 2, {"--quality", "--wav"}},
      {{"--format", "ogg"}, 2, {"--format", "--wav"}},
      {{"--loop", "0"}, 2, {"--loop", "forever"}},
      {{"--loop", "always"}, 2, {"--loop"}},
      {{"--loop", "2", "--wav", "out.wav"}, 2, {"--loop", "--wav"}},
      {{"--score", "good.bin", "--wav", "out.wav", "--simd", "sse9"},
       2,
       {"--simd", "'sse9' is not a vector path", supportedNames}},
      {{"--score", "good.bin", "--wav", "out.wav", "--simd", foreignPath},
       2,
       {"--simd", foreignPath, "cannot run", supportedNames}},
      {{"--bench", "1", "--simd", "AVX2"}, 2, {"--simd", supportedNames}},
      {{"--simd", ""}, 2, {"--simd", supportedNames}},
      {{"--score", "good.bin", "--wav", "out.wav", "--threads", "0"}, 2, {"--threads", "1 to 64"}},
      {{"--score", "good.bin", "--wav", "out.wav", "--threads", "65"}, 2, {"--threads"}},
      {{"--score", "good.bin", "--wav", "no/such/dir/out.wav"}, 1, {"no/such/dir/out.wav"}},
      {{"--score", "good.bin", "--wav", "taken.wav"}, 1, {"taken.wav", "folder"}},
      {{"--score", "good.bin", "--wav", "out.wav", "--stems", "good.bin"}, 1, {"good.bin"}},
      {{"--wav"}, 2, {"--wav"}},
      {{"--loud"}, 2, {"--loud"}},
      {{"extra"}, 2, {"extra"}},
  };
  for (const Case& c : cases) {
    std::string line;
    for (const std::string& a : c.args)
      line += " " + a;
    const RunResult r = Run(c.args);
    EXPECT_EQ(r.status, c.status) << "quom" << line << "\n" << r.err;
    EXPECT_EQ(r.err.rfind("quom: ", 0), 0u) << "quom" << line << "\n" << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << "quom" << line << "\n" << r.err;
    for (const std::string& s : c.said) {
      EXPECT_NE(r.err.find(s), std::string::npos) << "quom" << line << ": no '" << s << "' in\n"
                                                  << r.err;
    }
    EXPECT_EQ(Listing(), before) << "quom" << line << " left files behind";
  }
}

// A render that loses work (a layer left unmixed through the test hook) is an internal error:
// one line, status 1, and no file, whatever was asked for.
TEST_F(Cli, ARenderThatLosesWorkFailsAndLeavesNoFile) {
  WriteBytes("good.bin", EncodeNoteList(test::AllInstrumentsScore()));
  const std::vector<std::string> before = Listing();
  setenv("QUOM_TEST_LEAVE_OUT_LAYER", "3", 1);
  const std::vector<std::string> runs[] = {
      {"--score", "good.bin", "--wav", "out.wav"},
      {"--score", "good.bin", "--wav", "out.flac", "--stems", "stages", "--threads", "1"},
      {"--score", "good.bin", "--wav", "-"},
  };
  for (const std::vector<std::string>& args : runs) {
    const RunResult r = Run(args, args.back() == "-" ? Stdout::kPipe : Stdout::kFile);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(r.err.rfind("quom: internal error: the render lost work: ", 0), 0u) << r.err;
    EXPECT_NE(r.err.find(" layers mixed\n"), std::string::npos) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(Listing(), before);
  }
  unsetenv("QUOM_TEST_LEAVE_OUT_LAYER");
}

// Velocities, notes and codes at the ends of their byte ranges are valid records: they render
// (the unknown codes as nothing) and leave the notes around them as they were. A size that is not
// a multiple of 7 renders its whole records, with one warning.
TEST_F(Cli, RecordsAtTheEndsOfTheirRangesRender) {
  std::vector<NoteRec> notes;
  for (const uint8_t code : {24, 25, 26, 27, 37, 127, 0, 23, 38, 126, 128, 255}) {
    for (const uint8_t note : {0, 255}) {
      for (const uint8_t velocity : {0, 255})
        notes.push_back({4, 4, note, velocity, code});
    }
  }
  notes.push_back({20, 8, 60, 100, 25});  // the last note: 0.73 .. 1.02 s
  std::vector<uint8_t> bytes = EncodeNoteList(notes);
  bytes.insert(bytes.end(), {1, 2, 3});
  WriteBytes("edges.bin", bytes);

  const RunResult r = Run({"--score", "edges.bin", "--wav", "out.wav"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  EXPECT_NE(r.err.find("3 bytes that fill no record"), std::string::npos) << r.err;
  const Sound wav = ReadSound(work_ / "out.wav", false);
  ASSERT_GT(wav.pcm.size(), 2u * 46000u);
  int last = 0;
  for (size_t i = 2 * 33000; i < 2 * 45000; ++i)
    last = std::max(last, std::abs(static_cast<int>(wav.pcm[i])));
  EXPECT_GT(last, 1000) << "the note after the extreme ones is silent";
}

// A disk that fills up during the write: the failure is named, and neither the file nor its
// temporary remains. Simulated by a limit on the file size, and with a tiny memory file system
// where one may be mounted.
TEST_F(Cli, AFullDiskFailsTheWriteAndLeavesNothing) {
  WriteBytes("notes.bin", EncodeNoteList(std::vector<NoteRec>{{0, 4, 60, 100, 25}}));
  const std::vector<std::string> before = Listing();
  fileSizeLimit_ = 64 * 1024;
  // The first stage file (128 kB) already fails; the folder made for it goes too.
  const RunResult limited =
      Run({"--score", "notes.bin", "--wav", "out.wav", "--stems", "new/stems"});
  fileSizeLimit_ = 0;
  EXPECT_EQ(limited.status, 1) << limited.err;
  EXPECT_EQ(limited.err.rfind("quom: cannot write 'new/stems/SmpNoise.wav'", 0), 0u) << limited.err;
  EXPECT_EQ(std::count(limited.err.begin(), limited.err.end(), '\n'), 1) << limited.err;
  EXPECT_EQ(Listing(), before);

  const fs::path small = root_ / "small";
  fs::create_directory(small);
  if (mount("tmpfs", small.c_str(), "tmpfs", 0, "size=64k") != 0) {
    GTEST_SKIP() << "cannot mount a file system here (" << std::strerror(errno)
                 << "); the size limit stood in for a full disk";
  }
  const RunResult full = Run({"--score", "notes.bin", "--wav", (small / "out.wav").string()});
  EXPECT_EQ(full.status, 1) << full.err;
  EXPECT_NE(full.err.find(small / "out.wav"), std::string::npos) << full.err;
  EXPECT_EQ(std::count(full.err.begin(), full.err.end(), '\n'), 1) << full.err;
  EXPECT_TRUE(fs::is_empty(small));
  umount(small.c_str());
}

TEST_F(Cli, PrintsScoresAsTextAndReadsThemBack) {
  const RunResult embedded = Run({"--print-score"});
  ASSERT_EQ(embedded.status, 0) << embedded.err;
  EXPECT_EQ(std::count(embedded.out.begin(), embedded.out.end(), '\n'), 1 + 2398);

  // Text in, text out, and the same list as its binary form.
  std::ofstream(work_ / "piece.txt") << embedded.out;
  const RunResult again = Run({"--score", "piece.txt", "--print-score"});
  ASSERT_EQ(again.status, 0) << again.err;
  EXPECT_EQ(again.out, embedded.out);

  const std::vector<NoteRec> notes = test::AllInstrumentsScore();
  WriteBytes("notes.bin", EncodeNoteList(notes));
  const RunResult fromBinary = Run({"--score", "notes.bin", "--print-score"});
  ASSERT_EQ(fromBinary.status, 0) << fromBinary.err;
  std::ofstream(work_ / "notes.txt") << fromBinary.out;
  const RunResult fromText = Run({"--score", "notes.txt", "--print-score"});
  EXPECT_EQ(fromText.out, fromBinary.out);
}

// MIDI through the program: the piece goes out and comes back as the same list and the same
// sound; a file of another writer plays with one warning line; bad files and options are refused
// naming the file and the byte, leaving nothing behind.
TEST_F(Cli, MidiFilesInAndOut) {
  const RunResult exported = Run({"--export-midi", "piece.mid"});
  ASSERT_EQ(exported.status, 0) << exported.err;
  EXPECT_EQ(exported.err, "");
  EXPECT_EQ(Listing(), std::vector<std::string>{"piece.mid"});
  const RunResult text = Run({"--print-score"});
  const RunResult back =
      Run({"--score", "piece.mid", "--print-score", "--export-midi", "again.mid"});
  ASSERT_EQ(back.status, 0) << back.err;
  EXPECT_EQ(back.out, text.out);
  EXPECT_EQ(ReadText(work_ / "again.mid"), ReadText(work_ / "piece.mid"));

  // One render each way: the same PCM, byte for byte.
  ASSERT_EQ(Run({"--quiet", "--wav", "direct.wav"}).status, 0);
  const RunResult viaMidi = Run({"--quiet", "--score", "piece.mid", "--wav", "midi.wav"});
  ASSERT_EQ(viaMidi.status, 0) << viaMidi.err;
  const Sound direct = ReadSound(work_ / "direct.wav", false);
  ASSERT_GT(direct.pcm.size(), 10'000'000u);
  EXPECT_TRUE(ReadSound(work_ / "midi.wav", false).pcm == direct.pcm);

  // A file of another writer: the kit with keys that have no sound here.
  fs::copy_file(fs::path(QUOM_SOURCE_DIR) / "tests/data/midi/drums.mid", work_ / "drums.MID");
  const RunResult drums = Run({"--score", "drums.MID", "--map", "5=32", "--print-score"});
  ASSERT_EQ(drums.status, 0) << drums.err;
  EXPECT_EQ(drums.err, "quom: warning: score 'drums.MID': 3 notes with no sound here dropped\n");
  EXPECT_NE(drums.out.find("\n0 18 40 100 32\n"), std::string::npos) << drums.out;  // channel 5

  const std::vector<uint8_t> header = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0, 96};
  std::vector<uint8_t> cut = header;
  cut.insert(cut.end(), {'M', 'T', 'r', 'k', 0, 0, 0, 9, 0x00, 0x90, 60, 100});
  WriteBytes("cut.mid", cut);
  WriteBytes("text.midi", {'0', ' ', '4', ' ', '6', '0', '\n'});
  std::vector<uint8_t> silent = header;  // one tom on channel 10
  silent.insert(silent.end(), {'M', 'T', 'r', 'k', 0, 0, 0, 4, 0x00, 0x99, 45, 100});
  WriteBytes("silent.mid", silent);
  std::ofstream(work_ / "notes.txt") << "0 4 60 100 25\n";
  fs::create_directory(work_ / "taken.mid");
  const std::vector<std::string> before = Listing();
  struct Case {
    std::vector<std::string> args;
    int status;
    std::vector<std::string> said;
  };
  const Case cases[] = {
      {{"--score", "cut.mid", "--wav", "out.wav"}, 2, {"'cut.mid', byte 14", "claims 9 bytes"}},
      {{"--score", "text.midi", "--export-midi", "out.mid"},
       2,
       {"'text.midi', byte 0", "not a Standard MIDI File"}},
      {{"--score", "silent.mid", "--wav", "out.wav"}, 2, {"silent.mid", "no note record"}},
      {{"--score", "notes.txt", "--map", "1=24"}, 2, {"--map applies to a MIDI score"}},
      {{"--map", "1=24"}, 2, {"--map applies to a MIDI score"}},
      {{"--score", "piece.mid", "--map", "1=300"}, 2, {"--map '1=300'", "code '300'"}},
      {{"--export-midi", "taken.mid"}, 1, {"taken.mid", "folder"}},
      {{"--export-midi", "no/such/dir/out.mid"}, 1, {"no/such/dir/out.mid"}},
  };
  for (const Case& c : cases) {
    std::string line;
    for (const std::string& a : c.args)
      line += " " + a;
    const RunResult r = Run(c.args);
    EXPECT_EQ(r.status, c.status) << "quom" << line << "\n" << r.err;
    EXPECT_EQ(r.err.rfind("quom: ", 0), 0u) << "quom" << line << "\n" << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << "quom" << line << "\n" << r.err;
    for (const std::string& s : c.said) {
      EXPECT_NE(r.err.find(s), std::string::npos) << "quom" << line << ": no '" << s << "' in\n"
                                                  << r.err;
    }
    EXPECT_EQ(Listing(), before) << "quom" << line << " left files behind";
  }
}

// A path other than the widest writes the same file, and --bench names the path it ran: the
// option's, not the environment's. (The engine's tests compare every path in detail; the scalar
// one, the slowest, only where it is all there is.)
TEST_F(Cli, AChosenVectorPathWritesTheSameSamples) {
  const std::vector<NoteRec> notes = test::AllInstrumentsScore();
  WriteBytes("score.bin", EncodeNoteList(notes));
  Engine e;
  const std::vector<int16_t> pcm = Synthesize(e, notes);
  const std::vector<SimdPath> supported = SupportedSimdPaths();
  const std::string narrowest = SimdPathName(supported[supported.size() > 1 ? 1 : 0]);
  const RunResult r = Run({"--score", "score.bin", "--wav", "out.wav", "--simd", narrowest});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(ReadSound(work_ / "out.wav", false).pcm == pcm);
  const RunResult threads = Run({"--score", "score.bin", "--wav", "three.wav", "--threads", "3"});
  ASSERT_EQ(threads.status, 0) << threads.err;
  EXPECT_TRUE(ReadSound(work_ / "three.wav", false).pcm == pcm);

  const char* inherited = std::getenv("QUOM_SIMD");
  const std::string kept = inherited ? inherited : "";
  setenv("QUOM_SIMD", SimdPathName(supported.back()), 1);
  const RunResult bench = Run({"--score", "score.bin", "--bench", "1", "--simd", narrowest});
  if (inherited) {
    setenv("QUOM_SIMD", kept.c_str(), 1);
  } else {
    unsetenv("QUOM_SIMD");
  }
  ASSERT_EQ(bench.status, 0) << bench.err;
  EXPECT_NE(bench.out.find(", " + narrowest + " kernels"), std::string::npos) << bench.out;
  EXPECT_NE(bench.out.find("renders identical"), std::string::npos) << bench.out;
}

TEST_F(Cli, HelpAndVersion) {
  const RunResult help = Run({"--help"});
  EXPECT_EQ(help.status, 0);
  for (const char* s :
       {"--wav", "--stems", "--score", "--map", "--export-midi", "--format", "--quality", "--loop",
        "--simd", "--threads", "--wav -", "quom.ogg", "arrows", "Examples", "Exit status", "141"}) {
    EXPECT_NE(help.out.find(s), std::string::npos) << s;
  }
  const RunResult version = Run({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, std::string("quom ") + QUOM_VERSION + "\n");
}

// Every option's description starts in one column, two spaces or more after its name and value,
// or on the next line: one space would join them into one phrase (here and in the manual page,
// which is made from this help).
TEST_F(Cli, HelpKeepsEveryDescriptionApartFromItsOption) {
  const RunResult help = Run({"--help"});
  ASSERT_EQ(help.status, 0);
  const std::string first = "  -h,--help";
  const size_t at = help.out.find(first);
  ASSERT_NE(at, std::string::npos) << help.out;
  const size_t column = help.out.find("Print", at) - at;
  std::vector<std::string> lines;
  std::istringstream in(help.out);
  for (std::string line; std::getline(in, line);)
    lines.push_back(line);
  size_t options = 0;
  for (size_t i = 0; i + 1 < lines.size(); ++i) {
    const std::string& line = lines[i];
    if (line.rfind("  -", 0) != 0) continue;
    ++options;
    const std::string& next = lines[i + 1];
    const bool below = next.size() > column && next.find_first_not_of(' ') == column;
    if (below) continue;  // the name and value alone on their line
    ASSERT_GT(line.size(), column) << line;
    EXPECT_EQ(line.substr(column - 2, 2), "  ") << line;
    EXPECT_NE(line[column], ' ') << line;
  }
  EXPECT_GE(options, 15u);
}

}  // namespace
}  // namespace quom
