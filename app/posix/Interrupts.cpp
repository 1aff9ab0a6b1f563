// Stop requests on POSIX systems: signals.
#include "app/Interrupts.h"

#include <unistd.h>

#include <csignal>

#include "app/OutputFile.h"

namespace quom {

namespace {

volatile std::sig_atomic_t gSoundOpen = 0;    // set while the device may be playing
volatile std::sig_atomic_t gInterrupted = 0;  // the stop request that arrived during playback

extern "C" void OnInterrupt(int sig) {
  // Before the device is opened there is nothing to stop: leave at once (async-signal-safe).
  if (!gSoundOpen) _exit(128 + sig);
  gInterrupted = sig;
}

// The program dies of the signal itself, so that its parent sees how it ended.
extern "C" void RemoveTempsAndDie(int sig) {
  RemoveTempFilesNow();
  std::signal(sig, SIG_DFL);
  raise(sig);
}

}  // namespace

void RemoveTempFilesOnSignal() {
  for (int sig : {SIGINT, SIGTERM, SIGHUP})
    std::signal(sig, RemoveTempsAndDie);
}

void InstallInterruptHandlers() {
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

void InterruptsDuringPlayback() {
  gSoundOpen = 1;
}

int InterruptRequested() {
  return gInterrupted;
}

}  // namespace quom
