// The program's default run: the piece played once, in the window or on the terminal.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "render/Synthesize.h"
#include "score/NoteList.h"

namespace quom {

struct PlayOptions {
  std::string audioDriver;  // SDL audio driver by name; empty: SDL's choice
  bool quiet = false;       // no progress line on the terminal
  int64_t passes = 1;       // how many times the piece plays; 0: until stopped
  RenderOptions render;     // the kernels' vector instructions, the workers
};

// Synthesises and plays the notes, with the window when a display can be opened and with a
// progress line on standard error otherwise. Returns only on failure, with the exit status
// (1: no usable sound device, reported in one line on standard error).
int RunDefault(const std::vector<NoteRec>& notes, const PlayOptions& options);

}  // namespace quom
