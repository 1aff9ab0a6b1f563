// The front for a run without a window: the progress line on standard error, Ctrl-C to stop.
#pragma once

#include "app/MainSequence.h"
#include "app/TerminalProgress.h"

namespace quom {

class TerminalFront : public Front {
 public:
  TerminalFront(modDS& ds, bool quiet) : ds_(ds), quiet_(quiet) {}

  void Show() override {}
  ProgressSink& Progress() override {
    if (quiet_) return silent_;
    return line_;
  }
  void ProcessEvents() override;
  void PlaybackStarted(double seconds) override;
  void SetTitleGreen(int16_t) override {}

 private:
  class Silent : public ProgressSink {
    void Progress(float) override {}
  };

  modDS& ds_;
  bool quiet_;
  TerminalProgress line_{stderr};
  Silent silent_;
};

}  // namespace quom
