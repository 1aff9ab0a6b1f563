#!/usr/bin/env bash
# The window under a virtual X server: its layout and progress checked by pixels during
# synthesis and playback, the title pulse, the played bytes, and the three ways a run ends early
# (Esc during synthesis and during playback, the window manager's close request).
#
#   window.sh BUILD_DIR [PROGRAM...]
#
# PROGRAM is the command that runs the program under test (tests/windows/wine-tests.sh passes
# Wine and quom.exe); by default BUILD_DIR's quom. BUILD_DIR's quom renders the reference and its
# xprobe and pcmcheck do the measuring, so that every platform's window meets the same checks.
BIN=$(cd "$1" && pwd)
source "$(dirname "$0")/lib.sh"
OWN_PROGRAM=1
[ $# -gt 1 ] && QUOM=("${@:2}") && OWN_PROGRAM=0

for tool in Xvfb xdotool; do
  command -v "$tool" >/dev/null || fail "$tool is missing (./dev.sh deps installs it)"
done

# A private X server; -displayfd reports the display number it took.
exec 5>"$WORK/display"
Xvfb -displayfd 5 -screen 0 1024x768x24 -nolisten tcp >"$WORK/xvfb.log" 2>&1 &
BACKGROUND+=($!)
wait_until 10 test -s "$WORK/display" || fail "Xvfb did not start"
export DISPLAY=":$(cat "$WORK/display")"
unset WAYLAND_DISPLAY

make_score >"$WORK/short.txt"
render_reference "$WORK/short.txt" "$WORK/reference.wav"

# Playback goes to a file, at the pace of a real device.
export SDL_AUDIODRIVER=disk
export SDL_DISKAUDIOFILE="$WORK/played.raw"
unset SDL_DISKAUDIODELAY

# Measures the window into $WORK/$1.txt (and a screenshot $1.ppm); `value NAME` reads from it.
measure() {
  "$BIN/xprobe" measure "$WIN" "$WORK/$1.ppm" >"$WORK/$1.txt"
  LAST="$WORK/$1.txt"
}
value() { sed -n "s/^$1=//p" "$LAST"; }
expect() {  # expect NAME OP NUMBER
  local v
  v=$(value "$1")
  [ -n "$v" ] && [ "$v" "-$2" "$3" ] || fail "$(basename "$LAST" .txt): $1=$v, expected $2 $3"
}
find_window() {
  WIN=$("$BIN/xprobe" find "$TITLE" 60) || fail "no window titled '$TITLE'"
}
bar_at_least() {
  measure poll
  [ "$(value bar_width)" -ge "$1" ]
}
# The bar has its design width until the first refresh, which also writes the time: a bar that
# grows is one measured after that.
refreshed_bar_at_least() {
  measure poll
  [ "$(value time_green)" -gt 0 ] && [ "$(value bar_width)" -ge "$1" ]
}
title_lit() {
  measure poll
  [ "$(value title_green)" -gt 0 ]
}
the_layout() {  # what every screenshot shows
  # the class the desktop entry names (StartupWMClass); under Wine the class is Wine's, after the
  # exe's name, and Windows has no such entry
  [ "$OWN_PROGRAM" = 0 ] || [ "$(value class)" = "quom.Quom" ] ||
    fail "$(basename "$LAST" .txt): class=$(value class)"
  expect width eq 479
  expect height eq 146
  expect x eq 272 # centred on the 1024 x 768 screen
  expect y eq 311
  expect background_stray eq 0
  expect bar_top eq 8
  expect bar_bottom eq 24
  expect prepare_green gt 100
  expect prepare_other eq 0
  expect percent_green gt 10
  expect percent_other eq 0
  expect time_green gt 100
  expect time_other eq 0
  expect title_other eq 0
}

echo "-- a whole run: synthesis, playback, end"
QUOM_TEST_PROGRESS_DELAY_US=15000 start_quom --score "$WORK/short.txt"
find_window
wait_until 30 refreshed_bar_at_least 2 || fail "the bar did not grow"
measure synthesis1
the_layout
expect title_green eq 0 # invisible until playback
BAR1=$(value bar_width)
sleep 1
measure synthesis2
the_layout
expect title_green eq 0
expect bar_width gt "$BAR1"
BAR2=$(value bar_width)

# Keys other than Esc do nothing.
xdotool windowfocus --sync "$WIN" key a Return space shift+q ctrl+c
sleep 0.3
kill -0 "$QUOM_PID" 2>/dev/null || fail "a key other than Esc ended the program"

wait_until 60 title_lit || fail "the title never lit up"
measure playback
the_layout
expect title_max_green gt 0
expect title_max_green le 255
expect bar_width ge "$BAR2"
wait_exit_within "$QUOM_PID" 15000
[ "$EXIT_STATUS" -eq 0 ] || fail "the run ended with status $EXIT_STATUS"
"$BIN/pcmcheck" "$WORK/reference.wav" "$WORK/played.raw" || fail "the played bytes differ"

echo "-- --loop 2 in the window: the piece twice without a break, 18 times faster than real time"
rm -f "$SDL_DISKAUDIOFILE"
SDL_DISKAUDIODELAY=5 start_quom --score "$WORK/short.txt" --loop 2
wait_exit_within "$QUOM_PID" 60000
[ "$EXIT_STATUS" -eq 0 ] || fail "the looped run ended with status $EXIT_STATUS"
"$BIN/pcmcheck" "$WORK/reference.wav" "$WORK/played.raw" 2 || fail "the played bytes differ"

# Ends a run with $1 ("esc" or "close") once `$2...` holds; the program must be gone within a
# second, with status 0.
end_run() {
  local how=$1
  shift
  start_quom --score "$WORK/short.txt"
  find_window
  wait_until 60 "$@" || fail "the run never reached the state to stop it in"
  if [ "$how" = esc ]; then
    xdotool windowfocus --sync "$WIN" key Escape
  else
    "$BIN/xprobe" close "$WIN"
  fi
  wait_exit_within "$QUOM_PID" 1000
  [ "$EXIT_STATUS" -eq 0 ] || fail "$how: status $EXIT_STATUS"
  echo "   ended in $ELAPSED_MS ms"
}

echo "-- Esc during synthesis"
export QUOM_TEST_PROGRESS_DELAY_US=15000
end_run esc bar_at_least 1
echo "-- close request during synthesis"
end_run close bar_at_least 1
unset QUOM_TEST_PROGRESS_DELAY_US

echo "-- Esc during playback"
rm -f "$SDL_DISKAUDIOFILE"
end_run esc title_lit
reference_bytes=$(stat -c %s "$WORK/reference.wav")
[ "$(stat -c %s "$SDL_DISKAUDIOFILE")" -lt "$reference_bytes" ] || fail "the sound was not cut off"
echo "-- close request during playback"
end_run close title_lit

# The screenshot of the whole run's playback, for the README.
if [ -n "${QUOM_SCREENSHOT:-}" ]; then cp "$WORK/playback.ppm" "$QUOM_SCREENSHOT"; fi
echo "PASS"
