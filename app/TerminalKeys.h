// Keys from the terminal on standard input while the piece plays: the terminal goes into raw mode
// without echo and is read without waiting; its modes come back on every way out of the program.
// On Windows the terminal is the console, whose key events need no decoding.
#pragma once

#include <string>
#include <vector>

namespace quom {

enum class PlayKey { kPause, kBack, kForward, kStop };

// Decodes what a terminal sent and removes what it used from `bytes`: space pauses or resumes,
// the left and right arrows (in either cursor mode, with or without modifiers) move back and
// forward, q and a lone Esc stop. Other keys and escape sequences do nothing. `complete` says
// that no more bytes are on their way: a trailing Esc is then the Esc key; otherwise it may
// start a sequence, and it stays in `bytes` with whatever follows it.
std::vector<PlayKey> DecodeKeys(std::string& bytes, bool complete);

class TerminalKeys {
 public:
  TerminalKeys() = default;
  ~TerminalKeys();  // restores the modes
  TerminalKeys(const TerminalKeys&) = delete;
  TerminalKeys& operator=(const TerminalKeys&) = delete;

  // Puts the terminal on standard input into raw mode when it is one and this process runs in
  // its foreground. Ctrl-C (and Ctrl-Break on Windows) still reach the program as stop requests;
  // on POSIX systems a stop (Ctrl-Z) hands the terminal back in its own modes, and raw mode
  // returns when the program is continued in the foreground. Returns whether keys can be read.
  bool Start();
  // The keys pressed since the last call, without waiting, except a few milliseconds for the
  // rest of an escape sequence.
  std::vector<PlayKey> Read();

 private:
  std::string pending_;  // the start of an escape sequence not yet complete
};

// Gives the terminal back the modes it had before Start. Async-signal-safe; also registered with
// AtQuickExit (app/QuickExit.h) by Start, for the program's exit path.
void RestoreTerminalModes();

}  // namespace quom
