// The reverb computed a lap at a time against the frame-by-frame one, bit for bit, on one thread:
// every vector path, the pieces of a round in any order, buses around the edges of the frame
// range and of the laps, a long random bus and tap sets the seed does not give; and the
// frame-by-frame reverb fed in stretches of any length.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <utility>
#include <vector>

#include "units/reverb/ReverbLaps.h"
#include "units/reverb/modFXReverb.h"

namespace quom {
namespace {

// L, R and Send of every frame, -0 included, for a bus of n frames.
using BusFn = MixFrame (*)(int32_t i, int32_t n);

modGen MakeBus(int32_t n, BusFn fn) {
  modGen g;
  g.MixLen = n;
  g.MixBuf.resize(static_cast<size_t>(n));
  for (int32_t i = 0; i < n; ++i)
    g.MixBuf[i] = fn(i, n);
  return g;
}

bool SameBits(const std::vector<MixFrame>& a, const std::vector<MixFrame>& b) {
  // memcmp must not see the null data of an empty bus, even for no bytes.
  return a.size() == b.size() &&
         (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(MixFrame)) == 0);
}

ReverbTaps SeededTaps() {
  modTools t;
  ReverbTaps taps;
  DrawReverbTaps(t, taps);
  return taps;
}

// Frame by frame, `stretch` frames per call; returns the frames each call fed.
std::vector<int32_t> FrameByFrame(modGen& g, const ReverbTaps& taps, int32_t stretch) {
  ReverbState r;
  ReverbStart(r, taps, g.MixLen);
  std::vector<int32_t> fed;
  while (true) {
    fed.push_back(FxReverb(g, r, stretch));
    if (fed.back() == 0) return fed;
  }
}

// A round's pieces on this thread, in order or in reverse, with what is done beside them halfway
// through; keeps the frames as they stand when they are said to be final, and the frames fed
// after each round.
struct OneThread final : ReverbLaps::Runner {
  const modGen& g;
  bool reversed;
  std::vector<MixFrame> final;
  std::vector<int32_t> fed;

