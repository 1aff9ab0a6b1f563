// Keeps standard error closed over a call into the sound system. Sound libraries that SDL probes
// on Linux (ALSA, JACK, the sound-server clients) write their own diagnostics there when no device
// or server is there; the one line the program prints from SDL's reason says it better. One
// implementation per platform (audio/posix/QuietStderr.cpp, audio/windows/QuietStderr.cpp).
#pragma once

namespace quom {

class QuietStderr {
 public:
  QuietStderr();
  ~QuietStderr();
  QuietStderr(const QuietStderr&) = delete;
  QuietStderr& operator=(const QuietStderr&) = delete;

 private:
  int saved_ = -1;
};

}  // namespace quom
