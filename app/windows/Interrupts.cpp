// Stop requests on Windows: the console's control events. The system calls the handler on a
// thread of its own while the program runs on.
#include "app/Interrupts.h"

#include <windows.h>

#include <atomic>

#include "app/OutputFile.h"

namespace quom {

namespace {

// The POSIX numbers of the signals each event stands for, so that the exit status is the same.
constexpr int kSigHup = 1;
constexpr int kSigInt = 2;
constexpr int kSigTerm = 15;

std::atomic<bool> gSoundOpen{false};
std::atomic<int> gInterrupted{0};

int SignalOf(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      return kSigInt;
    case CTRL_CLOSE_EVENT:
      return kSigHup;
    default:  // logoff, shutdown
      return kSigTerm;
  }
}

// Ends the process at once, as a fatal signal would: no handler, no destructor and no further
// step of the work that was interrupted runs. Removing a temporary file that is being written
// works, as the program opens them for removal (app/Files.h): it goes when the process does.
[[noreturn]] void RemoveTempsAndEnd(int sig) {
  RemoveTempFilesNow();
  TerminateProcess(GetCurrentProcess(), static_cast<UINT>(128 + sig));
  ExitProcess(static_cast<UINT>(128 + sig));  // not reached
}

BOOL WINAPI OnConsoleEvent(DWORD event) {
  const int sig = SignalOf(event);
  if (!gSoundOpen) RemoveTempsAndEnd(sig);
  gInterrupted = sig;
  // The system ends the process once this returns from a closing console, logoff or shutdown:
  // wait for the program's own way out instead, which comes within one pass of its loop.
  if (sig != kSigInt) Sleep(INFINITE);
  return TRUE;
}

void Install() {
  static const bool installed = SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
  (void)installed;
}

}  // namespace

// One handler for both: before playback it removes the temporary files, of which a playing run
// has none.
void RemoveTempFilesOnSignal() {
  Install();
}

void InstallInterruptHandlers() {
  Install();
}

void InterruptsDuringPlayback() {
  gSoundOpen = true;
}

int InterruptRequested() {
  return gInterrupted;
}

}  // namespace quom
