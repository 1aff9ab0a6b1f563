// The terminal's side of playback: the keys decoded from what a terminal sends, and the status
// line.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/TerminalFront.h"
#include "app/TerminalKeys.h"

namespace quom {
namespace {

using K = PlayKey;

TEST(TerminalKeys, DecodesTheKeysPlaybackKnowsAndDropsTheRest) {
  struct Case {
    std::string bytes;
    bool complete;
    std::vector<PlayKey> keys;
    std::string left;  // what waits for more bytes
  };
  const Case cases[] = {
      {" q Q", true, {K::kPause, K::kStop, K::kPause, K::kStop}, ""},
      {"\x1b[C\x1b[D\x1bOC\x1bOD", true, {K::kForward, K::kBack, K::kForward, K::kBack}, ""},
      {"\x1b[1;5C\x1b[1;2D", true, {K::kForward, K::kBack}, ""},  // with Ctrl, Shift
      // Other keys and sequences: letters, Enter, up and down, F5, Alt+x.
      {"ax\r\n\x1b[A\x1b[B\x1b[15~\x1bx", true, {}, ""},
      // A lone Esc is the key once nothing more comes; until then it may start a sequence.
      {"\x1b", true, {K::kStop}, ""},
      {"\x1b", false, {}, "\x1b"},
      {" \x1b[", false, {K::kPause}, "\x1b["},
      {"\x1b[1;", false, {}, "\x1b[1;"},
      {"\x1b[1;", true, {}, ""},  // cut off: dropped
  };
  for (const Case& c : cases) {
    std::string bytes = c.bytes;
    EXPECT_EQ(DecodeKeys(bytes, c.complete), c.keys) << testing::PrintToString(c.bytes);
    EXPECT_EQ(bytes, c.left) << testing::PrintToString(c.bytes);
  }
  // A sequence split between two reads is one key.
  std::string bytes = "\x1b[";
  EXPECT_TRUE(DecodeKeys(bytes, false).empty());
  bytes += "D ";
  EXPECT_EQ(DecodeKeys(bytes, false), (std::vector<PlayKey>{K::kBack, K::kPause}));
}

TEST(TerminalFront, StatusLineShowsTheTimeThePassAndTheKeys) {
  char line[256];
  TerminalFront::FormatStatus(line, sizeof line, false, 65.9, 120.13, 0, 1, true);
  EXPECT_STREQ(line, "playing 1:05 / 2:00  (space: pause, left/right: 5 s, q: stop)");
  TerminalFront::FormatStatus(line, sizeof line, true, 0.0, 4.5, 1, 3, false);
  EXPECT_STREQ(line, "paused  0:00 / 0:04  pass 2 of 3  (Ctrl-C stops)");
  TerminalFront::FormatStatus(line, sizeof line, false, 3600.0, 7200.0, 41, 0, false);
  EXPECT_STREQ(line, "playing 60:00 / 120:00  pass 42, looping  (Ctrl-C stops)");
}

}  // namespace
}  // namespace quom
