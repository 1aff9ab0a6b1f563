// The terminal front: the render's progress line, then one line while the piece plays.
#include "app/TerminalFront.h"

#include <cstdio>

namespace quom {

void TerminalFront::ProcessEvents() {
  if (const int signal = InterruptRequested()) FormQueryUnload(ds_, 128 + signal);
}

void TerminalFront::PlaybackStarted(double seconds) {
  if (quiet_) return;
  line_.Finish();
  std::fprintf(stderr, "quom: playing %.2f seconds (Ctrl-C stops)\n", seconds);
  std::fflush(stderr);
}

}  // namespace quom
