// The console's keys on Windows: line input and echo off, key events read without waiting.
#include "app/TerminalKeys.h"

#include <windows.h>

#include <atomic>

#include "app/QuickExit.h"

namespace quom {

namespace {

DWORD gSaved = 0;                 // the console's input mode before Start
std::atomic<bool> gIsRaw{false};  // the mode is ours now

HANDLE Input() {
  return GetStdHandle(STD_INPUT_HANDLE);
}

void RestoreOnExit() {
  RestoreTerminalModes();
}

// What a key press asks of playback, if anything: space, the arrows, q and Esc.
bool KeyOf(const KEY_EVENT_RECORD& key, PlayKey& out) {
  switch (key.wVirtualKeyCode) {
    case VK_SPACE:
      out = PlayKey::kPause;
      return true;
    case VK_LEFT:
      out = PlayKey::kBack;
      return true;
    case VK_RIGHT:
      out = PlayKey::kForward;
      return true;
    case VK_ESCAPE:
    case 'Q':
      out = PlayKey::kStop;
      return true;
    default:
      return false;
  }
}

}  // namespace

TerminalKeys::~TerminalKeys() {
  RestoreTerminalModes();
}

bool TerminalKeys::Start() {
  if (gIsRaw) return true;
  DWORD mode;
  if (!GetConsoleMode(Input(), &mode)) return false;  // not a console: a pipe or a file
  gSaved = mode;
  // Processed input stays: Ctrl-C and Ctrl-Break still reach the program as stop requests.
  const DWORD raw =
      (mode & ~static_cast<DWORD>(ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT)) | ENABLE_PROCESSED_INPUT;
  if (!SetConsoleMode(Input(), raw)) return false;
  static bool registered = false;
  if (!registered) AtQuickExit(RestoreOnExit);
  registered = true;
  gIsRaw = true;
  // Keys pressed during the synthesis are not for playback.
  FlushConsoleInputBuffer(Input());
  return true;
}

std::vector<PlayKey> TerminalKeys::Read() {
  std::vector<PlayKey> keys;
  if (!gIsRaw) return keys;
  DWORD waiting = 0;
  while (GetNumberOfConsoleInputEvents(Input(), &waiting) && waiting > 0) {
    INPUT_RECORD records[64];
    DWORD got = 0;
    if (!ReadConsoleInputW(Input(), records, 64, &got) || got == 0) break;
    for (DWORD i = 0; i < got; ++i) {
      if (records[i].EventType != KEY_EVENT || !records[i].Event.KeyEvent.bKeyDown) continue;
      PlayKey key;
      if (!KeyOf(records[i].Event.KeyEvent, key)) continue;
      // A key held down arrives once with its count.
      for (WORD n = 0; n < records[i].Event.KeyEvent.wRepeatCount; ++n)
        keys.push_back(key);
    }
  }
  return keys;
}

void RestoreTerminalModes() {
  if (!gIsRaw.exchange(false)) return;
  SetConsoleMode(Input(), gSaved);
}

}  // namespace quom
