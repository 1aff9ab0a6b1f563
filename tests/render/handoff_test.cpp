// The hand-offs between the pipeline's threads, under schedules forced with its hooks: a layer
// that finishes while another thread holds a lock the mixing needs must still be mixed, whichever
// section that thread is in. Each case holds a thread in one section until the last layer has
// been handed over (or, where the mixing may wait for that very thread, until it has been mixed),
// and lets the last layer go only while a thread is held there, after every other layer; the bus
// must then be the one an undisturbed render gives.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "render/Engine.h"
#include "render/NotePlan.h"
#include "render/Pipeline.h"
#include "render/PipelineRun.h"
#include "render/Synthesize.h"
#include "tests/TestScores.h"

namespace quom {
namespace {

using std::chrono::milliseconds;

// Long enough for the bank to finish on a loaded machine: a wait that runs out only means that
// the schedule the case wants was not reached, which the case then reports.
constexpr milliseconds kPatience{8000};
// How long the mixing holds its lock once the last layer's hand-off has begun: the hand-off either
// gives up at once (and says so) or waits for the lock.
constexpr milliseconds kGrace{50};

// Drum layers only: each is rendered and handed over on its own as soon as it is taken, so a
// runner holds at most one unfinished layer and the last layers can be made to finish on
// different threads.
std::vector<NoteRec> DrumScore() {
  std::vector<NoteRec> notes;
  const int keys[] = {36, 38, 61, 63, 59, 36, 38, 61, 69, 36};
  for (int i = 0; i < 10; ++i)
    notes.push_back({static_cast<int16_t>(2 * i), 1, static_cast<uint8_t>(keys[i]), 100, 127});
  return notes;
}

size_t LayerCount(std::span<const NoteRec> notes) {
  Engine e;
  return PlanSong(e, notes, kSecPerTick).layers.size();
}

// The hooks of one case. `held` is the section a thread is held in; the last layer is handed over
// only once a thread is held there (and, but for the three-thread case, every other layer has
// been handed over).
class ForcedSchedule {
 public:
  ForcedSchedule(HandOff held, size_t layers) : held_(held), last_(layers - 1) {}

  void At(HandOff at, size_t i) {
    std::unique_lock<std::mutex> lock(mutex_);
    const std::thread::id self = std::this_thread::get_id();
    switch (at) {
      case HandOff::kFirstRunners:
        // Runners may not get past their rooms yet: held a while, or until a layer is handed over.
        if (held_ == at) {
          const Clock::time_point start = Clock::now();
          Hold(lock, [&] { return anyHandedOver_ || Since(start) >= milliseconds(300); });
        }
        break;
      case HandOff::kTakeRoom:
        // The second runner, while the first renders every layer.
        if (held_ == at && ++rooms_ >= 2 && !lastHandedOver_) Hold(lock, [] { return false; });
        break;
      case HandOff::kEndCheck:
        if (held_ == HandOff::kMixing) {
          // The three-thread case: a runner whose hand-off has returned sits in its end check
          // until the thread that mixed has finished its own hand-off.
          if (mixer_ != std::thread::id() && !mixerDone_) Until(lock, [&] { return mixerDone_; });
        } else if (held_ == at && !lastHandedOver_) {
          Hold(lock, [] { return false; });
        }
        break;
      case HandOff::kMixing:
        if (i == last_) lastHandedOver_ = true;
        // The three-thread case: the thread that has mixed the layer before the last keeps the
        // mixing's lock while the last layer's hand-off begins.
        if (held_ == at && i + 1 == last_ && !lastHandedOver_) {
          mixer_ = self;
          Hold(lock, [&] { return lastFinishing_ && Since(lastFinishingAt_) >= kGrace; });
        }
        break;
      case HandOff::kLayerFinishing:
        if (i == last_ && held_ != HandOff::kFirstRunners) {
          reached_ = Until(lock, [&] {
            return holding_ > 0 && (held_ == HandOff::kMixing || finished_ == last_);
          });
          lastFinishing_ = true;
          lastFinishingAt_ = Clock::now();
        }
        break;
      case HandOff::kLayerFinished:
        if (i == last_) lastHandedOver_ = true;
        if (i != last_) ++finished_;
        anyHandedOver_ = true;
        if (self == mixer_) mixerDone_ = true;
        break;
    }
    changed_.notify_all();
  }

  // Whether the last layer was handed over while a thread was held in the section.
  bool Reached() {
    std::lock_guard<std::mutex> lock(mutex_);
    return reached_;
  }

