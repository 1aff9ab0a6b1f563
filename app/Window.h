// The program's window, where the system can show one. One implementation per platform: FLTK on
// X11 (app/posix/Form1.cpp), the system's own window on Windows (app/windows/Form1.cpp).
#pragma once

#include <cstdint>
#include <span>

#include "audio/modDS.h"
#include "base/Simd.h"
#include "score/NoteList.h"

namespace quom {

// Runs the main sequence (FormLoad) in the window, which ends the program. Returns false, having
// done nothing, when no window can be shown (no display can be reached): the program then runs
// on the terminal.
bool RunInWindow(modDS& ds, std::span<const NoteRec> notes, int64_t passes,
                 const RenderOptions& render);

}  // namespace quom
