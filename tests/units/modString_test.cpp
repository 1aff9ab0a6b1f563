// The wavetable oscillator against its worked values.
#include "units/modString.h"

#include <gtest/gtest.h>

#include <cmath>

#include "tests/TestUtil.h"

namespace quom {
namespace {

using test::MatchesDecimals;
using test::MatchesDigits;

TEST(WaveTable, NoiseFreeShapes) {
  modString w;
  modTools t;
  WaveInitCubic(w, t, 441.0f, 0.1f, 0.0f);
  EXPECT_EQ(w.WaveTable[0], 0.0f);
  EXPECT_EQ(w.WaveTable[32], 0.375f);
  EXPECT_EQ(w.WaveTable[64], 0.0f);
  EXPECT_EQ(w.WaveTable[96], -0.375f);
  EXPECT_TRUE(MatchesDigits(w.WaveTable[1], 0.030521393, 8));
  EXPECT_TRUE(MatchesDigits(w.WaveTable[127], -0.030521393, 8));
  for (int i = 1; i < 128; ++i)
    EXPECT_EQ(w.WaveTable[128 - i], -w.WaveTable[i]) << i;

  WaveInitArc(w, t, 441.0f, 0.1f, 0.0f);
  EXPECT_TRUE(MatchesDigits(w.WaveTable[1], 0.0019953917, 8));
  EXPECT_TRUE(MatchesDigits(w.WaveTable[32], 0.153, 8));
  EXPECT_TRUE(MatchesDigits(w.WaveTable[63], 0.0000082967, 5));
  EXPECT_EQ(w.WaveTable[64], 0.0f);
  EXPECT_TRUE(MatchesDigits(w.WaveTable[127], -0.0019953917, 8));
  float peak = 0.0f;
  int peakAt = -1;
  for (int i = 0; i < 128; ++i) {
    if (w.WaveTable[i] > peak) peak = w.WaveTable[i], peakAt = i;
  }
  EXPECT_EQ(peakAt, 22);
  EXPECT_TRUE(MatchesDigits(peak, 0.1993444, 7));
}

TEST(WaveTable, InitialisersAlwaysDrawOneValuePerEntry) {
  modString w;
  modTools quiet, loud, reference;
  WaveInitCubic(w, quiet, 200.0f, 0.1f, 0.0f);
  WaveInitCubic(w, loud, 200.0f, 0.1f, 1.4f);
  for (int i = 0; i < 128; ++i)
    RndUniform(reference);
  EXPECT_EQ(quiet.UniState, reference.UniState);
  EXPECT_EQ(loud.UniState, reference.UniState);

  modTools arc, brownReference;
  WaveInitArc(w, arc, 200.0f, 0.5f, 0.0f);
  for (int i = 0; i < 128; ++i)
    RndBrown(brownReference);
  EXPECT_EQ(arc.BrownState, brownReference.BrownState);
  EXPECT_EQ(arc.BrownLevel, brownReference.BrownLevel);
  EXPECT_EQ(arc.UniState, 0.0);
}

TEST(WaveNext, FirstEightAfterTheCubicInitialiser) {
  modString w;
  modTools t;
  WaveInitCubic(w, t, 441.0f, 0.1f, 0.0f);
  EXPECT_EQ(w.WaveInc, 0.01f);
  EXPECT_EQ(w.WaveDiffCoef, 0.125f);
  const double expected[] = {0,           0.038663633, 0.075090647, 0.109323159,
                             0.141241208, 0.170842081, 0.198387608, 0.223919883};
  const float first = w.WaveTable[0];
  for (double want : expected)
    EXPECT_TRUE(MatchesDecimals(WaveNext(w), want, 9));
  EXPECT_EQ(first, 0.0f);
  EXPECT_EQ(w.WaveDiffPos, 8);
  EXPECT_TRUE(MatchesDigits(w.WavePhase, 0.0800001100, 9));
  EXPECT_NEAR(w.VibPhase, 0.0016, 1e-15);
}

TEST(WaveNext, FirstEightAfterTheArcInitialiser) {
  modString w;
  modTools t;
  WaveInitArc(w, t, 441.0f, 0.5f, 0.0f);
  EXPECT_EQ(w.WaveDiffCoef, 0.425f);
  const double expected[] = {0,
                             0.0035333671,
                             0.0121385986,
                             0.0246117171,
                             0.0400282256,
                             0.0573290288,
                             0.0754870921,
                             0.0938468501};
  for (double want : expected)
    EXPECT_TRUE(MatchesDecimals(WaveNext(w), want, 10));
}

TEST(WaveNext, SmoothingPassWrapsThroughTheTableEnd) {
  modString w;
  modTools t;
  WaveInitCubic(w, t, 441.0f, 0.1f, 1.0f);
  const modString before = w;
  w.WaveDiffPos = 120;
  w.WavePhase = 5.5f / 128.0f;  // k = 5
  WaveNext(w);
  EXPECT_EQ(w.WaveDiffPos, 5);
  // Pairs (119,120) .. (127,0) .. (3,4) were pulled together; entries 5 .. 118 are untouched.
  for (int i = 5; i <= 118; ++i)
    EXPECT_EQ(w.WaveTable[i], before.WaveTable[i]) << i;
  for (int i : {119, 120, 127, 0, 4})
    EXPECT_NE(w.WaveTable[i], before.WaveTable[i]) << i;
  double sumBefore = 0.0, sumAfter = 0.0;
  for (int i = 0; i < 128; ++i) {
    sumBefore += before.WaveTable[i];
    sumAfter += w.WaveTable[i];
  }
  EXPECT_NEAR(sumAfter, sumBefore, 1e-6);  // the mean is kept
}

TEST(WaveNext, VibratoPhaseRunsOnAcrossNotesInDouble) {
  modString w;
  modTools t;
  w.VibPhase = 22900.0;
  WaveInitCubic(w, t, 441.0f, 0.1f, 0.0f);
  EXPECT_EQ(w.VibPhase, 22900.0);  // initialisers leave it alone
  for (int i = 0; i < 3; ++i)
    WaveNext(w);
  // At this size a float could not even hold one 0.0002 step.
  EXPECT_EQ(w.VibPhase, ((22900.0 + 0.0002) + 0.0002) + 0.0002);
  WaveInitArc(w, t, 441.0f, 0.1f, 0.0f);
  EXPECT_EQ(w.VibPhase, ((22900.0 + 0.0002) + 0.0002) + 0.0002);
}

}  // namespace
}  // namespace quom
