// Progress reporting from the engine to whatever shows it (window, terminal, nothing).
#pragma once

namespace quom {

// The long computations report fixed progress units through ShowProgress; the engine keeps the
// running total and hands it to the sink. A sink decides how often it redraws and may let its
// user interface handle events; to abandon the render it throws, and the engine unwinds cleanly.
class ProgressSink {
 public:
  virtual ~ProgressSink() = default;
  // Called once by InitMix, when synthesis starts: the origin of the elapsed time.
  virtual void Start() {}
  // Called on every ShowProgress with the new single-precision total, and, with the total
  // unchanged, every few milliseconds while the calling thread waits for worker threads, so that
  // a user interface stays responsive however the work is spread.
  virtual void Progress(float total) = 0;
};

}  // namespace quom
