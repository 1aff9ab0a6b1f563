// The plate: set-up, the stiffness maps of the three bank plates, the first readings, the
// rattle and the damping point.
#include "units/plate/modPlate.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>

#include "tests/TestUtil.h"

namespace quom {
namespace {

using test::MatchesDigits;

double& At(std::vector<double>& a, const modPlate& p, int x, int y) {
  return a[y * p.PlateWidth + x];
}

// The three plates of the sample bank, set up in the bank's order from program-start generators.
struct BankPlates {
  modTools tools;
  modPlate small, mid, big;
  BankPlates() {
    RndSeed(tools, 2);
    PlateInit(small, tools, 2, 16, 16, 0.36, 0.00042, 0.2);
    RndSeed(tools, 2);
    PlateInit(mid, tools, 2, 16, 64, 0.345, 0.00026, 0.7);
    RndSeed(tools, 2);
    PlateInit(big, tools, 1, 32, 128, 1.0, 0.00063, 0.5);
  }
};

TEST(Plate, StateAfterInit) {
  BankPlates b;
  modPlate& p = b.small;
  EXPECT_EQ(p.PlateSteps, 2);
  EXPECT_EQ(p.PlateMaskX, 15);
  EXPECT_EQ(p.PlateMaskY, 15);
  EXPECT_EQ(p.PlateTension, 0.36);
  ASSERT_EQ(p.PlateDisp.size(), 256u);
  for (size_t c = 0; c < 256; ++c) {
    EXPECT_EQ(p.PlateDisp[c], 0.0);
    if (c != 0 && c != 8 * 16 + 8) {
      EXPECT_EQ(p.PlateVel[c], 0.0) << c;
    }
    EXPECT_GE(p.PlateK[c], 0.36 * 0.8);
    EXPECT_LE(p.PlateK[c], 0.36 * 1.2);
  }
  EXPECT_EQ(At(p.PlateVel, p, 0, 0), 10.0);
  EXPECT_EQ(At(p.PlateVel, p, 8, 8), -10.0);
  EXPECT_EQ(At(p.PlateK, p, 0, 0), 0.36);
  EXPECT_EQ(At(p.PlateK, p, 8, 8), 0.36);
  EXPECT_EQ(At(p.PlateK, p, 1, 8), 0.36);
  EXPECT_EQ(At(p.PlateK, p, 8, 1), 0.36);

  EXPECT_TRUE(MatchesDigits(p.PlateKeep, 0.9999496504, 10));
  EXPECT_TRUE(MatchesDigits(p.PlateSpread, 0.0000125874, 6));
  EXPECT_TRUE(MatchesDigits(b.big.PlateKeep, 0.99979021, 8));
  EXPECT_TRUE(MatchesDigits(b.big.PlateSpread, 0.0000524475, 6));
}

TEST(Plate, StiffnessMapsFollowTheBankOrder) {
  BankPlates b;
  EXPECT_TRUE(MatchesDigits(At(b.small.PlateK, b.small, 1, 0), 0.308334096));
  EXPECT_TRUE(MatchesDigits(At(b.small.PlateK, b.small, 2, 0), 0.359935002));
  EXPECT_TRUE(MatchesDigits(At(b.small.PlateK, b.small, 3, 0), 0.427738593));
  EXPECT_TRUE(MatchesDigits(At(b.mid.PlateK, b.mid, 1, 0), 0.509954133));
  EXPECT_TRUE(MatchesDigits(At(b.mid.PlateK, b.mid, 2, 0), 0.343916731));
  EXPECT_TRUE(MatchesDigits(At(b.mid.PlateK, b.mid, 3, 0), 0.177424584));
  EXPECT_EQ(At(b.mid.PlateK, b.mid, 0, 0), 0.345);
  EXPECT_TRUE(MatchesDigits(At(b.big.PlateK, b.big, 1, 0), 0.866392246));
  EXPECT_TRUE(MatchesDigits(At(b.big.PlateK, b.big, 2, 0), 1.23390266));
  EXPECT_TRUE(MatchesDigits(At(b.big.PlateK, b.big, 3, 0), 1.04588485));
  EXPECT_EQ(At(b.big.PlateK, b.big, 0, 0), 1.0);

  // The same arguments again: RndDiff runs on, so the map differs.
  modPlate again;
  RndSeed(b.tools, 2);
  PlateInit(again, b.tools, 2, 16, 16, 0.36, 0.00042, 0.2);
  EXPECT_NE(again.PlateK, b.small.PlateK);
}

TEST(Plate, FirstReadings) {
  BankPlates b;
  // The in-place smoothing pass carries a trace of each strike across the grid in one pass,
  // hence the tiny non-zero first readings.
  const double expected[] = {4.38810771e-38, -2.02144931e-22, -1.34187158e-13,
                             -4.53097031e-7, -4.02661264e-5,  -0.000691437544};
  for (int call = 1; call <= 101; ++call) {
    const double v = PlateStep(b.small, 0.5f);
    if (call <= 6) {
      EXPECT_TRUE(MatchesDigits(v, expected[call - 1])) << "call " << call;
    } else if (call == 11) {
      EXPECT_TRUE(MatchesDigits(v, -0.54647706, 8));
    } else if (call == 101) {
      EXPECT_TRUE(MatchesDigits(v, -0.260676058));
    }
  }
  double v = 0.0;
  for (int call = 1; call <= 12; ++call)
    v = PlateStep(b.mid, 100.0f);
  EXPECT_TRUE(MatchesDigits(v, -0.765198916));
  for (int call = 1; call <= 30; ++call)
    v = PlateStep(b.big, 1000.0f);
  EXPECT_TRUE(MatchesDigits(v, -0.328172843));
}

TEST(Plate, TwoStepsPerCallAreTwoSingleSteps) {
  BankPlates b;
  modPlate single = b.small;
  single.PlateSteps = 1;
  for (int i = 0; i < 5; ++i) {
    const double two = PlateStep(b.small, 0.5f);
    PlateStep(single, 0.5f);
    EXPECT_EQ(two, PlateStep(single, 0.5f));
  }
  EXPECT_EQ(single.PlateDisp, b.small.PlateDisp);
  EXPECT_EQ(single.PlateVel, b.small.PlateVel);
}

// A 16 x 16 plate whose passes leave the velocity alone (zero stiffness, no smoothing), so that
// one step only moves each cell by its velocity, then rattles and damps.
modPlate StillPlate() {
  modTools t;
  modPlate p;
  PlateInit(p, t, 1, 16, 16, 1.0, 0.0, 0.0);
  std::fill(p.PlateVel.begin(), p.PlateVel.end(), 0.0);
  std::fill(p.PlateK.begin(), p.PlateK.end(), 0.0);
  EXPECT_EQ(p.PlateKeep, 1.0);
  EXPECT_EQ(p.PlateSpread, 0.0);
  return p;
}

TEST(Plate, RattleAndDampingPoint) {
  modPlate p = StillPlate();
  auto set = [&](int x, int y, double d, double v) {
    At(p.PlateDisp, p, x, y) = d;
    At(p.PlateVel, p, x, y) = v;
  };
  set(0, 0, 0.25, 0.25);    // lands exactly on +threshold: no bounce
  set(4, 0, 0.5, 0.25);     // past +threshold, moving out: bounces
  set(8, 0, 1.0, 0.0);      // past, at rest: no bounce
  set(12, 0, -1.0, -0.25);  // past -threshold, moving out: bounces
  set(2, 0, 1.0, 0.25);     // not a rattle cell
  set(4, 1, 1.0, 0.25);     // row 1 never rattles
  set(1, 1, 1.0, 0.0);      // the damping point
  set(1, 8, 0.5, 0.25);     // the pick-up cell
  EXPECT_EQ(PlateStep(p, 0.5f), 0.75);
  EXPECT_EQ(At(p.PlateVel, p, 0, 0), 0.25);
  EXPECT_EQ(At(p.PlateVel, p, 4, 0), -0.125);
  EXPECT_EQ(At(p.PlateVel, p, 8, 0), 0.0);
  EXPECT_EQ(At(p.PlateVel, p, 12, 0), 0.125);
  EXPECT_EQ(At(p.PlateVel, p, 2, 0), 0.25);
  EXPECT_EQ(At(p.PlateVel, p, 4, 1), 0.25);
  EXPECT_EQ(At(p.PlateDisp, p, 4, 0), 0.75);  // the rattle leaves the displacement alone
  EXPECT_EQ(At(p.PlateDisp, p, 1, 1), 0.5);

  modPlate q = StillPlate();
  At(q.PlateDisp, q, 0, 0) = 1.0;  // past +threshold but moving back
  At(q.PlateVel, q, 0, 0) = -0.25;
  At(q.PlateDisp, q, 4, 0) = -1.0;  // past -threshold but moving back
  At(q.PlateVel, q, 4, 0) = 0.25;
  At(q.PlateDisp, q, 8, 0) = -0.25;  // lands exactly on -threshold
  At(q.PlateVel, q, 8, 0) = -0.25;
  PlateStep(q, 0.5f);
  EXPECT_EQ(At(q.PlateVel, q, 0, 0), -0.25);
  EXPECT_EQ(At(q.PlateVel, q, 4, 0), 0.25);
  EXPECT_EQ(At(q.PlateVel, q, 8, 0), -0.25);
}

TEST(Plate, NoStepsOnlyReadsAndBadSizesAreRejected) {
  modTools t;
  modPlate p;
  EXPECT_EQ(PlateStep(p, 0.5f), 0.0);  // never initialised
  PlateInit(p, t, 0, 16, 16, 0.36, 0.00042, 0.2);
  At(p.PlateDisp, p, 1, 8) = 3.5;
  const modPlate before = p;
  EXPECT_EQ(PlateStep(p, 0.5f), 3.5);
  EXPECT_EQ(p.PlateVel, before.PlateVel);
  EXPECT_EQ(p.PlateDisp, before.PlateDisp);

  const modTools untouched = t;
  EXPECT_THROW(PlateInit(p, t, 1, 12, 16, 1.0, 0.0, 0.0), std::invalid_argument);
  EXPECT_THROW(PlateInit(p, t, 1, 16, 24, 1.0, 0.0, 0.0), std::invalid_argument);
  EXPECT_THROW(PlateInit(p, t, 1, 2, 16, 1.0, 0.0, 0.0), std::invalid_argument);
  EXPECT_THROW(PlateInit(p, t, 1, 16, 1, 1.0, 0.0, 0.0), std::invalid_argument);
  EXPECT_THROW(PlateInit(p, t, 1, 0, 16, 1.0, 0.0, 0.0), std::invalid_argument);
  EXPECT_EQ(t.DiffState, untouched.DiffState);  // nothing drawn for a rejected plate
  EXPECT_EQ(p.PlateWidth, 16);                  // and the old plate is kept
}

}  // namespace
}  // namespace quom
