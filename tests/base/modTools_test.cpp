// The noise generators against their published sequences.
#include "base/modTools.h"

#include <gtest/gtest.h>

#include <cmath>
#include <utility>

#include "tests/TestUtil.h"

namespace quom {
namespace {

using test::MatchesDecimals;

struct SeedRow {
  double seed;
  double diffPrev;
  double uniform[5];
  double brown[5];
};

const SeedRow kSeedTable[] = {
    {0,
     0.737,
     {0.019418000, 0.018515252, 0.959329041, 0.137558360, 0.941751685},
     {0.234630000, -0.243492480, -0.717727456, -0.255814430, -0.612073510}},
    {2,
     0.365,
     {0.472610000, 0.556009540, 0.921596536, 0.971977848, 0.236178892},
     {-0.133650000, -0.159429600, -0.102385859, 0.316018569, 0.780116453}},
    {13,
     0.819,
     {0.465166000, 0.512228124, 0.714067755, 0.061285030, 0.855528529},
     {0.315810000, 0.278166240, 0.287490420, 0.496542594, 0.057249347}},
};

TEST(Generators, SeedTableUniformAndBrown) {
  for (const SeedRow& row : kSeedTable) {
    SCOPED_TRACE(row.seed);
    modTools t;
    RndSeed(t, row.seed);
    EXPECT_TRUE(MatchesDecimals(t.DiffPrev, row.diffPrev, 9));
    EXPECT_EQ(t.BrownLevel, 0.0);
    EXPECT_EQ(t.BrownState, row.seed);
    for (double expected : row.uniform)
      EXPECT_TRUE(MatchesDecimals(RndUniform(t), expected, 9));

    modTools b;
    RndSeed(b, row.seed);
    for (double expected : row.brown)
      EXPECT_TRUE(MatchesDecimals(RndBrown(b), expected, 9));
  }
}

TEST(Generators, DiffSequenceFollowsItsOwnStateAcrossSeeds) {
  const double afterSeed0[] = {0.0, -0.717582000, -0.000902748, 0.940813789, -0.821770681};
  modTools t;
  RndSeed(t, 0);
  EXPECT_EQ(RndDiff(t), 0.0);  // 1.737's fraction equals the DiffPrev the seed set
  for (int i = 1; i < 5; ++i)
    EXPECT_TRUE(MatchesDecimals(RndDiff(t), afterSeed0[i], 9));

  // Seeding 2 or 13 changes only the first difference: DiffState is never reseeded.
  for (auto [seed, first] : {std::pair{2.0, 0.372}, std::pair{13.0, -0.082}}) {
    SCOPED_TRACE(seed);
    modTools s;
    RndSeed(s, seed);
    EXPECT_TRUE(MatchesDecimals(RndDiff(s), first, 9));
    for (int i = 1; i < 5; ++i)
      EXPECT_TRUE(MatchesDecimals(RndDiff(s), afterSeed0[i], 9));
  }
}

TEST(Generators, FirstFoldOnTheFortyFourthUniformDraw) {
  modTools t;
  RndSeed(t, 0);
  double previous = 0.0;
  for (int draw = 1; draw <= 43; ++draw) {
    RndUniform(t);
    ASSERT_GT(t.UniState, previous) << "folded early at draw " << draw;
    previous = t.UniState;
  }
  EXPECT_NEAR(t.UniState, 914247.144228383, 1e-9);
  EXPECT_NEAR(t.UniState * 1.314 + 1.737, 1201322.4845160951, 1e-9);
  RndUniform(t);  // the 44th draw folds
  EXPECT_NEAR(t.UniState, 377335.3923865055, 1e-9);
}

TEST(Generators, StateExactlyAtTheCeilingIsNotFolded) {
  constexpr double kCeiling = 983732.3456;
  // Walk the doubles around the pre-image of the ceiling until one steps onto it exactly.
  double s = (kCeiling - 1.737) / 1.314;
  for (int i = 0; i < 64 && s * 1.314 + 1.737 < kCeiling; ++i)
    s = std::nextafter(s, 1e9);
  for (int i = 0; i < 64 && s * 1.314 + 1.737 > kCeiling; ++i)
    s = std::nextafter(s, 0.0);
  ASSERT_EQ(s * 1.314 + 1.737, kCeiling);
  EXPECT_EQ(RndStep(s), kCeiling);
  const double above = std::nextafter(s, 1e9);
  EXPECT_EQ(RndStep(above), (above * 1.314 + 1.737) * 0.3141);
}

TEST(Generators, DrawsFromOneGeneratorLeaveTheOthersAlone) {
  modTools t;
  RndSeed(t, 2);
  const double* brown = kSeedTable[1].brown;
  for (int i = 0; i < 5; ++i) {
    RndUniform(t);
    RndDiff(t);
    EXPECT_TRUE(MatchesDecimals(RndBrown(t), brown[i], 9));
  }
}

TEST(Generators, ReseedingRestartsUniformAndBrownButNotDiff) {
  modTools t;
  RndSeed(t, 13);
  const double u1 = RndUniform(t);
  const double b1 = RndBrown(t);
  const double d1 = RndDiff(t);
  RndSeed(t, 13);
  EXPECT_EQ(RndUniform(t), u1);
  EXPECT_EQ(RndBrown(t), b1);
  EXPECT_NE(RndDiff(t), d1);
  EXPECT_EQ(t.DiffPrev != 0.0, true);
}

}  // namespace
}  // namespace quom
