// The reverb computed a lap at a time against the frame-by-frame one, bit for bit: every vector
// path and thread count, buses around the edges of the frame range and of the laps, a long
// random bus, the progress calls and the generators, and a progress sink that gives up.
#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <vector>

#include "render/Engine.h"
#include "units/modFXReverb.h"

namespace quom {
namespace {

struct ProgressLog : ProgressSink {
  std::vector<float> totals;
  void Progress(float total) override { totals.push_back(total); }
};

// L, R and Send of every frame, -0 included, for a bus of n frames.
using BusFn = MixFrame (*)(int32_t i, int32_t n);

std::vector<MixFrame> MakeBus(int32_t n, BusFn fn) {
  std::vector<MixFrame> bus(static_cast<size_t>(n));
  for (int32_t i = 0; i < n; ++i)
    bus[i] = fn(i, n);
  return bus;
}

// Runs the frame-by-frame reverb and the lap reverb on every path with 1, 2 and 3 threads on the
// same bus, and compares the buses, the frames as they are handed on, the progress totals and the
// generators.
void ExpectSameAsFrameByFrame(int32_t n, BusFn fn, const char* what) {
  Engine literal;
  literal.gen.MixBuf = MakeBus(n, fn);
  literal.gen.MixLen = n;
  ProgressLog literalLog;
  literal.progress = &literalLog;
  FxReverb(literal);

  for (SimdPath path : AvailableSimdPaths()) {
    for (int threads : {1, 2, 3}) {
      Engine e;
      e.gen.MixBuf = MakeBus(n, fn);
      e.gen.MixLen = n;
      RndSeed(e.tools, 0.5);  // whatever came before, the taps come from the seed 13
      ProgressLog log;
      e.progress = &log;
      // The frames as they stand when they are handed on, which must be final, in order.
      std::vector<MixFrame> handed;
      FxReverb(e, path, threads, [&](int32_t from, int32_t to) {
        ASSERT_EQ(static_cast<size_t>(from), handed.size());
        ASSERT_LE(to, n);
        handed.insert(handed.end(), e.gen.MixBuf.begin() + from, e.gen.MixBuf.begin() + to);
      });
      SCOPED_TRACE(testing::Message() << what << ", MixLen " << n << ", " << SimdPathName(path)
                                      << ", " << threads << " threads");
      ASSERT_EQ(handed.size(), literal.gen.MixBuf.size());
      EXPECT_TRUE(handed.empty() || std::memcmp(handed.data(), literal.gen.MixBuf.data(),
                                                handed.size() * sizeof(MixFrame)) == 0);
      ASSERT_EQ(e.gen.MixBuf.size(), literal.gen.MixBuf.size());
      // memcmp must not see the null data of an empty bus, even for no bytes.
      EXPECT_TRUE(e.gen.MixBuf.empty() ||
                  std::memcmp(e.gen.MixBuf.data(), literal.gen.MixBuf.data(),
                              e.gen.MixBuf.size() * sizeof(MixFrame)) == 0);
      EXPECT_EQ(log.totals, literalLog.totals);
      EXPECT_EQ(std::memcmp(&e.tools, &literal.tools, sizeof(modTools)), 0);
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
  const int32_t n = 4 * 8192 + 777;
  Engine literal;
  literal.gen.MixBuf = MakeBus(n, [](int32_t i, int32_t) {
    MixFrame f = Dry(i);
    f.Send = static_cast<float>((i * 37) % 19 - 9) * 0.01f;
    return f;
  });
  literal.gen.MixLen = n;
  const std::vector<MixFrame> dry = literal.gen.MixBuf;
  ReverbFrameByFrame(literal, taps);
  for (SimdPath path : AvailableSimdPaths()) {
    for (int threads : {1, 2}) {
      Engine e;
      e.gen.MixBuf = dry;
      e.gen.MixLen = n;
      ReverbByLaps(e, taps, path, threads);
      EXPECT_EQ(std::memcmp(e.gen.MixBuf.data(), literal.gen.MixBuf.data(), n * sizeof(MixFrame)),
                0)
          << SimdPathName(path) << ", " << threads << " threads";
    }
  }
}

TEST(ReverbLaps, AProgressSinkThatThrowsStopsEveryThread) {
  struct GiveUp : ProgressSink {
    int calls = 0;
    void Progress(float) override {
      if (++calls == 70) throw std::runtime_error("closed");
    }
  };
  for (int threads : {1, 2}) {
    Engine e;
    e.gen.MixLen = 20 * 8192;  // 153 progress calls
    e.gen.MixBuf.assign(static_cast<size_t>(e.gen.MixLen), MixFrame{0.0f, 0.0f, 0.25f});
    GiveUp sink;
    e.progress = &sink;
    EXPECT_THROW(FxReverb(e, BestSimdPath(), threads), std::runtime_error);
    EXPECT_EQ(sink.calls, 70);
  }
}

TEST(ReverbLaps, FramesHandedOnThatThrowStopEveryThread) {
  for (int threads : {1, 2}) {
    Engine e;
    e.gen.MixLen = 40 * 8192;  // five rounds
    e.gen.MixBuf.assign(static_cast<size_t>(e.gen.MixLen), MixFrame{0.0f, 0.0f, 0.25f});
    int calls = 0;
    EXPECT_THROW(FxReverb(e, BestSimdPath(), threads,
                          [&](int32_t, int32_t) {
                            if (++calls == 2) throw std::runtime_error("full");
                          }),
                 std::runtime_error);
    EXPECT_EQ(calls, 2);
  }
}

}  // namespace
}  // namespace quom