  OneThread(const modGen& bus, bool reverse) : g(bus), reversed(reverse) {}
  void Run(int32_t count, const std::function<void(int32_t)>& piece,
           const std::function<void()>& beside) override {
    for (int32_t i = 0; i < count; ++i) {
      if (i == count / 2) beside();
      piece(reversed ? count - 1 - i : i);
    }
  }
  void FramesFinal(int32_t from, int32_t to) override {
    EXPECT_EQ(static_cast<size_t>(from), final.size());
    EXPECT_LE(to - from, kReverbRound);
    final.insert(final.end(), g.MixBuf.begin() + from, g.MixBuf.begin() + to);
  }
  void RoundDone(int32_t frames) override { fed.push_back(frames); }
};

// A lap at a time; returns the frames as they were handed on, which must be the whole bus.
std::vector<MixFrame> ByLaps(modGen& g, const ReverbTaps& taps, SimdPath path,
                             ReverbRounding rounding, bool reversed) {
  ReverbLaps laps(taps, path, rounding);
  OneThread runner(g, reversed);
  laps.Run(g, runner);
  // A round reports every frame it fed, and the last one all of them.
  const int32_t rounds = (g.MixLen + kReverbRound - 1) / kReverbRound;
  EXPECT_EQ(runner.fed.size(), static_cast<size_t>(rounds));
  for (int32_t r = 0; r < rounds; ++r)
    EXPECT_EQ(runner.fed[r], std::min((r + 1) * kReverbRound, ReverbFedFrames(g.MixLen)));
  return runner.final;
}

void ExpectSameAsFrameByFrame(int32_t n, BusFn fn, const char* what,
                              const ReverbTaps& taps = SeededTaps()) {
  modGen literal = MakeBus(n, fn);
  FrameByFrame(literal, taps, 1024);
  for (SimdPath path : AvailableSimdPaths()) {
    for (ReverbRounding rounding : {ReverbRounding::kConvert, ReverbRounding::kSplit}) {
      for (bool reversed : {false, true}) {
        modGen g = MakeBus(n, fn);
        const std::vector<MixFrame> handed = ByLaps(g, taps, path, rounding, reversed);
        const auto where = [&] {
          return testing::Message()
                 << what << ", MixLen " << n << ", " << SimdPathName(path)
                 << (rounding == ReverbRounding::kSplit ? ", split" : ", converted")
                 << (reversed ? ", pieces in reverse" : "");
        };
        EXPECT_TRUE(SameBits(g.MixBuf, literal.MixBuf)) << where();
        EXPECT_TRUE(SameBits(handed, literal.MixBuf)) << where() << ", as handed on";
      }
    }
  }
}

// A recognisable dry signal, with a few -0 that adding a zero wet frame turns into +0.
MixFrame Dry(int32_t i) {
  MixFrame f;
  f.L = i % 101 == 3 ? -0.0f : 0.001f * static_cast<float>(i % 97) - 0.03f;
  f.R = i % 89 == 5 ? -0.0f : -0.002f * static_cast<float>(i % 89) + 0.05f;
  return f;
}

TEST(ReverbLaps, MatchesFrameByFrameAroundTheEdges) {
  const BusFn silent = [](int32_t i, int32_t) { return Dry(i); };
  const BusFn full = [](int32_t i, int32_t) {
    MixFrame f = Dry(i);
    f.Send = 1.0f;
    return f;
  };
  // One impulse at the first frame, one at the last fed frame, one just after it (never heard).
  const BusFn impulses = [](int32_t i, int32_t n) {
    MixFrame f = Dry(i);
    if (i == 0 || i == n - 8191 || i == n - 8190) f.Send = 0.5f;
    return f;
  };
  for (const int32_t n : {0, 1, 8190, 8191, 8192, 8193, 9215, 9216, 3 * 8192}) {
    ExpectSameAsFrameByFrame(n, silent, "silent send");
    ExpectSameAsFrameByFrame(n, full, "full send");
    ExpectSameAsFrameByFrame(n, impulses, "impulses");
  }
}

TEST(ReverbLaps, MatchesFrameByFrameOnALongRandomBus) {
  // More than two rounds of eight laps, ending in the middle of a lap; stretches of silence in
  // the send, so that the tail decays to nothing and starts again.
  const BusFn random = [](int32_t i, int32_t) {
    MixFrame f = Dry(i);
    uint32_t h = static_cast<uint32_t>(i) * 2654435761u;
    h ^= h >> 15;
    h *= 2246822519u;
    h ^= h >> 13;
    if ((i / 7000) % 4 != 3)
      f.Send = static_cast<float>(static_cast<int32_t>(h % 2001) - 1000) * 1e-4f;
    return f;
  };
  ExpectSameAsFrameByFrame(2 * 8 * 8192 + 3 * 8192 + 1234, random, "random send");
}

TEST(ReverbLaps, MatchesFrameByFrameNearTheEndsOfTheFloatRange) {
  // Sends whose line and wet sums fall below the smallest normal float, where a float keeps
  // fewer bits than its normal 24, and a send large enough that the sums come near the largest.
  const BusFn tiny = [](int32_t i, int32_t) {
    MixFrame f;  // a silent dry signal, which the wet one cannot vanish into
    if (i % 5000 < 40) f.Send = static_cast<float>(i % 7 - 3) * 1.3e-39f;
    if (i % 9000 == 17) f.Send = 3e-30f;
    return f;
  };
  const BusFn huge = [](int32_t i, int32_t) {
    MixFrame f = Dry(i);
    // TapIn holds near 2e38 for half a lap, then near -2e38: the line's sums in the second lap
    // overflow on the way and some come back, which a float held as a double would survive.
    if (i >= 8192 && i < 16384) f.Send = i < 12288 ? 1e38f : -1e38f;
    return f;
  };
  ExpectSameAsFrameByFrame(3 * 8192 + 500, tiny, "tiny send");
  ExpectSameAsFrameByFrame(3 * 8192 + 500, huge, "huge send");
}

TEST(ReverbLaps, MatchesFrameByFrameWithDelaysAtTheEndsAndShared) {
  // Delays of 0 and 8192 land on one line cell; several taps share a delay; in the wet buffer
  // 0 comes last and 8192 first.
  ReverbTaps taps;
  const int32_t delays[] = {0, 8192, 8192, 0, 1, 1, 8191, 5, 5, 5, 4096, 8191};
  for (int k = 0; k < kReverbTaps; ++k) {
    taps.TapDelay[k] = k < 12 ? delays[k] : (k * 2654435761u) % 8193;
    taps.TapGain[k] = 0.09f - 0.0003f * static_cast<float>(k % 37);
    taps.TapPan[k] = static_cast<float>(k % 11) / 10.0f;
  }
  const BusFn bus = [](int32_t i, int32_t) {
    MixFrame f = Dry(i);
    f.Send = static_cast<float>((i * 37) % 19 - 9) * 0.01f;
    return f;
  };
  ExpectSameAsFrameByFrame(4 * 8192 + 777, bus, "chosen taps", taps);
}

// The frame-by-frame reverb says how far each call got, and its stretches change nothing: the
// wet buffer goes into the bus once, when the last frame is fed (or at once, with none to feed).
TEST(ReverbLaps, FrameByFrameInStretchesOfAnyLength) {
  const BusFn bus = [](int32_t i, int32_t) {
    MixFrame f = Dry(i);
    f.Send = static_cast<float>((i * 13) % 7 - 3) * 0.02f;
    return f;
  };
  const ReverbTaps taps = SeededTaps();
  const int32_t n = 2 * 8192 + 100;  // 8,294 frames fed
  modGen whole = MakeBus(n, bus);
  EXPECT_EQ(FrameByFrame(whole, taps, n), (std::vector<int32_t>{8294, 0}));
  for (const int32_t stretch : {1, 1000, 1024, 8293}) {
    modGen g = MakeBus(n, bus);
    const std::vector<int32_t> fed = FrameByFrame(g, taps, stretch);
    EXPECT_EQ(fed.size(), static_cast<size_t>((8294 + stretch - 1) / stretch + 1)) << stretch;
    EXPECT_EQ(fed.front(), stretch);
    EXPECT_TRUE(SameBits(g.MixBuf, whole.MixBuf)) << stretch << " frames a call";
  }

  // Nothing to feed: the zero wet frames still go in, turning -0 into +0.
  modGen shortBus = MakeBus(8190, bus);
  EXPECT_EQ(FrameByFrame(shortBus, taps, 1024), std::vector<int32_t>{0});
  EXPECT_EQ(std::signbit(shortBus.MixBuf[3].L), false);
  EXPECT_EQ(ReverbFedFrames(8190), 0);
  EXPECT_EQ(ReverbFedFrames(8191), 1);
}

// One instance runs a second bus as a fresh one would: nothing of the first bus's line or send
// carries over into it (nor of its gate: see the gate's tests).
TEST(ReverbLaps, ASecondRunStartsAfresh) {
  const ReverbTaps taps = SeededTaps();
  const BusFn loud = [](int32_t i, int32_t) {
    MixFrame f = Dry(i);
    f.Send = i % 3000 < 50 ? 1e38f : 0.25f;
    return f;
  };
  const BusFn quiet = [](int32_t i, int32_t) {
    MixFrame f = Dry(i);
    f.Send = static_cast<float>((i * 13) % 7 - 3) * 0.02f;
    return f;
  };
  const int32_t n = kReverbRound + 3 * 8192 + 99;
  modGen literal = MakeBus(n, quiet);
  FrameByFrame(literal, taps, 1024);
  for (ReverbRounding rounding : {ReverbRounding::kConvert, ReverbRounding::kSplit}) {
    ReverbLaps laps(taps, BestSimdPath(), rounding);
    // Two rounds exactly: the last frames fed are in the last lap, which the next round reads.
    modGen first = MakeBus(2 * kReverbRound, loud);
    OneThread firstRunner(first, false);
    laps.Run(first, firstRunner);
    modGen second = MakeBus(n, quiet);
    OneThread secondRunner(second, true);
    laps.Run(second, secondRunner);
    EXPECT_TRUE(SameBits(second.MixBuf, literal.MixBuf));
    EXPECT_TRUE(SameBits(secondRunner.final, literal.MixBuf));
  }
}

// ---------------------------------------------------------------------------------------------
// The gate, round by round as the laps drive it: the next round's send is seen during the wet
// pieces, before the round ends.

constexpr float kFine = 0.25f;   // an input every sum of which the split rounds exactly
constexpr double kTiny = 1e-35;  // nonzero, below any floor gains under 0.1 give
constexpr double kHuge = 1e31;   // above the ceiling

struct GateDriver {
  ReverbSplitGate gate;
  explicit GateDriver(ReverbRounding rounding) : gate(rounding, SortReverbTaps(SeededTaps())) {}

