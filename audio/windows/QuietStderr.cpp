// Standard error sent to NUL for a while, then given back. SDL's drivers write their notes there
// through the C library (the disk driver says where it writes, in two lines).
#include "audio/QuietStderr.h"

#include <fcntl.h>
#include <io.h>

#include <cstdio>

namespace quom {

QuietStderr::QuietStderr() {
  std::fflush(stderr);
  saved_ = _dup(_fileno(stderr));
  const int null = _open("NUL", _O_WRONLY);
  if (saved_ >= 0 && null >= 0) _dup2(null, _fileno(stderr));
  if (null >= 0) _close(null);
}

QuietStderr::~QuietStderr() {
  if (saved_ < 0) return;
  std::fflush(stderr);
  _dup2(saved_, _fileno(stderr));
  _close(saved_);
}

}  // namespace quom
