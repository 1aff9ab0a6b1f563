// Whether the program's window can be shown: one implementation per platform, X11's in
// app/posix/, the desktop's in app/windows/.
#pragma once

namespace quom {

// Opens the window system for the window (Form1). False when there is none (on X11 no DISPLAY,
// or one that cannot be reached); the program then runs on the terminal.
bool OpenWindowDisplay();

}  // namespace quom
