// Playback of the finished piece: the whole PCM goes to the default output device in one block,
// plays once from its start, and can be polled and stopped. Runs on SDL's audio subsystem. A kept
// piece can also be played several times over, paused and moved about in.
#pragma once

#include <SDL2/SDL_audio.h>

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace quom {

struct modDS {
  bool DSDriver = false;           // the audio subsystem is initialised
  SDL_AudioDeviceID DSDevice = 0;  // the opened output device; 0 = none
  uint32_t DSBufferBytes = 0;      // bytes handed to the device
  uint32_t DSDrainMs = 0;          // what the device may still hold once its queue is empty
  bool DSDraining = false;         // the queue has been seen empty
  uint64_t DSDrainStart = 0;       // SDL tick (ms) at which it was first seen empty

  // A kept piece (DSPlayKept): the device is fed from it pass after pass.
  std::vector<int16_t> DSPiece;  // interleaved stereo; empty when the piece was handed once
  int64_t DSPasses = 1;          // how many times it plays; 0: until stopped
  int64_t DSPassesQueued = 0;    // passes whose end is in the queue
  uint64_t DSQueuedEnd = 0;      // bytes of the whole stream of passes queued so far
  bool DSPaused = false;
};

// Where a kept piece stands: the pass (from 0) and the frame within it that the device has taken
// last (a buffer of the device, about 93 ms, ahead of what is heard).
struct DSPlace {
  int64_t pass = 0;
  int64_t frame = 0;
};

// A sound-device call that failed, with SDL's reason.
class DSError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Starts the audio subsystem with the named driver (empty: SDL's choice, which honours
// SDL_AUDIODRIVER). Throws DSError when no driver can be used.
void DSInit(modDS& ds, const std::string& driver);

// Opens the default output device once and closes it again, so that a missing device is
// reported before the long synthesis rather than after it. Throws DSError.
void DSCheckDevice(modDS& ds);

// Opens the default output device for 44,100 Hz, 2 channels, signed 16-bit little-endian,
// hands it all of PcmBuf (L0 R0 L1 R1 ...) and starts it, once, without looping. An empty
// PcmBuf opens nothing. Starts the subsystem first when DSInit has not. Throws DSError.
void DSPlay(modDS& ds, std::span<const int16_t> PcmBuf);

// Opens the device like DSPlay, keeps PcmBuf and plays it `passes` times back to back (0: until
// stopped). Each pass follows the last frame of the one before with the first frame of the piece,
// as one stream: the queue is topped up by DSIsPlaying, always at least ten seconds ahead.
// Throws DSError.
void DSPlayKept(modDS& ds, std::vector<int16_t> PcmBuf, int64_t passes);

// True while the device still has sound to play: queued bytes, or the short drain of what it
// has already taken, or a pause. False when nothing was opened or the device was lost. Tops up
// the queue of a kept piece.
bool DSIsPlaying(modDS& ds);

// For a kept piece: holds the sound where it is, or goes on from there.
void DSSetPaused(modDS& ds, bool paused);
// For a kept piece: moves within the current pass by `frames` (negative: back), no further than
// its start or its end; past the end the next pass starts, or the sound ends after the last.
void DSSeek(modDS& ds, int64_t frames);
DSPlace DSWhere(modDS& ds);

// Stops the sound at once and releases the device and the subsystem. Safe in any state.
void DSStop(modDS& ds);

// Stops the sound at once and leaves the device to the end of the process, which releases it:
// closing it here would wait while SDL plays out the device's last buffers. For the program's
// exit path only. Safe in any state.
void DSStopForExit(modDS& ds);

}  // namespace quom
