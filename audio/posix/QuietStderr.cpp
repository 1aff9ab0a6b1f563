// Standard error sent to /dev/null for a while, then given back.
#include "audio/QuietStderr.h"

#include <fcntl.h>
#include <unistd.h>

namespace quom {

QuietStderr::QuietStderr() {
  saved_ = dup(STDERR_FILENO);
  const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (saved_ >= 0 && null >= 0) dup2(null, STDERR_FILENO);
  if (null >= 0) close(null);
}

QuietStderr::~QuietStderr() {
  if (saved_ < 0) return;
  dup2(saved_, STDERR_FILENO);
  close(saved_);
}

}  // namespace quom
