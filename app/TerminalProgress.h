// Progress of the render on a terminal: one line with a bar, the percentage and the elapsed time,
// redrawn in place at most 25 times a second.
#pragma once

#include <chrono>
#include <cstdio>

#include "base/Progress.h"

namespace quom {

class TerminalProgress : public ProgressSink {
 public:
  // Draws on `out` only when it is a terminal; otherwise stays silent.
  explicit TerminalProgress(FILE* out = stderr);
  ~TerminalProgress();  // ends a line left open by an interrupted render
  void Start() override;
  void Progress(float total) override;
  // Draws the final state and ends the line.
  void Finish();

  // The fraction of the whole piece done, as the window shows it: about 1004 units make 100 %.
  static double Fraction(float total) { return total * kFractionPerUnit; }
  // "[#####.....]  50%  12.3 s": the bar is `width` cells wide and full from 100 % on.
  static void FormatLine(char* buf, size_t size, float total, double seconds, int width = 30);

 private:
  static constexpr double kFractionPerUnit = 0.0009962;
  static constexpr int kRedrawTicksPerSecond = 25;

  void Draw();

  FILE* out_;
  bool enabled_;
  bool lineOpen_ = false;
  float total_ = 0.0f;
  long long lastTick_ = -1;
  std::chrono::steady_clock::time_point start_;
};

}  // namespace quom