 private:
  using Clock = std::chrono::steady_clock;
  static milliseconds Since(Clock::time_point t) {
    return std::chrono::duration_cast<milliseconds>(Clock::now() - t);
  }

  // Waits for `done`, at most kPatience; returns whether it came.
  template <typename Done>
  bool Until(std::unique_lock<std::mutex>& lock, Done done) {
    const Clock::time_point end = Clock::now() + kPatience;
    while (!done()) {
      // Short waits: the conditions on the clock have no notification of their own.
      changed_.wait_for(lock, milliseconds(2));
      if (Clock::now() >= end) return done();
    }
    return true;
  }

  // Holds this thread in its section until the last layer has been handed over, or `more`.
  template <typename More>
  void Hold(std::unique_lock<std::mutex>& lock, More more) {
    ++holding_;
    changed_.notify_all();
    Until(lock, [&] { return lastHandedOver_ || more(); });
    --holding_;
  }

  const HandOff held_;
  const size_t last_;
  std::mutex mutex_;
  std::condition_variable changed_;
  int rooms_ = 0;        // runners that have taken their room
  int holding_ = 0;      // threads held in the section
  size_t finished_ = 0;  // layers other than the last handed over
  bool anyHandedOver_ = false;
  bool reached_ = false;
  bool lastFinishing_ = false;
  Clock::time_point lastFinishingAt_;
  bool lastHandedOver_ = false;  // the last layer's hand-off has returned, or it is mixed
  std::thread::id mixer_;        // the three-thread case's thread that mixes
  bool mixerDone_ = false;
};

std::vector<MixFrame> Bus(std::span<const NoteRec> notes, int threads, ForcedSchedule* schedule) {
  Engine e;
  InitMix(e);
  TaskPool pool(threads);
  if (schedule) {
    BuildSamplesAndRenderSongHooked(e, notes, kSecPerTick, pool, {}, BestSimdPath(), -1, *schedule);
  } else {
    BuildSamplesAndRenderSong(e, notes, kSecPerTick, pool);
  }
  return e.gen.MixBuf;
}

bool SameBus(const std::vector<MixFrame>& a, const std::vector<MixFrame>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(MixFrame)) == 0;
}

TEST(HandOff, ALayerFinishedWhileAnotherThreadHoldsALockIsStillMixed) {
  const std::vector<NoteRec> notes = DrumScore();
  const std::vector<MixFrame> whole = Bus(notes, 2, nullptr);
  const struct {
    const char* what;
    HandOff held;
    std::vector<int> threads;
    bool forced;  // whether the last layer is handed over while a thread is held there
  } cases[] = {
      {"a runner taking its room", HandOff::kTakeRoom, {2, 3}, true},
      {"a runner in its end check", HandOff::kEndCheck, {2, 3}, true},
      {"the mixing, then a runner in its end check", HandOff::kMixing, {3}, true},
      // Held a while only: the last layer cannot be held back for it, as every runner starts
      // after the section.
      {"the calling thread starting the first runners", HandOff::kFirstRunners, {2}, false},
  };
  for (const auto& c : cases) {
    for (int threads : c.threads) {
      SCOPED_TRACE(testing::Message() << c.what << ", " << threads << " workers");
      ForcedSchedule schedule(c.held, LayerCount(notes));
      std::vector<MixFrame> bus;
      ASSERT_NO_THROW(bus = Bus(notes, threads, &schedule));
      EXPECT_TRUE(SameBus(bus, whole));
      if (c.forced) {
        EXPECT_TRUE(schedule.Reached()) << "the schedule was not forced";
      }
    }
  }
}

// A layer lost on the way is caught by the render's own count, on any number of workers (none:
// everything on the calling thread), instead of giving a quietly different piece.
TEST(Completeness, ALayerLeftUnmixedFailsTheRender) {
  const std::vector<NoteRec> notes = test::AllInstrumentsScore();
  const size_t layers = LayerCount(notes);
  for (int threads : {0, 1, 3}) {
    SCOPED_TRACE(testing::Message() << threads << " workers");
    Engine e;
    RenderOptions options;
    options.threads = threads;
    options.leaveOutLayer = 3;
    try {
      Synthesize(e, notes, nullptr, options);
      ADD_FAILURE() << "no error";
    } catch (const RenderIncomplete& error) {
      EXPECT_EQ(std::string(error.what()),
                "internal error: the render lost work: " + std::to_string(layers - 1) + " of " +
                    std::to_string(layers) + " layers mixed");
    }
  }
}

}  // namespace
}  // namespace quom
