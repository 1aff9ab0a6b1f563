// The window system on Windows: the desktop, there whenever a person started the program. quom.exe
// is a console program (pipes and the terminal front need standard streams the console gives);
// started from Explorer, the system makes it a console of its own, which would stand empty beside
// the window.
#include "app/WindowDisplay.h"

#include <windows.h>

namespace quom {

namespace {

// Whether the system lets this process make a window at all: not in a service's hidden window
// station, nor under Wine without an X display.
bool CanMakeWindows() {
  const HWND probe = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                                     GetModuleHandleW(nullptr), nullptr);
  if (probe == nullptr) return false;
  DestroyWindow(probe);
  return true;
}

}  // namespace

bool OpenWindowDisplay() {
  if (!CanMakeWindows()) return false;
  // A console that no other process shares was made for this one alone: let it go. One shared
  // with a shell (cmd, PowerShell) stays, and with it the shell's prompt and the error lines.
  DWORD processes[2];
  if (GetConsoleProcessList(processes, 2) == 1) FreeConsole();
  return true;
}

}  // namespace quom
