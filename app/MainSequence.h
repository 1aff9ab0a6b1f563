// The program's default run: show the front, synthesise the piece with progress, play it once
// (or as many times as asked) while the title pulses, and end when playback ends or the user asks
// to stop.
#pragma once

#include <cstdint>
#include <span>

#include "app/ProgressDisplay.h"
#include "audio/modDS.h"
#include "render/Synthesize.h"
#include "score/NoteList.h"

namespace quom {

// What the main sequence shows the piece through: the window, or a terminal line.
class Front {
 public:
  virtual ~Front() = default;
  virtual void Show() = 0;
  // Where the synthesis reports its progress.
  virtual ProgressSink& Progress() = 0;
  // Lets the front handle what is pending (keys, close requests, Ctrl-C, repaints). May end the
  // program from inside.
  virtual void ProcessEvents() = 0;
  virtual void PlaybackStarted(double seconds) { (void)seconds; }
  virtual void SetTitleGreen(int16_t G) = 0;
  // Whether the front pauses and moves the sound (DSSetPaused, DSSeek): the piece is then kept
  // for the device instead of handed over once.
  virtual bool Steers() const { return false; }
};

// Runs the whole sequence and ends the program through FormQueryUnload; returns only by an
// exception (a DSError when the sound device fails). The piece plays `passes` times without a
// break between them (0: until stopped); the default run plays it once. The synthesis runs with
// the vector instructions and workers of `render`.
[[noreturn]] void FormLoad(Front& form, modDS& ds, std::span<const NoteRec> notes,
                           int64_t passes = 1, const RenderOptions& render = {});

// Stops the sound and ends the process at once with `status`: nothing that was interrupted
// runs on, and no further event is handled. Handlers registered with std::at_quick_exit run
// first (the terminal gets its modes back there).
[[noreturn]] void FormQueryUnload(modDS& ds, int status = 0);

// Ctrl-C and termination requests: before playback they end the process at once; during it
// they are noted, and the next ProcessEvents of the front stops the sound and exits.
void InstallInterruptHandlers();
// The signal noted during playback, 0 for none; the program then exits with 128 + its number
// (130 for Ctrl-C), as a shell reports a process ended by it.
int InterruptRequested();

}  // namespace quom
