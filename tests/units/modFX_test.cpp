// The buffer effects against their worked examples.
#include "units/modFX.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "base/modTools.h"

namespace quom {
namespace {

std::vector<float> Ones(int n) {
  return std::vector<float>(n, 1.0f);
}

void ExpectFloats(const std::vector<float>& got, const std::vector<float>& want) {
  ASSERT_EQ(got.size(), want.size());
  for (size_t i = 0; i < got.size(); ++i)
    EXPECT_EQ(got[i], want[i]) << "at " << i;
}

TEST(HighPass, OnesDecayByPowersOfK) {
  auto buf = Ones(4);
  FxHighPass(buf.data(), 4, 0.92f);
  ExpectFloats(buf, {0.92f, 0.8464f, 0.778688f, 0.716393f});
}

TEST(Resonator, UnitDeltaRingsWithAPeriodOfSixSamples) {
  std::vector<float> buf(13, 0.0f);
  buf[0] = 1.0f;
  FxResonator(buf.data(), 13, 7019.0f, 1.0f, 1.0f);
  ExpectFloats(buf, {1, 0, -1, -1, 0, 1, 1, 0, -1, -1, 0, 1, 1});
}

TEST(Resonator, DryMixLeavesTheBufferExactly) {
  std::vector<float> buf = {0.3f, -1.7f, 2.5e-8f, 0.0f, 123.25f};
  const std::vector<float> before = buf;
  FxResonator(buf.data(), 5, 1600.0f, 0.9f, 0.0f);
  ExpectFloats(buf, before);
}

TEST(Resonator, CoefficientIsCappedAtTwo) {
  std::vector<float> a(64, 0.0f), b(64, 0.0f);
  a[0] = b[0] = 1.0f;
  FxResonator(a.data(), 64, 14038.0f * 1.01f, 0.97f, 1.0f);
  FxResonator(b.data(), 64, 30000.0f, 0.97f, 1.0f);
  ExpectFloats(a, b);
}

TEST(Normalize, ScalesToPeakKeepingSigns) {
  std::vector<float> buf = {0.5f, -2.0f, 1.0f};
  FxNormalize(buf.data(), 3, 0.1f);
  ExpectFloats(buf, {0.025f, -0.1f, 0.05f});
}

TEST(Normalize, SilentBufferStaysSilent) {
  std::vector<float> buf(8, 0.0f);
  FxNormalize(buf.data(), 8, 0.5f);
  for (float v : buf) {
    EXPECT_EQ(v, 0.0f);
    EXPECT_FALSE(std::signbit(v));
  }
}

TEST(Fade, InAndOutRamps) {
  auto buf = Ones(10);
  FxFade(buf.data(), 10, 4, 3);
  ExpectFloats(buf, {0, 0.25f, 0.5f, 0.75f, 1, 1, 1, 1, 0.6666667f, 0.33333334f});
}

TEST(Fade, OverlappingRampsMultiply) {
  auto buf = Ones(4);
  FxFade(buf.data(), 4, 4, 4);
  ExpectFloats(buf, {0, 0.1875f, 0.25f, 0.1875f});
}

TEST(Fade, LengthsAboveNAreCutAndZeroSkips) {
  auto cut = Ones(4);
  FxFade(cut.data(), 4, 100, 100);
  ExpectFloats(cut, {0, 0.1875f, 0.25f, 0.1875f});

  auto inOnly = Ones(4);
  FxFade(inOnly.data(), 4, 4, 0);
  ExpectFloats(inOnly, {0, 0.25f, 0.5f, 0.75f});

  auto outOnly = Ones(4);
  FxFade(outOnly.data(), 4, 0, 4);
  ExpectFloats(outOnly, {1, 0.75f, 0.5f, 0.25f});

  auto negative = Ones(3);
  FxFade(negative.data(), 3, -5, -1);
  ExpectFloats(negative, {1, 1, 1});
}

TEST(Decay, HalvingFactor) {
  auto buf = Ones(4);
  FxDecay(buf.data(), 4, 0.5);
  ExpectFloats(buf, {1, 0.5f, 0.25f, 0.125f});
}

TEST(Effects, OnlyTheFirstNSamplesAreTouched) {
  const float kGuard = 7.0f;
  auto run = [&](auto effect) {
    std::vector<float> buf = {0.5f, -0.25f, 1.0f, kGuard, kGuard};
    effect(buf.data());
    EXPECT_EQ(buf[3], kGuard);
    EXPECT_EQ(buf[4], kGuard);
  };
  run([](float* b) { FxHighPass(b, 3, 0.9f); });
  run([](float* b) { FxResonator(b, 3, 1600.0f, 0.9f, 1.0f); });
  run([](float* b) { FxNormalize(b, 3, 0.1f); });
  run([](float* b) { FxFade(b, 3, 2, 2); });
  run([](float* b) { FxDecay(b, 3, 0.5); });

  std::vector<float> none = {kGuard};
  FxHighPass(none.data(), 0, 0.9f);
  FxResonator(none.data(), -1, 1600.0f, 0.9f, 1.0f);
  FxNormalize(none.data(), 0, 0.1f);
  FxDecay(none.data(), 0, 0.5);
  EXPECT_EQ(none[0], kGuard);
}

TEST(ScaleAndFade, NormaliseThenFadeOnEveryPath) {
  modTools t;
  RndSeed(t, 5);
  // Lengths around the fades, overlapping fades, fades longer than the buffer, a silent buffer.
  const int32_t lengths[] = {1, 7, 49, 50, 51, 99, 5000, 5050, 6049, 6050, 6051, 12345};
  for (int32_t n : lengths) {
    std::vector<float> source(n);
    for (float& v : source)
      v = static_cast<float>(RndBrown(t));
    for (bool silent : {false, true}) {
      if (silent) std::fill(source.begin(), source.end(), 0.0f);
      Peak peak;
      for (float v : source)
        peak(v);
      std::vector<float> reference = source;
      FxNormalize(reference.data(), n, 0.1f);
      FxFade(reference.data(), n, 50, 6000);
      for (SimdPath path : AvailableSimdPaths()) {
        std::vector<float> out = source;
        ScaleAndFade(out.data(), n, peak, 0.1f, 50, 6000, path);
        ASSERT_EQ(std::memcmp(out.data(), reference.data(), n * sizeof(float)), 0)
            << "n " << n << " on " << SimdPathName(path);
      }
    }
  }
}

}  // namespace
}  // namespace quom
