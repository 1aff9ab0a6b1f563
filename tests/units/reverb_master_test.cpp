// The reverb's edge cases and echo structure, and the master stage's clipper, gain law and
// channel linking.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "base/Rounding.h"
#include "base/modTools.h"
#include "render/Engine.h"
#include "render/Reverb.h"
#include "units/modFXMaster.h"
#include "units/reverb/modFXReverb.h"

namespace quom {
namespace {

class CountingSink : public ProgressSink {
 public:
  void Progress(float total) override {
    ++calls;
    last = total;
  }
  int calls = 0;
  float last = 0.0f;
};

// A bus of n frames with L and R set to a recognisable pattern and a silent send.
void MakeBus(Engine& e, int32_t n) {
  e.gen.MixLen = n;
  e.gen.MixBuf.assign(static_cast<size_t>(n), MixFrame{});
  for (int32_t i = 0; i < n; ++i) {
    e.gen.MixBuf[i].L = 0.001f * static_cast<float>(i % 97) - 0.03f;
    e.gen.MixBuf[i].R = -0.002f * static_cast<float>(i % 89) + 0.05f;
  }
}

bool SameBits(const std::vector<MixFrame>& a, const std::vector<MixFrame>& b) {
  // memcmp must not see the null data of an empty vector, even for no bytes.
  return a.size() == b.size() &&
         (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(MixFrame)) == 0);
}

TEST(Reverb, SilentSendLeavesTheBusUnchanged) {
  Engine e;
  CountingSink sink;
  e.progress = &sink;
  MakeBus(e, 3 * kReverbLineLen);
  const std::vector<MixFrame> before = e.gen.MixBuf;
  ReverbFrameByFrame(e);
  for (size_t i = 0; i < before.size(); ++i) {
    ASSERT_EQ(e.gen.MixBuf[i].L, before[i].L) << "frame " << i;
    ASSERT_EQ(e.gen.MixBuf[i].R, before[i].R) << "frame " << i;
  }
  // Frames 0 .. 3 * 8192 - 8191 = 16385 are fed: reports at 0, 1024, ..., 16384.
  EXPECT_EQ(sink.calls, 17);
}

TEST(Reverb, FeedsOnlyFramesUpToMixLenMinus8191) {
  for (const int32_t n : {0, 1, 8190}) {
    Engine e;
    CountingSink sink;
    e.progress = &sink;
    MakeBus(e, n);
    for (MixFrame& f : e.gen.MixBuf)
      f.Send = 1.0f;
    const std::vector<MixFrame> before = e.gen.MixBuf;
    ReverbFrameByFrame(e);
    EXPECT_TRUE(SameBits(e.gen.MixBuf, before)) << "MixLen " << n;
    EXPECT_EQ(sink.calls, 0) << "MixLen " << n;
  }

  // Exactly 8191 frames: frame 0 alone is fed, and reported once.
  Engine e;
  CountingSink sink;
  e.progress = &sink;
  MakeBus(e, 8191);
  e.gen.MixBuf[0].Send = 1.0f;
  ReverbFrameByFrame(e);
  EXPECT_EQ(sink.calls, 1);
  EXPECT_EQ(sink.last, 0.035f);
  EXPECT_EQ(e.gen.ProgressTotal, 0.035f);

  // One more frame is one more fed frame but no further report until frame 1024.
  Engine f;
  CountingSink sink2;
  f.progress = &sink2;
  MakeBus(f, 8191 + 1024);
  ReverbFrameByFrame(f);
  EXPECT_EQ(sink2.calls, 2);

  // The last 8190 frames of the send are never heard; the frame before them is.
  for (const int32_t back : {8190, 8191 + 2000}) {
    Engine h;
    MakeBus(h, 3 * kReverbLineLen);
    h.gen.MixBuf[h.gen.MixLen - back].Send = 1.0f;
    const std::vector<MixFrame> before = h.gen.MixBuf;
    ReverbFrameByFrame(h);
    EXPECT_EQ(SameBits(h.gen.MixBuf, before), back == 8190) << "impulse at MixLen - " << back;
  }
}

TEST(Reverb, ImpulseEchoesRecurEveryLapAtHalfStrength) {
  constexpr int32_t kStart = 300;
  constexpr int32_t kLap = kReverbLineLen;
  Engine e;
  e.gen.MixLen = kStart + 6 * kLap;
  e.gen.MixBuf.assign(static_cast<size_t>(e.gen.MixLen), MixFrame{});
  e.gen.MixBuf[kStart].Send = 1.0f;
  ReverbFrameByFrame(e);
  const std::vector<MixFrame>& bus = e.gen.MixBuf;

  for (int32_t i = 0; i < kStart; ++i) {
    ASSERT_EQ(bus[i].L, 0.0f) << "wet output before the impulse, frame " << i;
    ASSERT_EQ(bus[i].R, 0.0f) << "wet output before the impulse, frame " << i;
  }

  // The smoothed impulse feeds the line for a few hundred frames; a cell read after that has
  // only been halved since its previous reading, and a wet frame whose gathers all come from
  // such readings is half the frame one lap earlier. The last fed frame writes as far as
  // MixLen + 1, so the final lap compared stops 8192 frames before the end.
  double lapEnergy[2] = {0.0, 0.0};
  const int32_t from = kStart + 3 * kLap;
  for (int32_t i = from; i < from + kLap; ++i) {
    for (int ch = 0; ch < 2; ++ch) {
      const double a = ch == 0 ? bus[i].L : bus[i].R;
      const double b = ch == 0 ? bus[i + kLap].L : bus[i + kLap].R;
      ASSERT_NEAR(b, 0.5 * a, 1e-6 * std::fabs(a) + 1e-37) << "frame " << i << " channel " << ch;
      lapEnergy[ch] += a * a;
    }
  }
  EXPECT_GT(lapEnergy[0], 0.0);
  EXPECT_GT(lapEnergy[1], 0.0);

  // Each lap before also has half the energy of the previous one, within the smoothing's tail.
  double prev = 0.0;
  for (int lap = 2; lap <= 4; ++lap) {
    double energy = 0.0;
    for (int32_t i = kStart + lap * kLap; i < kStart + (lap + 1) * kLap; ++i) {
      energy += static_cast<double>(bus[i].L) * bus[i].L + static_cast<double>(bus[i].R) * bus[i].R;
    }
    if (lap > 2) {
      EXPECT_NEAR(energy / prev, 0.25, 0.25 * 1e-5) << "lap " << lap;
    }
    prev = energy;
  }
}

TEST(Reverb, RepeatsExactlyAndNeverTouchesTheSend) {
  auto run = [](double priorDraws) {
    Engine e;
    MakeBus(e, 5 * kReverbLineLen);
    for (int32_t i = 0; i < e.gen.MixLen; ++i) {
      e.gen.MixBuf[i].Send = (i % 4000 < 20) ? 0.25f * static_cast<float>(i % 7) - 0.7f : 0.0f;
    }
    e.gen.MixBuf[11].Send = -0.0f;
    // Whatever the generators did before, the taps come from the fixed seed.
    RndSeed(e.tools, priorDraws);
    for (int i = 0; i < 5; ++i)
      RndUniform(e.tools);
    const std::vector<MixFrame> before = e.gen.MixBuf;
    ReverbFrameByFrame(e);
    for (size_t i = 0; i < before.size(); ++i) {
      EXPECT_EQ(std::memcmp(&e.gen.MixBuf[i].Send, &before[i].Send, sizeof(float)), 0)
          << "Send changed at frame " << i;
    }
    return e.gen.MixBuf;
  };
  const std::vector<MixFrame> a = run(0.0);
  const std::vector<MixFrame> b = run(7.5);
  EXPECT_TRUE(SameBits(a, b));
}

TEST(SoftClip, WorkedValues) {
  EXPECT_EQ(SoftClip(32000.0f), 32000);
  EXPECT_EQ(SoftClip(32767.0f), 32384);  // 32383.5, tie to even
  EXPECT_EQ(SoftClip(40000.0f), 32700);
  EXPECT_EQ(SoftClip(100000.0f), 32758);
  EXPECT_EQ(SoftClip(1e9f), 32767);
  EXPECT_EQ(SoftClip(-40000.0f), -32700);
  EXPECT_EQ(SoftClip(2.5f), 2);
  EXPECT_EQ(SoftClip(1.5f), 2);
  EXPECT_EQ(SoftClip(-2.5f), -2);
  EXPECT_EQ(SoftClip(12345.5f), 12346);
  EXPECT_EQ(SoftClip(0.5f), 0);
  EXPECT_EQ(SoftClip(-31999.5f), -32000);
  EXPECT_EQ(SoftClip(std::numeric_limits<float>::max()), 32767);
  EXPECT_EQ(SoftClip(std::numeric_limits<float>::infinity()), 32767);
  EXPECT_EQ(SoftClip(-std::numeric_limits<float>::infinity()), -32767);
  EXPECT_EQ(SoftClip(std::numeric_limits<float>::quiet_NaN()), 0);
}

TEST(SoftClip, IsOddMonotoneAndNeverReachesTheRail) {
  int16_t prev = SoftClip(0.0f);
  for (double x = 0.25; x < 3e6; x = x < 40000 ? x + 0.25 : x * 1.001) {
    const float xf = static_cast<float>(x);
    const int16_t pos = SoftClip(xf);
    ASSERT_EQ(SoftClip(-xf), -pos) << "x = " << x;
    ASSERT_GE(pos, prev) << "x = " << x;
    ASSERT_LE(pos, 32767);
    prev = pos;
  }
}

TEST(SoftClip, RoundsTiesToEvenAcrossTheWholeRange) {
  // The knee as a plain formula, rounded by the library: the clipper's own rounding must agree
  // on every half-integer and on a spread of all float values.
  auto reference = [](float x) -> int16_t {
    const double xd = x;
    if (std::isnan(xd)) return 0;
    double v = xd;
    if (xd > 32000.0)
      v = std::isinf(xd) ? 32767.0 : 32000.0 + 767.0 * (xd - 32000.0) / (xd - 32000.0 + 767.0);
    if (xd < -32000.0)
      v = std::isinf(xd) ? -32767.0 : -32000.0 - 767.0 * (-32000.0 - xd) / (-32000.0 - xd + 767.0);
    return static_cast<int16_t>(std::nearbyint(v));
  };
  for (double x = -33000.0; x <= 33000.0; x += 0.25)
    ASSERT_EQ(SoftClip(static_cast<float>(x)), reference(static_cast<float>(x))) << x;
  for (uint64_t bits = 0; bits < (1ull << 32); bits += 65537) {
    float x;
    const uint32_t b = static_cast<uint32_t>(bits);
    std::memcpy(&x, &b, sizeof x);
    ASSERT_EQ(SoftClip(x), reference(x)) << x;
  }
}

// A bus of n frames, L and R from the given functions of the frame index.
template <typename FL, typename FR>
modGen Bus(int32_t n, FL left, FR right) {
  modGen g;
  g.MixLen = n;
  g.MixBuf.resize(static_cast<size_t>(n));
  for (int32_t i = 0; i < n; ++i) {
    g.MixBuf[i].L = left(i);
    g.MixBuf[i].R = right(i);
  }
  return g;
}

std::vector<int16_t> Master(const modGen& g) {
  std::vector<int16_t> pcm(2 * static_cast<size_t>(g.MixLen), 0);
  FxMaster(g, pcm);
  return pcm;
}

TEST(Master, SilenceInSilenceOut) {
  const modGen g = Bus(
      44100, [](int) { return 0.0f; }, [](int) { return -0.0f; });
  for (int16_t v : Master(g))
    ASSERT_EQ(v, 0);
}

TEST(Master, FirstFramePassesAtAboutUnityGain) {
  // b moves once from 22000 towards the level 10000: u = 33000 / (21998.64 + 11000), just
  // above 1, and the frame is interleaved left then right.
  const modGen g = Bus(
      1, [](int) { return 0.01f; }, [](int) { return -0.05f; });
  EXPECT_EQ(Master(g), (std::vector<int16_t>{2000, -10000}));
}

TEST(Master, LoudToneIsLimitedBelowTheRail) {
  // Amplitude 1.5 is 300,000 PCM units, far beyond 16 bits.
  constexpr double kTwoPi = 6.283185307179586;
  const modGen g = Bus(
      2 * 44100,
      [&](int i) { return static_cast<float>(1.5 * std::sin(kTwoPi * 220.0 * i / 44100)); },
      [&](int i) { return static_cast<float>(-1.5 * std::sin(kTwoPi * 330.0 * i / 44100)); });
  const std::vector<int16_t> pcm = Master(g);
  int peakLate = 0;
  for (size_t i = 0; i < pcm.size(); ++i) {
    ASSERT_LE(std::abs(pcm[i]), 32767) << "value " << i;
    ASSERT_NE(pcm[i], -32768);
    if (i >= pcm.size() / 2) peakLate = std::max(peakLate, std::abs(static_cast<int>(pcm[i])));
  }
  // Settled, the envelope sits a little below the peak, so the peaks land above 22000 but
  // well inside the knee's range.
  EXPECT_GT(peakLate, 22000);
  EXPECT_LT(peakLate, 32700);
}

TEST(Master, BothChannelsShareOneGain) {
  // Right alone at 2000 PCM units is lifted towards 33000 * 2000 / 13000 = 5077; beside a left
  // channel at 100,000 units it is limited with it, to 2000 * 22000 / 100000 = 440.
  constexpr int32_t kFrames = 3 * 44100;
  const modGen alone = Bus(
      kFrames, [](int) { return 0.0f; }, [](int) { return 0.01f; });
  const modGen linked = Bus(
      kFrames, [](int) { return 0.5f; }, [](int) { return 0.01f; });
  const std::vector<int16_t> a = Master(alone);
  const std::vector<int16_t> b = Master(linked);
  const size_t last = 2 * static_cast<size_t>(kFrames - 1);
  EXPECT_EQ(a[last], 0);
  EXPECT_NEAR(a[last + 1], 5077, 1);
  EXPECT_NEAR(b[last], 22000, 1);
  EXPECT_NEAR(b[last + 1], 440, 1);
}

TEST(Master, RefusesABufferTooSmallAndSkipsAnEmptyBus) {
  const modGen g = Bus(
      4, [](int) { return 0.1f; }, [](int) { return 0.1f; });
  std::vector<int16_t> small(7, 0);
  EXPECT_THROW(FxMaster(g, small), std::length_error);

  modGen empty;
  std::vector<int16_t> none;
  FxMaster(empty, none);  // MixLen 0: nothing to do, nothing to check
  EXPECT_TRUE(none.empty());
}

// The vector master against the frame loop on every path: levels across the knee, the rails,
// infinities, NaN, -0 and subnormals, an envelope swinging between limiting and lifting, and
// pieces of every length up to a few vectors and blocks, so that every tail is taken.
TEST(Master, VectorPathsGiveTheFrameLoopsBits) {
  constexpr float kInf = std::numeric_limits<float>::infinity();
  const float specials[] = {0.0f,     -0.0f, 1e-45f, -1e-40f, 0.16f,  -0.16f, 0.1601f, 0.17f,
                            -0.1699f, 3.0f,  -3.0f,  1e30f,   -1e30f, kInf,   -kInf,   NAN};
  modTools t;
  RndSeed(t, 0.625);
  const modGen g = Bus(
      20000,
      [&](int i) {
        return (i / 7) % 5 == 0
                   ? specials[RoundToInt32(RndUniform(t) * 15)]
                   : static_cast<float>(RndDiff(t) * ((i / 3000) % 3 == 0 ? 0.4 : 0.02));
      },
      [&](int i) { return i % 11 == 0 ? specials[i % 16] : static_cast<float>(RndDiff(t) * 0.2); });
  const std::vector<int16_t> literal = Master(g);
  for (SimdPath path : AvailableSimdPaths()) {
    std::vector<int16_t> pcm(literal.size(), 7);
    float b = kMasterStartLevel;
    int32_t at = 0;
    for (int32_t piece = 0; at < g.MixLen; ++piece) {
      const int32_t to = std::min(g.MixLen, at + piece % 41 + (piece % 5 == 0 ? 1500 : 0));
      FxMasterFramesFast(g, pcm, at, to, b, path);
      at = to;
    }
    EXPECT_EQ(pcm, literal) << SimdPathName(path);
  }
  std::vector<int16_t> small(7, 0);
  float b = kMasterStartLevel;
  EXPECT_THROW(FxMasterFramesFast(g, small, 0, 4, b, BestSimdPath()), std::length_error);
}

}  // namespace
}  // namespace quom
