// The terminal front: the render's progress line, then the status line and the keys during
// playback.
#include "app/TerminalFront.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "app/QuickExit.h"
#include "app/Streams.h"

namespace quom {

namespace {

// The status line is open on standard error: the program's exit path ends it, so that the
// shell's prompt starts on a line of its own.
std::atomic<bool> gStatusOpen{false};

void EndStatusLine() {
  if (gStatusOpen.exchange(false)) {
    std::fputc('\n', stderr);
    std::fflush(stderr);
  }
}

// Whole seconds as m:ss.
void FormatTime(char* buf, size_t size, double seconds) {
  const long long whole = static_cast<long long>(std::floor(std::max(seconds, 0.0)));
  std::snprintf(buf, size, "%lld:%02lld", whole / 60, whole % 60);
}

}  // namespace

TerminalFront::TerminalFront(modDS& ds, bool quiet, int64_t passes)
    : ds_(ds), quiet_(quiet), passes_(passes), statusLine_(!quiet && IsTerminal(stderr)) {
  // The keys need the piece to move in, the status line the place the device has reached.
  steers_ = statusLine_ || IsTerminal(stdin);
}

void TerminalFront::ProcessEvents() {
  if (const int signal = InterruptRequested()) FormQueryUnload(ds_, 128 + signal);
  for (const PlayKey key : terminal_.Read()) {
    switch (key) {
      case PlayKey::kPause:
        DSSetPaused(ds_, !ds_.DSPaused);
        break;
      case PlayKey::kBack:
        DSSeek(ds_, -kSeekFrames);
        break;
      case PlayKey::kForward:
        DSSeek(ds_, kSeekFrames);
        break;
      case PlayKey::kStop:
        FormQueryUnload(ds_, 0);
    }
  }
  DrawStatus();
}

void TerminalFront::PlaybackStarted(double seconds) {
  seconds_ = seconds;
  if (steers_) keys_ = terminal_.Start();
  if (quiet_) return;
  line_.Finish();
  if (statusLine_) {
    static bool registered = false;
    if (!registered) AtQuickExit(EndStatusLine);
    registered = true;
    DrawStatus();
    return;
  }
  std::fprintf(stderr, "quom: playing %.2f seconds (%s)\n", seconds,
               keys_ ? "space pauses, arrows seek, q stops" : "Ctrl-C stops");
  std::fflush(stderr);
}

void TerminalFront::FormatStatus(char* buf, size_t size, bool paused, double elapsed, double total,
                                 int64_t pass, int64_t passes, bool keys) {
  char now[32], length[32], loop[64] = "";
  FormatTime(now, sizeof now, elapsed);
  FormatTime(length, sizeof length, total);
  if (passes == 0) {
    std::snprintf(loop, sizeof loop, "  pass %lld, looping", static_cast<long long>(pass + 1));
  } else if (passes > 1) {
    std::snprintf(loop, sizeof loop, "  pass %lld of %lld", static_cast<long long>(pass + 1),
                  static_cast<long long>(passes));
  }
  std::snprintf(buf, size, "%s %s / %s%s  (%s)", paused ? "paused " : "playing", now, length, loop,
                keys ? "space: pause, left/right: 5 s, q: stop" : "Ctrl-C stops");
}

void TerminalFront::DrawStatus() {
  if (!statusLine_) return;
  const DSPlace place = DSWhere(ds_);
  char text[256];
  FormatStatus(text, sizeof text, ds_.DSPaused, static_cast<double>(place.frame) / 44100.0,
               seconds_, place.pass, passes_, keys_);
  if (text == shown_) return;
  shown_ = text;
  std::fprintf(stderr, "\rquom: %s\033[K", text);
  std::fflush(stderr);
  gStatusOpen = true;
}

}  // namespace quom
