// The sample bank: sizes, peaks, first samples, worked noise values, the borrowed attack, the
// generator state and progress it hands on, and a fingerprint of every buffer; the same bank from
// a plate builder in one stretch, from the fast plates, and from its pieces run on threads.
#include "voices/modSamples.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

#include "render/Engine.h"
#include "render/SampleBank.h"
#include "tests/TestUtil.h"

namespace quom {
namespace {

using test::MatchesDigits;

float Peak(const std::vector<float>& buf) {
  float m = 0.0f;
  for (float v : buf)
    m = std::max(m, std::fabs(v));
  return m;
}

// 64-bit FNV-1a over the float bits.
uint64_t Fingerprint(const std::vector<float>& buf) {
  uint64_t h = 14695981039346656037ull;
  for (float v : buf) {
    uint32_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    for (int b = 0; b < 4; ++b) {
      h ^= (bits >> (8 * b)) & 0xFF;
      h *= 1099511628211ull;
    }
  }
  return h;
}

// Passes when a and b are at most one float step apart.
::testing::AssertionResult WithinOneUlp(float a, float b) {
  if (a == b || std::nextafter(a, b) == b) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << a << " vs " << b;
}

// A fingerprint of each buffer as the bank is built today, so that a faster plate or a
// reordered builder cannot change a single bit unnoticed. The worked values of Contents pin the
// arithmetic; these pin everything else.
void ExpectBankFingerprints(const modSamples& s) {
  EXPECT_EQ(Fingerprint(s.SmpNoise), 1656408073380184365ull);
  EXPECT_EQ(Fingerprint(s.SmpKick), 8111448146774558168ull);
  EXPECT_EQ(Fingerprint(s.SmpPlateSmall), 6949570811918466422ull);
  EXPECT_EQ(Fingerprint(s.SmpPlateMid), 17683848674482931889ull);
  EXPECT_EQ(Fingerprint(s.SmpPlateBig), 10487366108108861611ull);
  EXPECT_EQ(Fingerprint(s.SmpPlateBigLow), 16783922205768061033ull);
}

// The notes continue from the last seed, advanced only by RndDiff.
void ExpectGeneratorsAfterTheBank(modTools t) {
  EXPECT_EQ(t.UniState, 4.365);
  EXPECT_EQ(t.BrownState, 2.0);
  EXPECT_EQ(t.BrownLevel, 0.0);
  EXPECT_TRUE(MatchesDigits(RndUniform(t), 0.47261, 5));
  EXPECT_TRUE(MatchesDigits(RndBrown(t), -0.13365, 5));
}

// Every progress total, in order.
struct ProgressLog : ProgressSink {
  std::vector<float>* totals;
  explicit ProgressLog(std::vector<float>* t) : totals(t) {}
  void Progress(float total) override { totals->push_back(total); }
};

// The totals the bank's calls make: 89 of 0.25, 59 of 1 and 147 of 2, added up in float.
std::vector<float> BankProgressTotals() {
  std::vector<float> totals;
  float total = 0.0f;
  for (const auto& [calls, units] : {std::pair{89, 0.25f}, {59, 1.0f}, {147, 2.0f}}) {
    for (int i = 0; i < calls; ++i)
      totals.push_back(total = total + units);
  }
  return totals;
}

// What BuildSamples leaves behind, with its progress reports.
struct BuiltBank {
  Engine engine;
  std::vector<float> progressTotals;
};

// Built at most once per process: it takes seconds.
const BuiltBank& Bank() {
  static const BuiltBank bank = [] {
    BuiltBank b;
    ProgressLog log(&b.progressTotals);
    b.engine.progress = &log;
    BuildSamples(b.engine);
    b.engine.progress = nullptr;
    return b;
  }();
  return bank;
}

// One test for everything that needs the real bank: ctest runs every test in a process of its
// own, and each would build the bank again.
TEST(SampleBank, Contents) {
  const BuiltBank& bank = Bank();
  const modSamples& s = bank.engine.samples;
  EXPECT_EQ(s.SmpNoise.size(), 32768u);
  EXPECT_EQ(s.SmpKick.size(), 16384u);
  EXPECT_EQ(s.SmpPlateSmall.size(), 90200u);
  EXPECT_EQ(s.SmpPlateMid.size(), 60000u);
  EXPECT_EQ(s.SmpPlateBig.size(), 150000u);
  EXPECT_EQ(s.SmpPlateBigLow.size(), 150000u);

  EXPECT_TRUE(WithinOneUlp(Peak(s.SmpKick), 0.6f));
  EXPECT_TRUE(WithinOneUlp(Peak(s.SmpPlateSmall), 0.45f));
  EXPECT_TRUE(WithinOneUlp(Peak(s.SmpPlateMid), 0.36f));

  // Their last fade-in starts at a factor of 0.
  EXPECT_EQ(s.SmpNoise[0], 0.0f);
  EXPECT_EQ(s.SmpKick[0], 0.0f);
  EXPECT_EQ(s.SmpPlateMid[0], 0.0f);
  // The big plates' own signal is 0 there; only the small plate's attack remains.
  const float attack0 = static_cast<float>((s.SmpPlateSmall[0] * 8000.0) * 0.00015);
  EXPECT_NE(attack0, 0.0f);
  EXPECT_EQ(s.SmpPlateBig[0], attack0);
  EXPECT_EQ(s.SmpPlateBigLow[0], attack0);

  // The brown draw comes before the uniform one, env is a float, then the fades.
  const std::vector<float>& n = s.SmpNoise;
  EXPECT_TRUE(MatchesDigits(n[1], -0.019896185));
  EXPECT_TRUE(MatchesDigits(n[2], 0.0318966545));
  EXPECT_TRUE(MatchesDigits(n[3], -0.0321701951));
  EXPECT_TRUE(MatchesDigits(n[20], -0.0157556776));
  EXPECT_TRUE(MatchesDigits(n[768], 0.0000412268382));
  EXPECT_TRUE(MatchesDigits(n[1000], 0.0000429644497));

  ExpectGeneratorsAfterTheBank(bank.engine.tools);

  EXPECT_EQ(bank.progressTotals, BankProgressTotals());
  EXPECT_EQ(bank.progressTotals.back(), 375.25f);
  EXPECT_EQ(bank.engine.gen.ProgressTotal, 375.25f);

  ExpectBankFingerprints(s);

  // The plan for the pieces draws the same stiffness maps and leaves the generators the same.
  Engine planned;
  planned.tools = modTools{1.5, 2.5, 3.5, 4.5, 0.0};  // all but DiffState are reseeded
  SampleBankPlan plan;
  PlanSamples(planned.tools, plan);
  EXPECT_EQ(std::memcmp(&planned.tools, &bank.engine.tools, sizeof(modTools)), 0);

  // BuildSamples records the plates 1,024 samples at a time; one stretch gives the same plate,
  // and the builder does nothing more once it is complete.
  modTools t;
  modSamples small;
  PlateRecording r;
  EXPECT_EQ(MakePlateSmall(t, small, r, 1 << 20), 90200);
  EXPECT_EQ(small.SmpPlateSmall, s.SmpPlateSmall);
  EXPECT_EQ(MakePlateSmall(t, small, r, 1024), 90200);
  EXPECT_EQ(small.SmpPlateSmall, s.SmpPlateSmall);
}

// The fast bank on every vector path, built on the calling thread.
TEST(SampleBank, FastPathsGiveTheSameBank) {
  for (SimdPath path : AvailableSimdPaths()) {
    if (path == SimdPath::kScalar) continue;  // that is PlateStep, as in Contents
    Engine e;
    std::vector<float> totals;
    ProgressLog log(&totals);
    e.progress = &log;
    BuildSamples(e, path);
    SCOPED_TRACE(SimdPathName(path));
    ExpectBankFingerprints(e.samples);
    ExpectGeneratorsAfterTheBank(e.tools);
    EXPECT_EQ(totals, BankProgressTotals());
  }
}

// The pieces on threads of their own, each plate in stretches of its own length.
TEST(SampleBank, PiecesOnThreadsGiveTheSameBank) {
  modTools tools;
  modSamples bank;
  SampleBankPlan plan;
  PlanSamples(tools, plan);
  EXPECT_THROW(FinishSamples(bank, plan), std::logic_error);  // nothing recorded yet
  EXPECT_EQ(RunPlateJob(plan.plates[kPlateMid], 0), 0);

  std::vector<std::thread> workers;
  for (int k = kBankPlates - 1; k >= 0; --k) {  // the big plate first: any order will do
    workers.emplace_back([&plan, k] {
      const int32_t stretch = 1000 + 3077 * k;
      PlateJob& job = plan.plates[k];
      int32_t recorded = 0;
      while (recorded < PlateLength(static_cast<BankPlate>(k))) {
        const int32_t now = RunPlateJob(job, stretch);
        EXPECT_EQ(now, std::min(recorded + stretch, PlateLength(static_cast<BankPlate>(k))));
        recorded = now;
      }
      EXPECT_EQ(RunPlateJob(job, stretch), recorded);  // complete: nothing more to record
    });
  }
  workers.emplace_back([&bank] {
    MakeNoiseBuffer(bank.SmpNoise);
    MakeKickBuffer(bank.SmpKick);
  });
  for (std::thread& t : workers)
    t.join();
  FinishSamples(bank, plan);

  ExpectBankFingerprints(bank);
  ExpectGeneratorsAfterTheBank(tools);
}

TEST(SampleBank, AttackBlendReadsTheNearestSampleTiesToEven) {
  std::vector<float> small(90200);
  for (size_t k = 0; k < small.size(); ++k)
    small[k] = static_cast<float>(k);
  std::vector<float> fast(150000, 0.0f);
  std::vector<float> slow(150000, 0.25f);
  AttackBlend(fast, small, 0.8);
  AttackBlend(slow, small, 0.7);
  // Weight (8,000 - i) * 0.00015; index round(i * speed).
  EXPECT_EQ(fast[0], 0.0f);
  EXPECT_EQ(slow[0], 0.25f);
  EXPECT_EQ(fast[5], static_cast<float>((4.0 * 7995) * 0.00015));           // 5 * 0.8 = 4
  EXPECT_EQ(slow[5], static_cast<float>((4.0 * 7995) * 0.00015 + 0.25));    // 3.5 -> 4
  EXPECT_EQ(slow[15], static_cast<float>((10.0 * 7985) * 0.00015 + 0.25));  // 10.5 -> 10
  EXPECT_EQ(fast[7999], static_cast<float>((6399.0 * 1) * 0.00015));
  EXPECT_EQ(fast[8000], 0.0f);  // the blend stops after 8,000 samples

  std::vector<float> tooShort(6000);
  EXPECT_THROW(AttackBlend(fast, tooShort, 0.8), std::logic_error);
  modTools t;
  modSamples s;
  PlateRecording r;
  EXPECT_THROW(MakePlateBig(t, s, r, 1), std::logic_error);  // the small plate is not there yet
}

}  // namespace
}  // namespace quom
