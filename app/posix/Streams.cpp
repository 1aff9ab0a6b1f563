// The standard streams on POSIX systems.
#include "app/Streams.h"

#include <unistd.h>

#include <cerrno>
#include <csignal>

namespace quom {

bool IsTerminal(FILE* stream) {
  return isatty(fileno(stream)) != 0;
}

void PrepareTerminal() {}

int WriteAllToStdout(std::span<const unsigned char> bytes) {
  // A closed pipe is the reader's choice, not a fault: the write reports it instead of the
  // program dying of SIGPIPE, so that its temporary files go too.
  struct sigaction ignore {};
  struct sigaction previous {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGPIPE, &ignore, &previous);
  int error = 0;
  for (size_t done = 0; done < bytes.size();) {
    const ssize_t n = write(STDOUT_FILENO, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error = n < 0 ? errno : EIO;
      break;
    }
    done += static_cast<size_t>(n);
  }
  sigaction(SIGPIPE, &previous, nullptr);
  return error;
}

}  // namespace quom
