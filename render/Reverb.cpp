// The reverb's rounds scheduled on the task pool, and its progress calls.
#include "render/Reverb.h"

#include <atomic>

#include "render/Completeness.h"
#include "render/ProgressCalls.h"
#include "units/reverb/ReverbLaps.h"
#include "units/reverb/modFXReverb.h"

namespace quom {

namespace {

// The rounds' pieces on the pool, shared by its workers and the calling thread, which does the
// round's own work beside them and then helps; the frames handed on and the progress calls on the
// calling thread.
class PoolRunner final : public ReverbLaps::Runner {
 public:
  PoolRunner(Engine& e, TaskPool& pool, const ReverbFramesDone& framesDone)
      : e_(e), pool_(pool), framesDone_(framesDone) {}

  void Run(int32_t count, const std::function<void(int32_t)>& piece,
           const std::function<void()>& beside) override {
    // Each piece is counted as it ends: the next step reads what all of them wrote.
    std::atomic<int32_t> done{0};
    TaskGroup group(pool_);
    group.SubmitEach(count, [&piece, &done](int32_t i) {
      piece(i);
      done.fetch_add(1, std::memory_order_relaxed);
    });
    beside();
    group.Wait([this] { StillWaiting(e_); }, true);
    CheckComplete(done.load(), count, "pieces of a reverb round");
  }

  void FramesFinal(int32_t from, int32_t to) override {
    CheckComplete(from, final_, "reverberated frames handed on");
    final_ = to;
    if (framesDone_) framesDone_(from, to);
  }

  void RoundDone(int32_t fed) override {
    for (const int32_t due = ProgressCallsDue(fed, kReverbProgressEvery); made_ < due; ++made_)
      ShowProgress(e_, kReverbProgressUnits);
  }

 private:
  Engine& e_;
  TaskPool& pool_;
  const ReverbFramesDone& framesDone_;
  int32_t made_ = 0;   // progress calls so far
  int32_t final_ = 0;  // the frames before it are final

 public:
  int32_t FinalFrames() const { return final_; }
};

}  // namespace

void ReverbFrameByFrame(Engine& e) {
  ReverbTaps taps;
  DrawReverbTaps(e.tools, taps);
  ReverbState r;
  ReverbStart(r, taps, e.gen.MixLen);
  // A call is due after frames 0, 1024, 2048 ...: one in each stretch of 1,024 frames.
  while (FxReverb(e.gen, r, kReverbProgressEvery) > 0)
    ShowProgress(e, kReverbProgressUnits);
}

void ReverbByLaps(Engine& e, TaskPool& pool, SimdPath path, const ReverbFramesDone& framesDone) {
  ReverbTaps taps;
  DrawReverbTaps(e.tools, taps);
  ReverbLaps laps(taps, path, FasterReverbRounding(path));
  PoolRunner runner(e, pool, framesDone);
  laps.Run(e.gen, runner);
  CheckComplete(runner.FinalFrames(), e.gen.MixLen, "reverberated frames handed on");
}

}  // namespace quom
