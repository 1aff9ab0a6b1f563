// Keys for playback: the decoder of what a terminal sends, the same on every platform. The mode
// switching and the reading are the platform's (app/posix/TerminalKeys.cpp,
// app/windows/TerminalKeys.cpp).
#include "app/TerminalKeys.h"

namespace quom {

namespace {

constexpr char kEsc = 0x1b;

}  // namespace

std::vector<PlayKey> DecodeKeys(std::string& bytes, bool complete) {
  std::vector<PlayKey> keys;
  size_t i = 0;
  while (i < bytes.size()) {
    const char c = bytes[i];
    if (c == ' ') {
      keys.push_back(PlayKey::kPause);
      ++i;
    } else if (c == 'q' || c == 'Q') {
      keys.push_back(PlayKey::kStop);
      ++i;
    } else if (c != kEsc) {
      ++i;  // any other key does nothing
    } else if (i + 1 == bytes.size()) {
      if (!complete) break;  // perhaps the start of a sequence
      keys.push_back(PlayKey::kStop);
      ++i;
    } else if (bytes[i + 1] == '[' || bytes[i + 1] == 'O') {
      // CSI or SS3: parameter and intermediate bytes, then one final byte.
      size_t end = i + 2;
      while (end < bytes.size() && bytes[end] >= 0x20 && bytes[end] <= 0x3f)
        ++end;
      if (end == bytes.size()) {
        if (!complete) break;
        i = end;  // a broken sequence: dropped
        continue;
      }
      if (bytes[end] == 'C') keys.push_back(PlayKey::kForward);
      if (bytes[end] == 'D') keys.push_back(PlayKey::kBack);
      i = end + 1;
    } else {
      i += 2;  // Alt and a key: not the Esc key
    }
  }
  bytes.erase(0, i);
  return keys;
}

}  // namespace quom
