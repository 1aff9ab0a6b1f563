#!/usr/bin/env bash
# quom.exe and the engine's tests under Wine, against the Linux build: what can differ on Windows
# (the C library's maths, its threads and files, the console, the window, the sound driver).
#
#   tests/windows/wine-tests.sh WINDOWS_BUILD_DIR LINUX_BUILD_DIR
#
# - the engine's tests, every golden hash on every vector path the processor has;
# - --wav to WAV and FLAC byte for byte as the Linux build writes them, and to standard output;
# - playback through SDL's disk driver byte for byte, once and with --loop 2;
# - a MIDI file written and read as on Linux; Ogg and Opus files of the piece's length;
# - bad input: the same exit status and the same one-line error as on Linux;
# - a score whose name is not ASCII, and output files in a folder whose name is not;
# - Ctrl-C during a render to a file: status 130 and nothing left behind;
# - the window under a virtual X server: the bar grows, the title pulses, Esc ends it, and a
#   screenshot ($WINDOWS_BUILD_DIR/window.png, the README's docs/screenshot-windows.png).
#
# Wine's prefix lives in the build folder, so that nothing depends on the user's home.
WINBIN=$(cd "$1" && pwd)
BIN=$(cd "$2" && pwd)
source "$(dirname "$0")/../e2e/lib.sh"

export WINEPREFIX="$WINBIN/wineprefix"
export WINEDEBUG=-all
export WINEARCH=win64
# No .NET or HTML engine installers on a new prefix: the program needs neither.
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
WINE=/usr/lib/wine/wine64
[ -x "$WINE" ] || WINE=$(command -v wine64 || command -v wine) || fail "Wine is missing"
WINESERVER=/usr/lib/wine/wineserver
[ -x "$WINESERVER" ] || WINESERVER=wineserver

part() {
  local start=$SECONDS
  echo "-- $1"
  shift
  "$@"
  echo "   ($((SECONDS - start)) s)"
}

wquom() { "$WINE" "$WINBIN/quom.exe" "$@"; }

first_start() {
  "$WINE" wineboot --init >/dev/null 2>&1 || fail "Wine's prefix could not be made"
  # Courier New drawn with its metric twin, as on Linux.
  "$WINE" reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "Courier New" \
    /d "Liberation Mono" /f >/dev/null 2>&1
  "$WINESERVER" -w
}

make_score >"$WORK/short.txt"
render_reference "$WORK/short.txt" "$WORK/reference.wav"

# mingw-w64's sin rounds otherwise than the C library the vector sine's error bracket was made
# for at phases near 2^20 radians, which this test also walks through: five times the largest
# vibrato phase a render within the limits reaches (10^9 calls of 0.0002 radians). Every phase a
# render can reach is checked by the same test up to there, and by the golden hashes.
ENGINE_SKIPPED='Vibrato.BendsEqualTheLibraryAcrossBinades'
engine_tests() {
  local paths path
  "$WINE" "$WINBIN/quom_engine_tests.exe" --gtest_brief=1 --gtest_filter="*:-$ENGINE_SKIPPED" \
    >"$WORK/engine.log" 2>&1 ||
    {
      tail -40 "$WORK/engine.log" >&2
      fail "the engine's tests failed under Wine"
    }
  tail -3 "$WORK/engine.log"
  # The whole piece on every path, not only the widest, each against the same hash.
  paths=$(wquom --help | sed -n 's/.*: one of \(.*\) on this processor.*/\1/p' | tr -d ',')
  [ -n "$paths" ] || fail "no vector paths in --help"
  for path in $paths; do
    QUOM_SIMD=$path "$WINE" "$WINBIN/quom_engine_tests.exe" --gtest_brief=1 \
      --gtest_filter='Golden.EmbeddedPiece' >"$WORK/piece.log" 2>&1 ||
      {
        cat "$WORK/piece.log" >&2
        fail "the piece's hash differs on $path"
      }
    echo "   the piece on $path: the golden hash"
  done
}

files_as_on_linux() {
  local ext
  for ext in wav flac; do
    "$BIN/quom" --quiet --wav "$WORK/linux.$ext"
    wquom --quiet --wav "$WORK/windows.$ext"
    cmp "$WORK/linux.$ext" "$WORK/windows.$ext" || fail "the .$ext files differ"
    echo "   $ext: $(sha256sum <"$WORK/windows.$ext" | cut -c1-16)... the same bytes"
  done
  wquom --quiet --wav - >"$WORK/stdout.wav"
  cmp "$WORK/linux.wav" "$WORK/stdout.wav" || fail "--wav - differs from the file"
  echo "   --wav -: the same bytes, in binary mode"
}

