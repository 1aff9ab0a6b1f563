// The terminal's raw mode on POSIX systems, around reads that never wait.
#include "app/TerminalKeys.h"

#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>

#include "app/QuickExit.h"

namespace quom {

namespace {

// How long a lone Esc waits for the rest of a sequence: terminals send one in a single write, so
// a few milliseconds tell an arrow key from the Esc key.
constexpr int kSequenceWaitMs = 30;

// The modes before Start and the raw ones, readable from signal handlers: both are complete
// before gWanted is raised.
termios gSaved{};
termios gRaw{};
volatile std::sig_atomic_t gWanted = 0;  // Start succeeded: raw mode whenever in the foreground
volatile std::sig_atomic_t gIsRaw = 0;   // the terminal is in raw mode now

bool InForeground() {
  return tcgetpgrp(STDIN_FILENO) == getpgrp();
}

void EnterRaw() {
  if (gWanted && !gIsRaw && InForeground() && tcsetattr(STDIN_FILENO, TCSANOW, &gRaw) == 0) {
    gIsRaw = 1;
  }
}

extern "C" void OnContinue(int) {
  const int saved = errno;
  EnterRaw();
  errno = saved;
}

// Ctrl-Z: the shell gets the terminal back as it gave it, then the program stops as it would by
// default; OnContinue takes raw mode up again.
extern "C" void OnStop(int sig) {
  const int saved = errno;
  RestoreTerminalModes();
  std::signal(sig, SIG_DFL);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, sig);
  sigprocmask(SIG_UNBLOCK, &set, nullptr);
  raise(sig);  // stops here until continued
  std::signal(sig, OnStop);
  errno = saved;
}

void RestoreOnExit() {
  RestoreTerminalModes();
}

}  // namespace

TerminalKeys::~TerminalKeys() {
  RestoreTerminalModes();
  gWanted = 0;
}

bool TerminalKeys::Start() {
  if (gWanted) return gIsRaw;
  if (!isatty(STDIN_FILENO) || !InForeground()) return false;
  if (tcgetattr(STDIN_FILENO, &gSaved) != 0) return false;
  gRaw = gSaved;
  gRaw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);  // ISIG stays: Ctrl-C, Ctrl-Z
  gRaw.c_cc[VMIN] = 0;                                    // reads return at once
  gRaw.c_cc[VTIME] = 0;

  static bool registered = false;
  if (!registered) {
    AtQuickExit(RestoreOnExit);
    std::signal(SIGTSTP, OnStop);
    std::signal(SIGCONT, OnContinue);
    registered = true;
  }
  gWanted = 1;
  EnterRaw();
  return gIsRaw;
}

std::vector<PlayKey> TerminalKeys::Read() {
  if (!gIsRaw) return {};  // reading from the background would stop the program
  char buf[64];
  ssize_t n;
  while ((n = read(STDIN_FILENO, buf, sizeof buf)) > 0)
    pending_.append(buf, static_cast<size_t>(n));
  std::vector<PlayKey> keys = DecodeKeys(pending_, false);
  if (pending_.empty()) return keys;
  pollfd in{STDIN_FILENO, POLLIN, 0};
  if (poll(&in, 1, kSequenceWaitMs) > 0) {
    while ((n = read(STDIN_FILENO, buf, sizeof buf)) > 0)
      pending_.append(buf, static_cast<size_t>(n));
  }
  for (PlayKey key : DecodeKeys(pending_, true))
    keys.push_back(key);
  return keys;
}

void RestoreTerminalModes() {
  if (!gIsRaw) return;
  gIsRaw = 0;
  tcsetattr(STDIN_FILENO, TCSANOW, &gSaved);
}

}  // namespace quom
