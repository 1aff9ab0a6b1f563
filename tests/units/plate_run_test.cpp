// PlateRun against PlateStep, bit for bit: every vector path this machine has, the bank's plates
// and other shapes, one and two steps per sample, runs in pieces, and the plate left behind.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "units/plate/modPlate.h"

namespace quom {
namespace {

struct Shape {
  int32_t steps, width, height;
  double tension, loss, irregularity;
  float threshold;
  int32_t samples;
};

bool SameBits(const std::vector<double>& a, const std::vector<double>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

// PlateStep on one copy of the plate and PlateRun, in three stretches, on another for every path.
// Returns how often a rattle cell was past the threshold after a PlateStep call, so that a test
// can make sure the rattle was exercised.
int ExpectSameAsPlateStep(const Shape& s, double seed) {
  modTools tools;
  RndSeed(tools, seed);
  modPlate start;
  PlateInit(start, tools, s.steps, s.width, s.height, s.tension, s.loss, s.irregularity);

  modPlate literal = start;
  std::vector<double> expected(s.samples);
  int pastThreshold = 0;
  for (int32_t i = 0; i < s.samples; ++i) {
    expected[i] = PlateStep(literal, s.threshold);
    for (int32_t x = 0; x < s.width; x += s.width / 4)
      pastThreshold += std::fabs(literal.PlateDisp[x]) > s.threshold;
  }

  const std::string what = std::to_string(s.width) + "x" + std::to_string(s.height) + ", " +
                           std::to_string(s.steps) + " steps";
  for (SimdPath path : AvailableSimdPaths()) {
    modPlate p = start;
    std::vector<double> got(s.samples);
    const int32_t first = s.samples / 3;
    PlateRun(p, s.threshold, got.data(), 1, path);
    PlateRun(p, s.threshold, got.data() + 1, first - 1, path);
    PlateRun(p, s.threshold, got.data() + first, s.samples - first, path);
    EXPECT_TRUE(SameBits(got, expected)) << what << " on " << SimdPathName(path);
    EXPECT_TRUE(SameBits(p.PlateDisp, literal.PlateDisp)) << what << " on " << SimdPathName(path);
    EXPECT_TRUE(SameBits(p.PlateVel, literal.PlateVel)) << what << " on " << SimdPathName(path);
  }
  return pastThreshold;
}

TEST(PlateRun, MatchesPlateStepOnTheBankPlates) {
  // The small plate rattles from its second sample on; the other two never reach theirs.
  EXPECT_GT(ExpectSameAsPlateStep({2, 16, 16, 0.36, 0.00042, 0.2, 0.5f, 3000}, 2.0), 0);
  ExpectSameAsPlateStep({2, 16, 64, 0.345, 0.00026, 0.7, 100.0f, 1500}, 2.0);
  ExpectSameAsPlateStep({1, 32, 128, 1.0, 0.00063, 0.5, 1000.0f, 1000}, 2.0);
}

TEST(PlateRun, MatchesPlateStepOnOtherShapes) {
  // Shapes where a slot holds one block of rows, several, or the whole grid; narrow and wide;
  // low thresholds, so that the rattle comes into play. 64 x 16 and 128 x 32 give four vectors to
  // a slot at the two widest widths.
  const Shape shapes[] = {
      {1, 4, 2, 0.3, 0.001, 0.5, 0.01f, 3000},   {2, 8, 4, 0.3, 0.002, 0.6, 0.02f, 3000},
      {1, 16, 8, 0.5, 0.001, 0.4, 0.05f, 2000},  {2, 64, 16, 0.4, 0.0005, 0.3, 0.1f, 600},
      {1, 4, 64, 0.35, 0.0003, 0.7, 0.2f, 2000}, {2, 32, 4, 0.45, 0.001, 0.5, 0.05f, 1500},
      {1, 128, 2, 0.5, 0.001, 0.5, 0.05f, 800},  {2, 16, 32, 0.2, 0.0001, 0.9, 0.1f, 1500},
      {1, 128, 32, 0.5, 0.001, 0.5, 0.05f, 400},
  };
  for (const Shape& s : shapes)
    EXPECT_GT(ExpectSameAsPlateStep(s, 0.75), 0) << s.width << "x" << s.height;
}

TEST(PlateRun, MatchesPlateStepOnEveryShapeUpTo128) {
  // Every vector width meets plates of one block of rows (each slot partly filled at one end of
  // the sweep or the other), of two (no whole rows between the two ends) and of many, with one,
  // two and four vectors to a slot. A low threshold brings the rattle in.
  int32_t shapes = 0;
  for (int32_t width = 4; width <= 128; width *= 2) {
    for (int32_t height = 2; height <= 128; height *= 2) {
      const int32_t steps = 1 + shapes++ % 2;
      ExpectSameAsPlateStep({steps, width, height, 0.45, 0.001, 0.6, 0.02f, 48}, 0.25);
    }
  }
}

TEST(PlateRun, EmptyRunsPlatesWithoutStepsAndUnsetPlates) {
  modTools tools;
  RndSeed(tools, 1.0);
  modPlate p;
  PlateInit(p, tools, 0, 8, 8, 0.3, 0.001, 0.5);
  p.PlateDisp[4 * 8 + 1] = 0.25;  // the pick-up cell
  for (SimdPath path : AvailableSimdPaths()) {
    double out[3] = {-1.0, -1.0, -1.0};
    PlateRun(p, 0.1f, out, 0, path);
    EXPECT_EQ(out[0], -1.0);
    PlateRun(p, 0.1f, out, 3, path);  // no steps: the pick-up cell as it is
    EXPECT_EQ(out[2], 0.25);
    modPlate unset;
    PlateRun(unset, 0.1f, out, 3, path);
    EXPECT_EQ(out[1], 0.0);
  }
}

}  // namespace
}  // namespace quom
