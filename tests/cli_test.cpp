// The quom program driven from outside: files it writes read back with libsndfile, the failures
// it reports, and what it leaves behind.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "song/Synthesize.h"
#include "tests/TestScores.h"

namespace quom {
namespace {

namespace fs = std::filesystem;

struct RunResult {
  int status = -1;
  std::string out;
  std::string err;
};

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

  RunResult Run(const std::vector<std::string>& args) {
    const fs::path outPath = root_ / "capture" / "stdout";
    const fs::path errPath = root_ / "capture" / "stderr";
    std::vector<std::string> argv = {QUOM_EXE};
    argv.insert(argv.end(), args.begin(), args.end());
    const pid_t pid = fork();
    if (pid == 0) {
      std::vector<char*> cargv;
      for (std::string& a : argv)
        cargv.push_back(a.data());
      cargv.push_back(nullptr);
      const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (out < 0 || err < 0 || chdir(work_.c_str()) != 0) _exit(127);
      dup2(out, 1);
      dup2(err, 2);
      execv(cargv[0], cargv.data());
      _exit(127);
    }
    RunResult r;
    int wstatus = 0;
    waitpid(pid, &wstatus, 0);
    r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
    r.out = ReadText(outPath);
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

TEST_F(Cli, FailuresSayWhyAndLeaveNoFile) {
  WriteBytes("good.bin", EncodeNoteList(test::AllInstrumentsScore()));
  WriteBytes("short.bin", {0x00, 0x00, 0x04});
  WriteBytes("bad.bin",
             EncodeNoteList(std::vector<NoteRec>{{0, 4, 60, 100, 25}, {8, 0, 60, 100, 25}}));
  fs::create_directory(work_ / "taken.wav");
  std::ofstream(work_ / "bad.txt") << "# start length note velocity instrument\n"
                                   << "0 4 60 100 25\n\n"
                                   << "12 4 sixty 100 25\n";
  const std::vector<std::string> before = Listing();

  struct Case {
    std::vector<std::string> args;
    int status;
    std::vector<std::string> said;  // each must appear in the message
  };
  const Case cases[] = {
      {{"--score", "missing.bin", "--wav", "out.wav"}, 2, {"missing.bin", "No such file"}},
      {{"--score", "short.bin", "--wav", "out.wav"}, 2, {"short.bin", "no note record"}},
      {{"--score", "bad.bin", "--wav", "out.wav"}, 2, {"bad.bin", "record 1", "Length"}},
      {{"--score", "bad.txt", "--wav", "out.wav"}, 2, {"bad.txt", "line 4"}},
      {{"--score", ".", "--wav", "out.wav"}, 2, {"'.'"}},
      {{"--score", "good.bin", "--wav", "out.mp3"}, 2, {"out.mp3", ".wav or .flac"}},
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

TEST_F(Cli, HelpAndVersion) {
  const RunResult help = Run({"--help"});
  EXPECT_EQ(help.status, 0);
  for (const char* s : {"--wav", "--stems", "--score", "Examples", "Exit status"}) {
    EXPECT_NE(help.out.find(s), std::string::npos) << s;
  }
  const RunResult version = Run({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, std::string("quom ") + QUOM_VERSION + "\n");
}

}  // namespace
}  // namespace quom
