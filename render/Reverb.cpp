// The reverb's rounds scheduled on the task pool, and its progress calls.
#include "render/Reverb.h"

#include <algorithm>

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
  for (int32_t round = 0; round < r.rounds; ++round) {
    {
      TaskGroup lines(pool);
      lines.SubmitEach(kReverbLineChunks, [&r](int32_t c) { ReverbLapsLines(r, c); });
      // The round before is final: hand it on while the lines are computed.
      if (round > 0) handOn(r.base - kReverbRound);
      wait(lines);
    }
    {
      TaskGroup wet(pool);
      wet.SubmitEach(kReverbWetChunks, [&r, &g](int32_t c) { ReverbLapsWet(r, g, c); });
      if (round + 1 < r.rounds) ReverbLapsSend(r, g, r.base + kReverbRound);
      wait(wet);
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