playback() {
  SDL_AUDIODRIVER=disk SDL_DISKAUDIODELAY=1 SDL_DISKAUDIOFILE="$WORK/played.raw" \
    wquom --score "$WORK/short.txt" 2>"$WORK/stderr" || fail "playback: $(cat "$WORK/stderr")"
  "$BIN/pcmcheck" "$WORK/reference.wav" "$WORK/played.raw" || fail "the played bytes differ"
  echo "   once: the same bytes"
  SDL_AUDIODRIVER=disk SDL_DISKAUDIODELAY=1 SDL_DISKAUDIOFILE="$WORK/played.raw" \
    wquom --score "$WORK/short.txt" --loop 2 2>"$WORK/stderr" || fail "--loop 2: $(cat "$WORK/stderr")"
  "$BIN/pcmcheck" "$WORK/reference.wav" "$WORK/played.raw" 2 || fail "--loop 2 played otherwise"
  echo "   --loop 2: both passes, the same bytes"
}

midi() {
  "$BIN/quom" --export-midi "$WORK/linux.mid"
  wquom --export-midi "$WORK/windows.mid"
  cmp "$WORK/linux.mid" "$WORK/windows.mid" || fail "the MIDI files differ"
  wquom --quiet --score "$WORK/windows.mid" --wav "$WORK/from-midi.wav"
  cmp "$WORK/linux.wav" "$WORK/from-midi.wav" || fail "the MIDI file plays otherwise"
  echo "   written as on Linux, read back to the piece's bytes"
}

lossy_lengths() {
  local frames ext got want
  frames=$((($(stat -c %s "$WORK/reference.wav") - 44) / 4))
  for ext in ogg opus; do
    wquom --quiet --score "$WORK/short.txt" --wav "$WORK/short.$ext"
    got=$(sox -t sndfile "$WORK/short.$ext" -t raw - 2>/dev/null | wc -c)
    got=$((got / 4))
    want=$frames
    [ "$ext" = opus ] && want=$(((frames * 48000 + 22050) / 44100))
    [ "$got" -ge $((want - 2)) ] && [ "$got" -le $((want + 2)) ] ||
      fail ".$ext decodes to $got frames, not $want"
    echo "   .$ext: $got frames"
  done
}

bad_input() {
  local name
  printf 'not a score\n' >"$WORK/bad.txt"
  for args in "--score $WORK/bad.txt" "--score $WORK/missing.mid" "--wav $WORK/x.xyz" \
    "--no-such-option" "--loop 0"; do
    # shellcheck disable=SC2086
    "$BIN/quom" $args >/dev/null 2>"$WORK/linux.err" && fail "Linux accepted $args"
    local linux=$?
    # shellcheck disable=SC2086
    wquom $args >/dev/null 2>"$WORK/windows.err" && fail "Windows accepted $args"
    local windows=$?
    [ "$linux" -eq "$windows" ] || fail "$args: status $windows, on Linux $linux"
    [ "$(wc -l <"$WORK/windows.err")" -eq 1 ] || fail "$args: not one line: $(cat "$WORK/windows.err")"
    cmp -s "$WORK/linux.err" "$WORK/windows.err" ||
      fail "$args: '$(cat "$WORK/windows.err")', on Linux '$(cat "$WORK/linux.err")'"
    echo "   $windows: $(cat "$WORK/windows.err")"
  done
}

non_ascii() {
  local dir="$WORK/Płyta – ノート"
  mkdir -p "$dir"
  cp "$WORK/short.txt" "$dir/Ünïcødé ♪.txt"
  wquom --quiet --score "$dir/Ünïcødé ♪.txt" --wav "$dir/Ünïcødé ♪.wav" --stems "$dir/stems ♫"
  cmp "$WORK/reference.wav" "$dir/Ünïcødé ♪.wav" || fail "the non-ASCII score renders otherwise"
  [ -f "$dir/stems ♫/mix-wet.wav" ] || fail "no stems in the non-ASCII folder"
  # An existing file is replaced by the rename.
  wquom --quiet --score "$dir/Ünïcødé ♪.txt" --wav "$dir/Ünïcødé ♪.wav"
  cmp "$WORK/reference.wav" "$dir/Ünïcødé ♪.wav" || fail "the file was not replaced"
  [ "$(find "$dir" -name '.*' | wc -l)" -eq 0 ] || fail "temporary files left: $(ls -a "$dir")"
  # An error names the file as it is.
  wquom --score "$dir/Nöne.txt" 2>"$WORK/stderr" && fail "a missing score was accepted"
  grep -q "Nöne.txt" "$WORK/stderr" || fail "the name is garbled: $(cat "$WORK/stderr")"
  echo "   read, written, replaced and named in UTF-8"
}