  void Send(double v) {
    ReverbSplitGate::Check c = gate.SendCheck();
    c.See(kFine);
    c.See(v);
    gate.SawSend(c);
  }
  // Every line piece fine, but `piece` (if any) also gave `v`.
  void Lines(double v = kFine, int32_t piece = -1) {
    for (int32_t p = 0; p < kReverbLinePieces; ++p) {
      ReverbSplitGate::Check c = gate.LineCheck();
      c.See(kFine);
      if (p == piece) c.See(v);
      gate.SawLines(p, c.Fits());
    }
  }
  // What the gate says of a round whose lines give y as given, with the next round's send.
  std::pair<bool, bool> Round(double y = kFine, int32_t piece = -1, double nextSend = kFine) {
    const bool lines = gate.LinesMaySplit();
    Lines(y, piece);
    const bool wet = gate.WetMaySplit();
    Send(nextSend);
    gate.NextRound();
    return {lines, wet};
  }
};

using Both = std::pair<bool, bool>;  // lines, wet

TEST(ReverbSplitGate, ConvertingNeverSplits) {
  GateDriver d(ReverbRounding::kConvert);
  d.Send(kFine);
  EXPECT_EQ(d.Round(), Both(false, false));
  EXPECT_EQ(d.Round(), Both(false, false));
}

TEST(ReverbSplitGate, ASmallSendKeepsTheLinesFromSplittingForTwoRounds) {
  GateDriver d(ReverbRounding::kSplit);
  d.Send(kFine);
  EXPECT_EQ(d.Round(kFine, -1, -kTiny), Both(true, true));
  EXPECT_EQ(d.Round(), Both(false, true));  // the round's own send
  EXPECT_EQ(d.Round(), Both(false, true));  // the line reads the last lap of the round before
  EXPECT_EQ(d.Round(), Both(true, true));

  // Zero, of either sign, is no small value.
  d.Send(-0.0);
  EXPECT_TRUE(d.gate.LinesMaySplit());
}

TEST(ReverbSplitGate, ALargeSendKeepsTheLinesFromSplittingForGood) {
  for (const double large : {kHuge, -kHuge, std::numeric_limits<double>::infinity(),
                             std::numeric_limits<double>::quiet_NaN()}) {
    GateDriver d(ReverbRounding::kSplit);
    d.Send(kFine);
    EXPECT_EQ(d.Round(kFine, -1, large), Both(true, true)) << large;
    for (int round = 0; round < 4; ++round)
      EXPECT_EQ(d.Round(), Both(false, true)) << large << ", round " << round;
    d.gate.Restart();
    d.Send(kFine);
    EXPECT_EQ(d.Round(), Both(true, true)) << large << ", restarted";
  }
}

TEST(ReverbSplitGate, OneLinePieceOutOfRangeKeepsTheWetFramesFromSplittingForTwoRounds) {
  for (const double y : {kTiny, -kHuge}) {
    for (const int32_t piece : {0, kReverbLinePieces - 1}) {
      GateDriver d(ReverbRounding::kSplit);
      d.Send(kFine);
      EXPECT_EQ(d.Round(y, piece), Both(true, false)) << y << ", piece " << piece;
      // The wet frames read a lap back, into the round before.
      EXPECT_EQ(d.Round(), Both(true, false)) << y << ", piece " << piece;
      EXPECT_EQ(d.Round(), Both(true, true)) << y << ", piece " << piece;
    }
  }
}

// The floors come from the smallest nonzero gain: the line's from its gains, the wet frames' from
// the larger of the two shares' floors.
TEST(ReverbSplitGate, FloorsFollowTheSmallestGain) {
  ReverbLapTaps taps;
  taps.lineGain.fill(0.0625);
  taps.lineGain[3] = 0.0;
  taps.lineGain[70] = 0x1p-6;  // floor 2^-90
  taps.wetGainLeft.fill(0.0625);
  taps.wetGainLeft[5] = 0x1p-8;  // floor 2^-88
  taps.wetGainRight.fill(0.0625);
  taps.wetGainRight[9] = 0x1p-10;  // floor 2^-86, the larger
  taps.wetGainRight[10] = 0.0;
  const ReverbSplitGate gate(ReverbRounding::kSplit, taps);
  const auto small = [](ReverbSplitGate::Check c, double v) {
    c.See(v);
    return c.Small();
  };
  EXPECT_FALSE(small(gate.SendCheck(), 0x1p-90));
  EXPECT_FALSE(small(gate.SendCheck(), -0x1p-90));
  EXPECT_TRUE(small(gate.SendCheck(), std::nextafter(0x1p-90, 0.0)));
  EXPECT_FALSE(small(gate.LineCheck(), 0x1p-86));
  EXPECT_TRUE(small(gate.LineCheck(), std::nextafter(0x1p-86, 0.0)));
  EXPECT_TRUE(small(gate.LineCheck(), 0x1p-88));

  // The ceiling: 2^100 still fits.
  ReverbSplitGate::Check c = gate.SendCheck();
  c.See(0x1p100);
  EXPECT_FALSE(c.Large());
  c.See(std::nextafter(0x1p100, 1e300));
  EXPECT_TRUE(c.Large());
  EXPECT_FALSE(c.Small());
}

}  // namespace
}  // namespace quom
