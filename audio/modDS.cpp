// Playback through SDL's queued audio: one SDL_QueueAudio of the whole piece, then polling. A
// kept piece is queued again for every further pass before the queue runs short.
#include "audio/modDS.h"

#include <SDL2/SDL.h>

#include <algorithm>

#include "audio/QuietStderr.h"

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
// A kept piece is queued for its next pass once less than this is left: ten seconds, far more
// than the 15 ms between two polls however busy the machine, and still more than a poll takes
// for a test device that plays a hundred times faster than real time.
constexpr uint32_t kLeadBytes = 10 * kRate * kBytesPerFrame;

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
  ds.DSPaused = false;
  std::vector<int16_t>().swap(ds.DSPiece);
}

// Opens the default output device, paused, and sets how long its last buffers take to drain.
void DSOpen(modDS& ds) {
  DSInit(ds, "");
  DSCloseDevice(ds);
  SDL_AudioSpec have{};
  const SDL_AudioDeviceID device = OpenDevice(have);
  if (device == 0) throw DSError(SDL_GetError());
  ds.DSDevice = device;
  ds.DSDrainMs = static_cast<uint32_t>(2 * 1000ull * have.samples / kRate) + kServerSlackMs;
  ds.DSDraining = false;
}

void Queue(modDS& ds, const void* data, uint32_t bytes) {
  if (bytes > 0 && SDL_QueueAudio(ds.DSDevice, data, bytes) != 0) throw DSError(SDL_GetError());
}

// Queues whole passes of a kept piece until the queue holds enough or the last pass is in. A pass
// that cannot be queued (SDL is out of memory) is not played: the sound ends after what is queued,
// as on a lost device, rather than failing in the middle of playback.
void TopUp(modDS& ds) {
  if (ds.DSPiece.empty() || ds.DSDevice == 0) return;
  while ((ds.DSPasses == 0 || ds.DSPassesQueued < ds.DSPasses) &&
         SDL_GetQueuedAudioSize(ds.DSDevice) < kLeadBytes) {
    if (SDL_QueueAudio(ds.DSDevice, ds.DSPiece.data(), ds.DSBufferBytes) != 0) {
      ds.DSPasses = ds.DSPassesQueued;
      return;
    }
    ds.DSQueuedEnd += ds.DSBufferBytes;
    ++ds.DSPassesQueued;
  }
}

// The bytes of the whole stream of passes the device has taken so far.
uint64_t Taken(const modDS& ds) {
  const uint64_t queued = SDL_GetQueuedAudioSize(ds.DSDevice);
  return ds.DSQueuedEnd - std::min<uint64_t>(queued, ds.DSQueuedEnd);
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
  DSOpen(ds);

  // Whole frames only; the device plays exactly these bytes, once.
  ds.DSBufferBytes = static_cast<uint32_t>(bytes - bytes % kBytesPerFrame);
  Queue(ds, PcmBuf.data(), ds.DSBufferBytes);
  SDL_PauseAudioDevice(ds.DSDevice, 0);
}

void DSPlayKept(modDS& ds, std::vector<int16_t> PcmBuf, int64_t passes) {
  const uint64_t bytes = PcmBuf.size() * sizeof(int16_t);
  if (bytes < kBytesPerFrame) return;
  if (bytes > UINT32_MAX) throw DSError("the piece is too long for one sound buffer");
  DSOpen(ds);

  ds.DSBufferBytes = static_cast<uint32_t>(bytes - bytes % kBytesPerFrame);
  ds.DSPiece = std::move(PcmBuf);
  ds.DSPasses = passes;
  ds.DSPassesQueued = 0;
  ds.DSQueuedEnd = 0;
  // The first pass whole, as DSPlay hands it; TopUp follows with the next ones.
  Queue(ds, ds.DSPiece.data(), ds.DSBufferBytes);
  ds.DSQueuedEnd = ds.DSBufferBytes;
  ds.DSPassesQueued = 1;
  TopUp(ds);
  SDL_PauseAudioDevice(ds.DSDevice, 0);
}

bool DSIsPlaying(modDS& ds) {
  if (ds.DSDevice == 0) return false;
  if (ds.DSPaused) {
    ds.DSDraining = false;  // the drain starts over when the sound goes on
    return true;
  }
  if (SDL_GetAudioDeviceStatus(ds.DSDevice) != SDL_AUDIO_PLAYING) return false;  // lost
  TopUp(ds);
  if (SDL_GetQueuedAudioSize(ds.DSDevice) > 0) return true;
  // The queue is empty, but the device and the sound server still hold the last buffers.
  const uint64_t now = SDL_GetTicks64();
  if (!ds.DSDraining) {
    ds.DSDraining = true;
    ds.DSDrainStart = now;
  }
  return now - ds.DSDrainStart < ds.DSDrainMs;
}

void DSSetPaused(modDS& ds, bool paused) {
  if (ds.DSDevice == 0 || ds.DSPiece.empty()) return;
  ds.DSPaused = paused;
  SDL_PauseAudioDevice(ds.DSDevice, paused ? 1 : 0);
}

void DSSeek(modDS& ds, int64_t frames) {
  if (ds.DSDevice == 0 || ds.DSPiece.empty()) return;
  // With the device locked, what it has taken and the new queue join without a gap or overlap.
  SDL_LockAudioDevice(ds.DSDevice);
  const uint64_t taken = Taken(ds);
  const uint64_t passBytes = ds.DSBufferBytes;
  const int64_t pass = static_cast<int64_t>(taken / passBytes);
  if (ds.DSPasses == 0 || pass < ds.DSPasses) {
    const int64_t within = static_cast<int64_t>(taken % passBytes);
    const int64_t target =
        std::clamp<int64_t>(within + frames * kBytesPerFrame, 0, static_cast<int64_t>(passBytes));
    SDL_ClearQueuedAudio(ds.DSDevice);
    ds.DSQueuedEnd = static_cast<uint64_t>(pass + 1) * passBytes;
    ds.DSPassesQueued = pass + 1;
    const uint32_t rest = static_cast<uint32_t>(passBytes - static_cast<uint64_t>(target));
    const auto* from = reinterpret_cast<const uint8_t*>(ds.DSPiece.data()) + target;
    if (rest > 0 && SDL_QueueAudio(ds.DSDevice, from, rest) != 0) {
      ds.DSPasses = ds.DSPassesQueued;  // as in TopUp: the sound ends instead
    }
    TopUp(ds);
  }
  SDL_UnlockAudioDevice(ds.DSDevice);
}

DSPlace DSWhere(modDS& ds) {
  DSPlace place;
  if (ds.DSDevice == 0 || ds.DSPiece.empty()) return place;
  const uint64_t taken = Taken(ds);
  const uint64_t passBytes = ds.DSBufferBytes;
  place.pass = static_cast<int64_t>(taken / passBytes);
  place.frame = static_cast<int64_t>(taken % passBytes / kBytesPerFrame);
  // The end of the last pass is its last place, not the start of one that never comes.
  if (ds.DSPasses != 0 && place.pass >= ds.DSPasses) {
    place.pass = ds.DSPasses - 1;
    place.frame = static_cast<int64_t>(passBytes / kBytesPerFrame);
  }
  return place;
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
