// The front for a run without a window: the progress line on standard error, then a status line
// while the piece plays; keys from a terminal on standard input steer the sound; Ctrl-C stops.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "app/MainSequence.h"
#include "app/TerminalKeys.h"
#include "app/TerminalProgress.h"

namespace quom {

class TerminalFront : public Front {
 public:
  // `passes` as FormLoad plays them (0: until stopped), for the status line.
  TerminalFront(modDS& ds, bool quiet, int64_t passes);

  void Show() override {}
  ProgressSink& Progress() override {
    if (quiet_) return silent_;
    return line_;
  }
  // Ctrl-C or a termination request, then the keys: space pauses and resumes, the arrows move
  // five seconds, q and Esc stop. Redraws the status line when it has changed.
  void ProcessEvents() override;
  void PlaybackStarted(double seconds) override;
  void SetTitleGreen(int16_t) override {}
  bool Steers() const override { return steers_; }

  // "playing 1:05 / 2:00  pass 2 of 3  (space: pause ...)": the state, the time heard within
  // the piece and its length in minutes and seconds, the pass when there are several (`passes`
  // 0: until stopped), and what the keys do when `keys`, or how to stop otherwise.
  static void FormatStatus(char* buf, size_t size, bool paused, double elapsed, double total,
                           int64_t pass, int64_t passes, bool keys);

  static constexpr int64_t kSeekFrames = 5 * 44100;  // what an arrow key moves: five seconds

 private:
  class Silent : public ProgressSink {
    void Progress(float) override {}
  };

  void DrawStatus();

  modDS& ds_;
  bool quiet_;
  int64_t passes_;
  bool statusLine_;    // standard error is a terminal and not --quiet: the line is redrawn
  bool steers_;        // keys or the status line: the piece is kept
  bool keys_ = false;  // keys are read
  double seconds_ = 0.0;
  std::string shown_;
  TerminalProgress line_{stderr};
  Silent silent_;
  TerminalKeys terminal_;
};

}  // namespace quom
