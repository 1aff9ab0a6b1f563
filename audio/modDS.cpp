// Playback through SDL's queued audio: one SDL_QueueAudio of the whole piece, then polling.
#include "audio/modDS.h"

#include <SDL2/SDL.h>
#include <fcntl.h>
#include <unistd.h>

namespace quom {

namespace {

constexpr int kRate = 44100;       // frames per second
constexpr int kChannels = 2;       // interleaved L R
constexpr int kBytesPerFrame = 4;  // two 16-bit samples
// The device's own buffer, about 93 ms. Deep enough to ride out a busy machine without an
// underrun; shallow enough that a stop is heard at once (SDL also waits two buffers when it
// closes the device).
constexpr uint16_t kDeviceFrames = 4096;
constexpr uint32_t kServerSlackMs = 150;  // what a sound server may hold beyond that

// Sound libraries probed by SDL (ALSA, JACK, the sound-server clients) write their own
// diagnostics to stderr when no device or server is there; the one line we print from SDL's
// reason says it better. This keeps fd 2 closed over such a call.
class QuietStderr {
 public:
  QuietStderr() {
    saved_ = dup(STDERR_FILENO);
    const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (saved_ >= 0 && null >= 0) dup2(null, STDERR_FILENO);
    if (null >= 0) close(null);
  }
  ~QuietStderr() {
    if (saved_ < 0) return;
    dup2(saved_, STDERR_FILENO);
    close(saved_);
  }
  QuietStderr(const QuietStderr&) = delete;
  QuietStderr& operator=(const QuietStderr&) = delete;

 private:
  int saved_ = -1;
};

// The default output device for the piece's format, paused.
SDL_AudioDeviceID OpenDevice(SDL_AudioSpec& have) {
  SDL_AudioSpec want{};
  want.freq = kRate;
  want.format = AUDIO_S16LSB;
  want.channels = kChannels;
  want.samples = kDeviceFrames;
  want.callback = nullptr;  // fed by SDL_QueueAudio
  QuietStderr quiet;
  // No allowed changes: SDL converts if the hardware wants another format.
  return SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
}

// Silences and closes the device, if one is open.
void DSCloseDevice(modDS& ds) {
  if (ds.DSDevice != 0) {
    SDL_PauseAudioDevice(ds.DSDevice, 1);
    SDL_ClearQueuedAudio(ds.DSDevice);
    QuietStderr quiet;
    SDL_CloseAudioDevice(ds.DSDevice);
  }
  ds.DSDevice = 0;
  ds.DSBufferBytes = 0;
  ds.DSDraining = false;
}

}  // namespace

void DSInit(modDS& ds, const std::string& driver) {
  if (ds.DSDriver) return;
  // The program handles Ctrl-C itself; SDL's handlers would only post a quit event.
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  // A driver named on the command line wins over SDL_AUDIODRIVER.
  if (!driver.empty())
    SDL_SetHintWithPriority(SDL_HINT_AUDIODRIVER, driver.c_str(), SDL_HINT_OVERRIDE);
  int status;
  {
    QuietStderr quiet;
    status = SDL_InitSubSystem(SDL_INIT_AUDIO);
  }
  if (status != 0) throw DSError(SDL_GetError());
  ds.DSDriver = true;
}

void DSCheckDevice(modDS& ds) {
  DSInit(ds, "");
  SDL_AudioSpec have{};
  const SDL_AudioDeviceID device = OpenDevice(have);
  if (device == 0) throw DSError(SDL_GetError());
  QuietStderr quiet;
  SDL_CloseAudioDevice(device);
}

void DSPlay(modDS& ds, std::span<const int16_t> PcmBuf) {
  const uint64_t bytes = PcmBuf.size_bytes();
  if (bytes < kBytesPerFrame) return;
  if (bytes > UINT32_MAX) throw DSError("the piece is too long for one sound buffer");
  DSInit(ds, "");
  DSCloseDevice(ds);

  SDL_AudioSpec have{};
  const SDL_AudioDeviceID device = OpenDevice(have);
  if (device == 0) throw DSError(SDL_GetError());
  ds.DSDevice = device;

  // Whole frames only; the device plays exactly these bytes, once.
  ds.DSBufferBytes = static_cast<uint32_t>(bytes - bytes % kBytesPerFrame);
  if (SDL_QueueAudio(device, PcmBuf.data(), ds.DSBufferBytes) != 0) throw DSError(SDL_GetError());
  ds.DSDrainMs = static_cast<uint32_t>(2 * 1000ull * have.samples / kRate) + kServerSlackMs;
  ds.DSDraining = false;
  SDL_PauseAudioDevice(device, 0);
}

bool DSIsPlaying(modDS& ds) {
  if (ds.DSDevice == 0) return false;
  if (SDL_GetAudioDeviceStatus(ds.DSDevice) != SDL_AUDIO_PLAYING) return false;  // lost
  if (SDL_GetQueuedAudioSize(ds.DSDevice) > 0) return true;
  // The queue is empty, but the device and the sound server still hold the last buffers.
  const uint64_t now = SDL_GetTicks64();
  if (!ds.DSDraining) {
    ds.DSDraining = true;
    ds.DSDrainStart = now;
  }
  return now - ds.DSDrainStart < ds.DSDrainMs;
}

void DSStopForExit(modDS& ds) {
  if (ds.DSDevice == 0) return;
  SDL_PauseAudioDevice(ds.DSDevice, 1);
  SDL_ClearQueuedAudio(ds.DSDevice);
}

void DSStop(modDS& ds) {
  DSCloseDevice(ds);
  QuietStderr quiet;  // some sound libraries complain again while they unload
  if (ds.DSDriver) SDL_QuitSubSystem(SDL_INIT_AUDIO);
  ds.DSDriver = false;
}

}  // namespace quom