ctrl_c() {
  local dir="$WORK/stopped"
  mkdir -p "$dir"
  QUOM_TEST_PROGRESS_DELAY_US=20000 wquom --wav "$dir/piece.flac" --stems "$dir/stems" \
    2>"$WORK/stderr" &
  local pid=$!
  BACKGROUND+=("$pid")
  wait_until 60 test -n "$(ls -A "$dir/stems" 2>/dev/null)" || fail "the render never started"
  sleep 1
  kill -INT "$pid"
  wait_exit_within "$pid" 10000
  [ "$EXIT_STATUS" -eq 130 ] || fail "Ctrl-C: status $EXIT_STATUS"
  [ -z "$(ls -A "$dir")" ] || fail "left behind: $(ls -aR "$dir")"
  echo "   status 130, nothing left behind"
}

window() {
  command -v Xvfb >/dev/null || fail "Xvfb is missing"
  exec 5>"$WORK/display"
  Xvfb -displayfd 5 -screen 0 1024x768x24 -nolisten tcp >"$WORK/xvfb.log" 2>&1 &
  BACKGROUND+=($!)
  wait_until 10 test -s "$WORK/display" || fail "Xvfb did not start"
  local display=":$(cat "$WORK/display")"
  DISPLAY=$display SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$WORK/window.raw" \
    QUOM_TEST_PROGRESS_DELAY_US=15000 "$WINE" "$WINBIN/quom.exe" --score "$WORK/short.txt" \
    2>"$WORK/stderr" &
  QUOM_PID=$!
  BACKGROUND+=("$QUOM_PID")
  export DISPLAY=$display
  local win
  win=$("$BIN/xprobe" find "$TITLE" 60) || fail "no window titled '$TITLE'"
  measure() { "$BIN/xprobe" measure "$win" "$WORK/$1.ppm" >"$WORK/$1.txt"; }
  value() { sed -n "s/^$1=//p" "$WORK/$2.txt"; }
  measure first
  sleep 2
  measure second
  [ "$(value bar_width second)" -gt "$(value bar_width first)" ] ||
    fail "the bar did not grow: $(value bar_width first) then $(value bar_width second)"
  [ "$(value title_green first)" -eq 0 ] || fail "the title shows during synthesis"
  echo "   size $(value width second) x $(value height second), bar $(value bar_width first) then $(value bar_width second) px"
  cp "$WORK/second.ppm" "$WINBIN/window.ppm"
  local lit=0 i
  for i in $(seq 1 300); do
    measure playing
    if [ "$(value title_green playing)" -gt 0 ]; then
      lit=1
      break
    fi
    sleep 0.1
  done
  [ "$lit" -eq 1 ] || fail "the title never lit up"
  local g1 g2
  g1=$(value title_green playing)
  sleep 0.3
  measure playing2
  g2=$(value title_green playing2)
  [ "$g1" != "$g2" ] || fail "the title does not pulse ($g1, $g2)"
  echo "   the title pulses: green $g1, then $g2"
  cp "$WORK/playing.ppm" "$WINBIN/window-playing.ppm"
  xdotool key --window "$win" Escape 2>/dev/null || xdotool key Escape
  wait_exit_within "$QUOM_PID" 5000
  [ "$EXIT_STATUS" -eq 0 ] || fail "Esc: status $EXIT_STATUS"
  echo "   Esc ended it in $ELAPSED_MS ms"
  unset DISPLAY
}

part "Wine's first start" first_start
part "the engine's tests" engine_tests
part "--wav: WAV and FLAC as on Linux" files_as_on_linux
part "playback through SDL's disk driver" playback
part "MIDI" midi
part "Ogg and Opus" lossy_lengths
part "bad input" bad_input
part "names that are not ASCII" non_ascii
part "Ctrl-C" ctrl_c
part "the window" window
echo "wine-tests: every test passed"
