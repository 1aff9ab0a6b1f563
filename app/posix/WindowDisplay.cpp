// The window system on Linux: the X display named by DISPLAY, handed to FLTK once it is open.
#include "app/WindowDisplay.h"

#include <FL/x.H>

#include <cstdlib>

namespace quom {

bool OpenWindowDisplay() {
  const char* name = std::getenv("DISPLAY");
  if (name == nullptr || *name == '\0') return false;
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) return false;
  fl_open_display(display);
  return true;
}

}  // namespace quom
