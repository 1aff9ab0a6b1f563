// The fast vibrato and block oscillator against the one-call-at-a-time reference.
#include "units/Vibrato.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "tests/TestUtil.h"
#include "units/modString.h"

namespace quom {
namespace {

// Over the whole range the fast path uses it, against this platform's C library: a library whose
// sine strays further fails here before any bend comes out otherwise.
TEST(Vibrato, SinApproxStaysWithinItsBound) {
  double worst = 0.0, at = 0.0;
  for (double x = 0.0; x < kSinApproxLimit; x += 0.0370370367) {
    const double error = std::fabs(SinApprox(x) - std::sin(x));
    if (error > worst) worst = error, at = x;
  }
  EXPECT_LT(worst, kSinApproxError / 2) << "at " << at;
}

// Bends over long runs of phases, compared with one library call per phase.
void ExpectBendsMatch(double start, int32_t count) {
  for (SimdPath path : test::PathsToCheck()) {
    SCOPED_TRACE(SimdPathName(path));
    std::vector<double> fast(count);
    double end = start;
    for (int32_t done = 0; done < count; done += 1000) {  // in runs, as the oscillator asks
      end = VibratoBends(end, fast.data() + done, std::min(1000, count - done), path);
    }
    double v = start;
    for (int32_t i = 0; i < count; ++i) {
      ASSERT_EQ(fast[i], VibratoBend(v)) << "call " << i << " from " << start;
      v = v + kVibratoStep;
    }
    EXPECT_EQ(end, v);
  }
}

// The phases checked stay within what a render reaches: the vibrato turns 0.0002 rad per
// oscillator call and a list may play at most 10^9 voice samples (render/Budget.h), each one
// call, or two in a cubic layer, so no render passes 2 * 10^9 * 0.0002 = 400,000 rad (the
// rounding of the additions adds less than 0.1 rad).
TEST(Vibrato, BendsEqualTheLibraryAcrossBinades) {
  ExpectBendsMatch(0.0, 300000);        // from program start, through many small binades
  ExpectBendsMatch(0.9999, 100000);     // across 1
  ExpectBendsMatch(16383.99, 200000);   // across 16384
  ExpectBendsMatch(22900.123, 100000);  // where a two-minute piece ends
  ExpectBendsMatch(3000.3, 2000000);    // a long run of rotated sines
  ExpectBendsMatch(65535.99, 200000);   // across 65536, into the fast sine's last binade
  ExpectBendsMatch(131071.99, 100000);  // past the fast sine's range
  ExpectBendsMatch(399990.0, 50000);    // the furthest a render reaches
}

TEST(Vibrato, AdvanceEqualsRepeatedAddition) {
  double v = 0.0;
  int64_t done = 0;
  // Uneven jumps across the whole range of a long piece, checked at every landing point.
  for (int64_t jump :
       {1, 2, 3, 7, 1000, 65536, 99991, 1234567, 5000000, 20000000, 50000000, 10000000}) {
    double reference = v;
    for (int64_t i = 0; i < jump; ++i)
      reference = reference + kVibratoStep;
    const double fast = VibratoAdvance(v, jump);
    ASSERT_EQ(fast, reference) << "after " << done + jump << " calls";
    v = fast;
    done += jump;
  }
  EXPECT_GT(v, 16384.0);
}

TEST(Vibrato, RunsEndAtTheEdgeOfTheirBinade) {
  // Phases on a power of two and a step or less below it: the first run of phases added at once
  // holds none to two of them, and the next starts in the binade above, its step rounded another
  // way.
  for (int e : {-10, -4, 0, 3, 14}) {
    const double edge = std::ldexp(1.0, e);
    for (double start :
         {edge - 2 * kVibratoStep, edge - kVibratoStep, std::nextafter(edge - kVibratoStep, 0.0),
          std::nextafter(edge, 0.0), edge}) {
      SCOPED_TRACE(start);
      double reference = start;
      for (int64_t calls = 1; calls <= 5; ++calls) {
        reference = reference + kVibratoStep;
        ASSERT_EQ(VibratoAdvance(start, calls), reference) << calls << " calls";
      }
      ExpectBendsMatch(start, 40);
    }
  }
}

TEST(Vibrato, BlockOscillatorMatchesSingleCalls) {
  for (double vib : {0.0, 0.5, 12345.6789}) {
    for (float freq : {27.5f, 441.0f, 3520.0f, 30000.0f}) {
      SCOPED_TRACE(freq);
      modString a, b;
      modTools ta, tb;
      a.VibPhase = b.VibPhase = vib;
      WaveInitArc(a, ta, freq, 0.5f, 0.2f);
      WaveInitArc(b, tb, freq, 0.5f, 0.2f);
      std::vector<float> block(70001);
      WaveNextBlock(b, block.data(), 70001);
      for (int i = 0; i < 70001; ++i)
        ASSERT_EQ(WaveNext(a), block[i]) << i;
      EXPECT_EQ(a.VibPhase, b.VibPhase);
      EXPECT_EQ(a.WavePhase, b.WavePhase);
      EXPECT_EQ(a.WaveDiffPos, b.WaveDiffPos);
      for (int i = 0; i < 128; ++i)
        ASSERT_EQ(a.WaveTable[i], b.WaveTable[i]);
    }
  }
}

}  // namespace
}  // namespace quom
