// The reverb's rounds scheduled on the task pool, and its progress calls.
#include "render/Reverb.h"

#include <algorithm>
#include <atomic>

#include "render/Completeness.h"
#include "render/ProgressCalls.h"

namespace quom {

void FxReverb(Engine& e) {
  ReverbTaps taps;
  DrawReverbTaps(e.tools, taps);
  ReverbFrameByFrame(e, taps);
}

void ReverbFrameByFrame(Engine& e, const ReverbTaps& taps) {
  ReverbState r;
  ReverbStart(r, taps, e.gen.MixLen);
  // A call is due after frames 0, 1024, 2048 ...: one in each stretch of 1,024 frames.
  while (FxReverb(e.gen, r, kReverbProgressEvery) > 0)
    ShowProgress(e, kReverbProgressUnits);
}

void FxReverb(Engine& e, TaskPool& pool, SimdPath path, const ReverbFramesDone& framesDone) {
  ReverbTaps taps;
  DrawReverbTaps(e.tools, taps);
  ReverbByLaps(e, taps, pool, path, framesDone);
}

void FxReverb(Engine& e, SimdPath path, int threads, const ReverbFramesDone& framesDone) {
  TaskPool pool(threads);
  FxReverb(e, pool, path, framesDone);
}

void ReverbByLaps(Engine& e, const ReverbTaps& taps, TaskPool& pool, SimdPath path,
                  const ReverbFramesDone& framesDone) {
  modGen& g = e.gen;
  ReverbLaps r;
  ReverbLapsStart(r, taps, g.MixLen, path, FasterReverbRounding(path));
  ReverbLapsSend(r, g, 0);
  const int32_t fed = ReverbFedFrames(g.MixLen);
  int32_t made = 0;  // progress calls so far
  const auto wait = [&e](TaskGroup& group) { group.Wait([&e] { StillWaiting(e); }, true); };
  const auto handOn = [&](int32_t from) {
    if (framesDone) framesDone(from, std::min(from + kReverbRound, g.MixLen));
  };
  // Pieces of the rounds done, counted as they end: a round's wet frames need all of its lines,
  // the next round's lines all of the wet frames before.
  std::atomic<int32_t> lineDone{0}, wetDone{0};
  for (int32_t round = 0; round < r.rounds; ++round) {
    {
      TaskGroup lines(pool);
      lines.SubmitEach(kReverbLineChunks, [&r, &lineDone](int32_t c) {
        ReverbLapsLines(r, c);
        lineDone.fetch_add(1, std::memory_order_relaxed);
      });
      // The round before is final: hand it on while the lines are computed.
      if (round > 0) handOn(r.base - kReverbRound);
      wait(lines);
    }
    {
      TaskGroup wet(pool);
      CheckComplete(lineDone.load(), (round + 1) * kReverbLineChunks,
                    "pieces of the reverb's line");
      wet.SubmitEach(kReverbWetChunks, [&r, &g, &wetDone](int32_t c) {
        ReverbLapsWet(r, g, c);
        wetDone.fetch_add(1, std::memory_order_relaxed);
      });
      if (round + 1 < r.rounds) ReverbLapsSend(r, g, r.base + kReverbRound);
      wait(wet);
      CheckComplete(wetDone.load(), (round + 1) * kReverbWetChunks,
                    "pieces of the reverb's wet frames");
    }
    const int32_t due =
        ProgressCallsDue(std::min(r.base + kReverbRound, fed), kReverbProgressEvery);
    for (; made < due; ++made)
      ShowProgress(e, kReverbProgressUnits);
    ReverbLapsNext(r);
  }
  if (r.rounds > 0) handOn(r.base - kReverbRound);
}

}  // namespace quom
