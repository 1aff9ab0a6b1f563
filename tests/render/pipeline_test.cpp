// The bank and the notes on the task pool: the bank's progress calls in the literal order however
// the plates advance, and a progress sink that gives up in each stage, with one and with several
// workers. (The golden tests check the bits and the whole sequence of progress calls.)
#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>
#include <vector>

#include "render/Engine.h"
#include "render/SampleBank.h"
#include "render/Synthesize.h"
#include "tests/TestScores.h"

namespace quom {
namespace {

struct CountingSink : ProgressSink {
  std::vector<float> totals;
  void Progress(float total) override { totals.push_back(total); }
};

TEST(Pipeline, BankProgressFollowsThePlatesInTheirOrder) {
  Engine e;
  CountingSink sink;
  e.progress = &sink;
  BankProgress progress;
  EXPECT_EQ(BankProgress::Calls(), 89 + 59 + 147);
  // The later plates are ahead: nothing is due until the small plate has a sample.
  EXPECT_FALSE(progress.Report(e, {0, 60000, 150000}));
  EXPECT_TRUE(sink.totals.empty());
  EXPECT_FALSE(progress.Report(e, {1, 60000, 150000}));
  EXPECT_EQ(sink.totals, std::vector<float>{0.25f});
  EXPECT_FALSE(progress.Report(e, {1025, 0, 0}));  // the call after sample 1,024
  EXPECT_EQ(progress.Made(), 2);
  // The small plate complete: the mid plate's calls follow, the big plate's wait for them.
  EXPECT_FALSE(progress.Report(e, {90200, 1024, 150000}));
  EXPECT_EQ(progress.Made(), 89 + 1);
  EXPECT_EQ(sink.totals.back(), 22.25f + 1.0f);
  EXPECT_TRUE(progress.Report(e, {90200, 60000, 150000}));
  EXPECT_EQ(progress.Made(), BankProgress::Calls());
  EXPECT_EQ(e.gen.ProgressTotal, 375.25f);
  EXPECT_TRUE(progress.Report(e, {90200, 60000, 150000}));  // nothing more
  EXPECT_EQ(sink.totals.size(), static_cast<size_t>(BankProgress::Calls()));
}

// Throws at the n-th new total and counts every call after it, which there must be none of.
struct GiveUp : ProgressSink {
  explicit GiveUp(int n) : at(n) {}
  int at;
  int made = 0;
  int after = 0;
  float last = 0.0f;  // the total before the first call
  void Progress(float total) override {
    if (made == at) {
      ++after;
      return;
    }
    if (total != last) ++made;  // not a call that only says the caller is still waiting
    last = total;
    if (made == at) throw std::runtime_error("closed");
  }
};

TEST(Pipeline, ASinkThatGivesUpStopsEveryStage) {
  // 295 calls for the bank, 16 for the notes, 61 for the reverb: the first call, one in the
  // mid plate's, one in the notes', one in the reverb's, with one, two and three workers.
  const std::vector<NoteRec> notes = test::AllInstrumentsScore();
  const struct { int at, threads; } cases[] = {{1, 3}, {150, 1}, {300, 3}, {320, 2}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "call " << c.at << ", " << c.threads << " workers");
    Engine e;
    GiveUp sink(c.at);
    e.progress = &sink;
    RenderOptions options;
    options.threads = c.threads;
    EXPECT_THROW(Synthesize(e, notes, nullptr, options), std::runtime_error);
    EXPECT_EQ(sink.made, c.at);
    EXPECT_EQ(sink.after, 0);
  }
}

}  // namespace
}  // namespace quom
