// Progress accounting shared by the stages: the calls a stretch of work is due, and the call that
// tells the sink the calling thread is still waiting for the workers.
#pragma once

#include <cstdint>

#include "render/Engine.h"

namespace quom {

// The ShowProgress calls due once `done` samples (or frames) of a stage that reports after each
// of samples 0, every, 2 * every ... are computed.
constexpr int32_t ProgressCallsDue(int32_t done, int32_t every) {
  return done <= 0 ? 0 : (done - 1) / every + 1;
}

// The total unchanged, so that a user interface keeps handling its events however the work is
// spread; made every few milliseconds while the calling thread waits and has nothing to report.
inline void StillWaiting(const Engine& e) {
  if (e.progress) e.progress->Progress(e.gen.ProgressTotal);
}

}  // namespace quom
