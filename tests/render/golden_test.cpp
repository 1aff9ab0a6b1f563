// Golden hashes of whole renders. A change to any of them changes the piece: review the diff of
// the recorded value like any other change to the output. Run the tests with
// QUOM_PRINT_GOLDEN=1 to print the current values.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "base/modTools.h"
#include "render/Reverb.h"
#include "render/SampleBank.h"
#include "render/Synthesize.h"
#include "resources/EmbeddedScore.h"
#include "tests/Sha256.h"
#include "tests/TestScores.h"
#include "units/modFXMaster.h"

namespace quom {
namespace {

using test::Sha256Hex;

// The render of AllInstrumentsScore: every instrument, the sample bank, reverb and master.
constexpr const char* kAllInstrumentsPcmSha256 =
    "2b5038bd098ac62140b557cc74f8538d31d7b58942c737303fe0d380053168cc";

// The render of the embedded piece.
constexpr const char* kPiecePcmSha256 =
    "7c4443969f46527b327445230bd39ab5aa6274e9a1eee9488254e3800c080211";

// The reverb and the master stage alone, on a fixed synthetic bus: final for these two stages.
constexpr const char* kReverbBusSha256 =
    "73a0d211f6fca6d91cae8e46aca00b0a2083032bc604f397f6f81488905aea11";
constexpr const char* kMasterPcmSha256 =
    "6607c61cbbc9b999887d70ea51f35420535aa7055afa92434fa777873aaf948c";

bool PrintGolden() {
  const char* v = std::getenv("QUOM_PRINT_GOLDEN");
  return v && std::strcmp(v, "1") == 0;
}

void Report(const char* name, const std::string& hash) {
  if (PrintGolden()) std::cout << "golden " << name << " = " << hash << "\n";
}

// Little-endian bytes, whatever the host.
std::vector<uint8_t> PcmBytes(const std::vector<int16_t>& pcm) {
  std::vector<uint8_t> bytes;
  bytes.reserve(2 * pcm.size());
  for (int16_t v : pcm) {
    const auto u = static_cast<uint16_t>(v);
    bytes.push_back(static_cast<uint8_t>(u & 0xFF));
    bytes.push_back(static_cast<uint8_t>(u >> 8));
  }
  return bytes;
}

std::vector<uint8_t> BusBytes(const std::vector<MixFrame>& bus) {
  std::vector<uint8_t> bytes;
  bytes.reserve(12 * bus.size());
  for (const MixFrame& f : bus) {
    for (float v : {f.L, f.R, f.Send}) {
      uint32_t u;
      std::memcpy(&u, &v, sizeof u);
      for (int b = 0; b < 4; ++b)
        bytes.push_back(static_cast<uint8_t>(u >> (8 * b)));
    }
  }
  return bytes;
}

// Passes when no value is recorded yet (and says so), or when the value matches.
void ExpectGolden(const char* name, const char* recorded, const std::string& hash) {
  Report(name, hash);
  if (recorded[0] == '\0') {
    GTEST_SKIP() << name << " not recorded yet; current value " << hash;
  }
  EXPECT_EQ(hash, recorded) << name << " changed";
}

// Every new progress total in order, leaving out the calls that only say the caller is still
// waiting; and whether any call came from another thread than the one that made the sink.
struct ProgressLog : ProgressSink {
  std::vector<float> totals;
  std::thread::id owner = std::this_thread::get_id();
  bool elsewhere = false;
  void Progress(float total) override {
    elsewhere = elsewhere || std::this_thread::get_id() != owner;
    if (total != (totals.empty() ? 0.0f : totals.back())) totals.push_back(total);
  }
};

// Two renders in one process give the same bytes; the hash is skipped, printing the current
// value, until it is recorded.
TEST(Golden, AllInstrumentsRender) {
  const std::vector<NoteRec> notes = test::AllInstrumentsScore();
  Engine first;
  const std::vector<int16_t> a = Synthesize(first, notes);
  Engine second;
  const std::vector<int16_t> b = Synthesize(second, notes);
  ASSERT_EQ(a.size(), b.size());
  EXPECT_TRUE(a == b) << "two renders in one process differ";
  EXPECT_TRUE(std::any_of(a.begin(), a.end(), [](int16_t v) { return v != 0; }));
  ExpectGolden("all-instruments PCM", kAllInstrumentsPcmSha256, Sha256Hex(PcmBytes(a)));
}

// Every vector path and thread count (none included), and the literal path, render the same bytes
// with the same progress calls.
TEST(Golden, EveryPathAndThreadCountGivesTheSameRender) {
  const std::vector<NoteRec> notes = test::AllInstrumentsScore();
  std::vector<RenderOptions> ways;
  for (SimdPath simd : AvailableSimdPaths()) {
    if (simd == SimdPath::kScalar) {
      ways.push_back({RenderPath::kFast, simd, 2});  // the scalar plate is slow: once is enough
      continue;
    }
    for (int threads : {1, 3})
      ways.push_back({RenderPath::kFast, simd, threads});
  }
  ways.push_back({RenderPath::kFast, BestSimdPath(), 0});  // no workers: the caller does it all
  // The literal path first: its progress calls are the reference.
  ways.insert(ways.begin(), {RenderPath::kLiteral, BestSimdPath(), 1});
  std::vector<float> literalTotals;
  for (const RenderOptions& way : ways) {
    SCOPED_TRACE(std::string(SimdPathName(way.simd)) + ", " + std::to_string(way.threads) +
                 (way.path == RenderPath::kLiteral ? " threads, literal" : " threads"));
    Engine e;
    ProgressLog log;
    e.progress = &log;
    EXPECT_EQ(Sha256Hex(PcmBytes(Synthesize(e, notes, nullptr, way))), kAllInstrumentsPcmSha256);
    // The same progress calls, in the same order, from the calling thread.
    if (way.path == RenderPath::kLiteral) literalTotals = log.totals;
    EXPECT_EQ(log.totals, literalTotals);
    EXPECT_FALSE(log.elsewhere);
  }
}

// An observer that reads the bus after the reverb has the master stage wait for it.
TEST(Golden, AnObserverThatReadsTheBusGetsItWhole) {
  const std::vector<NoteRec> notes = test::AllInstrumentsScore();
  struct ReadsBus : StageObserver {
    size_t frames = 0;
    void ReverbAdded(const Engine& e) override { frames = e.gen.MixBuf.size(); }
  } observer;
  Engine e;
  EXPECT_EQ(Sha256Hex(PcmBytes(Synthesize(e, notes, &observer))), kAllInstrumentsPcmSha256);
  EXPECT_EQ(observer.frames, static_cast<size_t>(e.gen.MixLen));
}

// The whole piece, as the program plays it. The last crash grows the mix bus by 60 frames past
// its sized end, and nothing else does.
TEST(Golden, EmbeddedPiece) {
  Engine e;
  const std::vector<int16_t> pcm = Synthesize(e, DecodeNoteList(EmbeddedNoteList()));
  EXPECT_EQ(e.gen.MixLen, 5297673);
  ASSERT_EQ(pcm.size(), 2u * 5297673u);
  ExpectGolden("piece PCM", kPiecePcmSha256, Sha256Hex(PcmBytes(pcm)));
}

// The stages of Synthesize with the fast bank (vector plates) and the reverb by laps on two
// threads.
std::vector<int16_t> FastRender(std::span<const NoteRec> notes) {
  Engine e;
  InitMix(e);
  BuildSamples(e, BestSimdPath());
  RenderSong(e, notes, kSecPerTick);
  FxReverb(e, BestSimdPath(), 2);
  std::vector<int16_t> pcm(2 * static_cast<size_t>(e.gen.MixLen), 0);
  FxMaster(e.gen, pcm);
  return pcm;
}

TEST(Golden, FastStagesGiveTheSameRenders) {
  ExpectGolden("all-instruments PCM, fast stages", kAllInstrumentsPcmSha256,
               Sha256Hex(PcmBytes(FastRender(test::AllInstrumentsScore()))));
  ExpectGolden("piece PCM, fast stages", kPiecePcmSha256,
               Sha256Hex(PcmBytes(FastRender(DecodeNoteList(EmbeddedNoteList())))));
}

// Five laps of bus: quiet and loud stretches, a few beyond the clipper's knee, and a send that
// comes and goes.
std::vector<MixFrame> SyntheticBus() {
  modTools t;
  RndSeed(t, 0.125);
  std::vector<MixFrame> bus(5 * kReverbLineLen + 1234);
  for (size_t i = 0; i < bus.size(); ++i) {
    const double level = (i / 3000) % 3 == 0 ? 0.4 : (i / 3000) % 3 == 1 ? 0.02 : 0.1;
    bus[i].L = static_cast<float>((RndUniform(t) - 0.5) * level);
    bus[i].R = static_cast<float>(RndBrown(t) * 0.02 * level);
    bus[i].Send = (i / 5000) % 2 == 0 ? static_cast<float>(RndDiff(t) * 0.05) : 0.0f;
  }
  return bus;
}

TEST(Golden, ReverbAndMasterOnASyntheticBus) {
  Engine e;
  e.gen.MixBuf = SyntheticBus();
  e.gen.MixLen = static_cast<int32_t>(e.gen.MixBuf.size());
  FxReverb(e);
  const std::string reverbHash = Sha256Hex(BusBytes(e.gen.MixBuf));

  modGen dry;
  dry.MixBuf = SyntheticBus();
  dry.MixLen = static_cast<int32_t>(dry.MixBuf.size());
  std::vector<int16_t> pcm(2 * dry.MixBuf.size());
  FxMaster(dry, pcm);
  const std::string masterHash = Sha256Hex(PcmBytes(pcm));

  Report("reverb bus", reverbHash);
  Report("master PCM", masterHash);
  EXPECT_EQ(reverbHash, kReverbBusSha256) << "reverb output changed";
  EXPECT_EQ(masterHash, kMasterPcmSha256) << "master output changed";

  for (SimdPath path : AvailableSimdPaths()) {
    for (int threads : {1, 2}) {
      Engine f;
      f.gen.MixBuf = SyntheticBus();
      f.gen.MixLen = static_cast<int32_t>(f.gen.MixBuf.size());
      FxReverb(f, path, threads);
      EXPECT_EQ(Sha256Hex(BusBytes(f.gen.MixBuf)), kReverbBusSha256)
          << "reverb by laps on " << SimdPathName(path) << ", " << threads << " threads";
    }
  }
}

}  // namespace
}  // namespace quom
