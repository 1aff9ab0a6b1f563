// The reverb as a stage: frame by frame against a lap at a time on the task pool, with one, two
// and three workers: the bus, the frames handed on as the rounds finish, the progress calls and
// the generators; and a progress sink or a receiver of frames that gives up.
#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <thread>
#include <vector>

#include "render/Engine.h"
#include "render/Reverb.h"

namespace quom {
namespace {

// Every new total in order, leaving out the calls that only say the caller is still waiting;
// and whether any call came from another thread than the one that made the sink.
struct ProgressLog : ProgressSink {
  std::vector<float> totals;
  std::thread::id owner = std::this_thread::get_id();
  bool elsewhere = false;
  void Progress(float total) override {
    elsewhere = elsewhere || std::this_thread::get_id() != owner;
    if (total != (totals.empty() ? 0.0f : totals.back())) totals.push_back(total);
  }
};

bool SameBits(const std::vector<MixFrame>& a, const std::vector<MixFrame>& b) {
  return a.size() == b.size() &&
         (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(MixFrame)) == 0);
}

std::vector<MixFrame> Bus(int32_t n) {
  std::vector<MixFrame> bus(static_cast<size_t>(n));
  for (int32_t i = 0; i < n; ++i) {
    bus[i].L = 0.001f * static_cast<float>(i % 97) - 0.03f;
    bus[i].R = i % 89 == 5 ? -0.0f : -0.002f * static_cast<float>(i % 89) + 0.05f;
    bus[i].Send = (i / 7000) % 4 == 3 ? 0.0f : static_cast<float>((i * 37) % 19 - 9) * 0.01f;
  }
  return bus;
}

TEST(ReverbStage, LapsOnThePoolMatchFrameByFrame) {
  // No frame fed, one, a round and a bit, more than two rounds ending inside a lap.
  for (const int32_t n : {0, 8191, 8 * 8192 + 1, 2 * 8 * 8192 + 3 * 8192 + 1234}) {
    Engine literal;
    literal.gen.MixBuf = Bus(n);
    literal.gen.MixLen = n;
    ProgressLog literalLog;
    literal.progress = &literalLog;
    ReverbFrameByFrame(literal);

    for (SimdPath path : AvailableSimdPaths()) {
      for (int threads : {1, 2, 3}) {
        SCOPED_TRACE(testing::Message() << "MixLen " << n << ", " << SimdPathName(path) << ", "
                                        << threads << " workers");
        Engine e;
        e.gen.MixBuf = Bus(n);
        e.gen.MixLen = n;
        RndSeed(e.tools, 0.5);  // whatever came before, the taps come from the seed 13
        ProgressLog log;
        e.progress = &log;
        // The frames as they stand when they are handed on, which must be final, in order.
        std::vector<MixFrame> handed;
        bool onCaller = true;
        TaskPool pool(threads);
        ReverbByLaps(e, pool, path, [&](int32_t from, int32_t to) {
          onCaller = onCaller && std::this_thread::get_id() == log.owner;
          ASSERT_EQ(static_cast<size_t>(from), handed.size());
          ASSERT_LE(to, n);
          handed.insert(handed.end(), e.gen.MixBuf.begin() + from, e.gen.MixBuf.begin() + to);
        });
        EXPECT_TRUE(SameBits(handed, literal.gen.MixBuf));
        EXPECT_TRUE(onCaller);
        EXPECT_TRUE(SameBits(e.gen.MixBuf, literal.gen.MixBuf));
        EXPECT_EQ(log.totals, literalLog.totals);
        EXPECT_FALSE(log.elsewhere);
        EXPECT_EQ(e.gen.ProgressTotal, literal.gen.ProgressTotal);
        EXPECT_EQ(std::memcmp(&e.tools, &literal.tools, sizeof(modTools)), 0);
      }
    }
  }
}

TEST(ReverbStage, AProgressSinkThatThrowsStopsTheWorkers) {
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
    TaskPool pool(threads);
    EXPECT_THROW(ReverbByLaps(e, pool, BestSimdPath()), std::runtime_error);
    EXPECT_EQ(sink.calls, 70);
  }
}

TEST(ReverbStage, FramesHandedOnThatThrowStopTheWorkers) {
  for (int threads : {1, 2}) {
    Engine e;
    e.gen.MixLen = 40 * 8192;  // five rounds
    e.gen.MixBuf.assign(static_cast<size_t>(e.gen.MixLen), MixFrame{0.0f, 0.0f, 0.25f});
    int calls = 0;
    TaskPool pool(threads);
    EXPECT_THROW(ReverbByLaps(e, pool, BestSimdPath(),
                              [&](int32_t, int32_t) {
                                if (++calls == 2) throw std::runtime_error("full");
                              }),
                 std::runtime_error);
    EXPECT_EQ(calls, 2);
  }
}

}  // namespace
}  // namespace quom
