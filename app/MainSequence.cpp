// The main sequence, top to bottom: show, synthesise, play, wait with the title pulse, end.
#include "app/MainSequence.h"

#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "render/Synthesize.h"

namespace quom {

namespace {

volatile std::sig_atomic_t gSoundOpen = 0;    // set while the device may be playing
volatile std::sig_atomic_t gInterrupted = 0;  // the stop request that arrived during playback

extern "C" void OnInterrupt(int sig) {
  // Before the device is opened there is nothing to stop: leave at once (async-signal-safe).
  if (!gSoundOpen) _exit(128 + sig);
  gInterrupted = sig;
}

void SleepMs(int ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// A progress sink that slows every call down, so that end-to-end tests can watch synthesis.
class SlowedProgress : public ProgressSink {
 public:
  SlowedProgress(ProgressSink& inner, int micros) : inner_(inner), micros_(micros) {}
  void Start() override { inner_.Start(); }
  void Progress(float total) override {
    std::this_thread::sleep_for(std::chrono::microseconds(micros_));
    inner_.Progress(total);
  }

 private:
  ProgressSink& inner_;
  int micros_;
};

}  // namespace

void InstallInterruptHandlers() {
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

int InterruptRequested() {
  return gInterrupted;
}

void FormLoad(Front& form, modDS& ds, std::span<const NoteRec> notes, int64_t passes,
              const RenderOptions& render) {
  form.Show();

  Engine e;
  e.progress = &form.Progress();
  const char* delay = std::getenv("QUOM_TEST_PROGRESS_DELAY_US");  // test hook, see tests/e2e
  SlowedProgress slowed(form.Progress(), delay ? std::atoi(delay) : 0);
  if (delay) e.progress = &slowed;

  // InitMix, sample bank, notes, reverb, PcmBuf, master.
  std::vector<int16_t> PcmBuf = Synthesize(e, notes, nullptr, render);

  gSoundOpen = 1;
  const double seconds = static_cast<double>(PcmBuf.size() / 2) / kSampleRate;
  if (passes == 1 && !form.Steers()) {
    DSPlay(ds, PcmBuf);
    std::vector<int16_t>().swap(PcmBuf);  // the device holds its own copy now
  } else {
    DSPlayKept(ds, std::move(PcmBuf), passes);  // queued again for every pass, or from a new place
  }
  form.PlaybackStarted(seconds);

  form.ProcessEvents();
  SleepMs(15);
  const float PlayStart = ClockSeconds();
  while (DSIsPlaying(ds)) {
    form.ProcessEvents();
    SleepMs(15);
    form.SetTitleGreen(PulseGreen(ClockSeconds(), PlayStart));
  }
  FormQueryUnload(ds);
}

void FormQueryUnload(modDS& ds, int status) {
  DSStopForExit(ds);  // the process ends next, and with it the device
  std::fflush(stdout);
  std::fflush(stderr);
  std::quick_exit(status);
}

}  // namespace quom
