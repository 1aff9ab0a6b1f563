#!/usr/bin/env bash
# quom.exe and the engine's tests under Wine, against the Linux build: what can differ on Windows
# (the C library's maths, its threads and files, the console, the window, the sound driver).
#
#   tests/windows/wine-tests.sh WINDOWS_BUILD_DIR LINUX_BUILD_DIR
#
# - the engine's tests, and the golden hashes of the piece and the all-instruments score on every
#   vector path the processor has;
# - --wav to WAV and FLAC byte for byte as the Linux build writes them, and to standard output;
# - playback through SDL's disk driver byte for byte, once and with --loop 2, saying what Linux
#   says;
# - a MIDI file written and read as on Linux; Ogg and Opus files of the piece's length;
# - bad input: the same exit status and the same one-line error as on Linux;
# - a score whose name is not ASCII, and output files in a folder whose name is not;
# - Ctrl-C during a render to files: status 130 and nothing left behind;
# - the window under a virtual X server, through the same checks as Linux's (tests/e2e/window.sh:
#   the layout, the bar, the pulse, Esc and the close request), and its screenshot
#   ($WINDOWS_BUILD_DIR/window.ppm, the README's docs/screenshot-windows.png);
# - the console: one made for quom alone goes when the window comes, one shared with a shell stays.
#
# Wine's prefix lives in the build folder, so that nothing depends on the user's home.
WINBIN=$(cd "$1" && pwd)
BIN=$(cd "$2" && pwd)
source "$(dirname "$0")/../e2e/lib.sh"
E2E=$(cd "$(dirname "$0")/../e2e" && pwd)

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

# Windows' text lines end in CR LF: the same lines as Linux's when the CRs go.
same_text() { cmp -s "$1" <(tr -d '\r' <"$2"); }

first_start() {
  "$WINE" wineboot --init >/dev/null 2>&1 || fail "Wine's prefix could not be made"
  # Courier New drawn with its metric twin, as on Linux.
  "$WINE" reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "Courier New" \
    /d "Liberation Mono" /f >/dev/null 2>&1
  "$WINESERVER" -w
}

make_score >"$WORK/short.txt"
render_reference "$WORK/short.txt" "$WORK/reference.wav"

# What cannot differ on Windows is left to the Linux run: the literal renderings of many layers
# on every path (each kernel they are made of is checked against its literal form here, and the
# goldens check their sum), the every-path golden test, which starts with a literal render of
# its own (the goldens run on each path below instead), the stages' renders of the two goldens
# again, and the note list readers' kept fuzz inputs (integer parsing, no maths, threads or
# files of the system's).
ENGINE_SKIPPED='Layers.AloneAndInLanesAsTheLiteralRenderingOnEveryPath'
ENGINE_SKIPPED+=':Golden.EveryPathAndThreadCountGivesTheSameRender'
ENGINE_SKIPPED+=':Golden.FastStagesGiveTheSameRenders:FuzzCorpus.*'
engine_tests() {
  local paths path
  "$WINE" "$WINBIN/quom_engine_tests.exe" --gtest_brief=1 --gtest_filter="*:-$ENGINE_SKIPPED" \
    >"$WORK/engine.log" 2>&1 ||
    {
      tail -40 "$WORK/engine.log" >&2
      fail "the engine's tests failed under Wine"
    }
  tail -3 "$WORK/engine.log"
  # The piece and the all-instruments score on every path, each against the same hash, on the
  # worker pool.
  paths=$(wquom --help | sed -n 's/.*: one of \(.*\) on this processor.*/\1/p' | tr -d ',')
  [ -n "$paths" ] || fail "no vector paths in --help"
  for path in $paths; do
    QUOM_SIMD=$path "$WINE" "$WINBIN/quom_engine_tests.exe" --gtest_brief=1 \
      --gtest_filter='Golden.EmbeddedPiece:Golden.AnObserverThatReadsTheBusGetsItWhole' \
      >"$WORK/piece.log" 2>&1 ||
      {
        cat "$WORK/piece.log" >&2
        fail "a golden hash differs on $path"
      }
    echo "   the piece and the all-instruments score on $path: the golden hashes"
  done
}

files_as_on_linux() {
  local ext
  for ext in wav flac; do
    "$BIN/quom" --quiet --wav "$WORK/linux.$ext"
    wquom --quiet --wav "$WORK/windows.$ext"
    cmp "$WORK/linux.$ext" "$WORK/windows.$ext" || fail "the .$ext files differ"
    echo "   $ext: sha256 $(sha256sum <"$WORK/windows.$ext" | cut -d' ' -f1), the same bytes"
  done
  wquom --quiet --wav - >"$WORK/stdout.wav"
  cmp "$WORK/linux.wav" "$WORK/stdout.wav" || fail "--wav - differs from the file"
  echo "   --wav -: the same bytes, in binary mode"
}

# The file SDL's disk driver writes is the one SDL_DISKAUDIOFILE names, whatever else SDL reads
# from the environment meanwhile.
playback() {
  export SDL_AUDIODRIVER=disk SDL_DISKAUDIODELAY=1 SDL_DISKAUDIOFILE="$WORK/played.raw"
  "$BIN/quom" --score "$WORK/short.txt" 2>"$WORK/linux.err"
  rm -f "$WORK/played.raw"
  wquom --score "$WORK/short.txt" 2>"$WORK/windows.err" || fail "playback: $(cat "$WORK/windows.err")"
  "$BIN/pcmcheck" "$WORK/reference.wav" "$WORK/played.raw" || fail "the played bytes differ"
  same_text "$WORK/linux.err" "$WORK/windows.err" ||
    fail "playback says '$(cat "$WORK/windows.err")', on Linux '$(cat "$WORK/linux.err")'"
  echo "   once: the same bytes; $(tr -d '\r' <"$WORK/windows.err")"
  wquom --score "$WORK/short.txt" --loop 2 2>"$WORK/windows.err" ||
    fail "--loop 2: $(cat "$WORK/windows.err")"
  "$BIN/pcmcheck" "$WORK/reference.wav" "$WORK/played.raw" 2 || fail "--loop 2 played otherwise"
  echo "   --loop 2: both passes, the same bytes"
  unset SDL_AUDIODRIVER SDL_DISKAUDIODELAY SDL_DISKAUDIOFILE
}

midi() {
  "$BIN/quom" --export-midi "$WORK/linux.mid"
  wquom --export-midi "$WORK/windows.mid"
  cmp "$WORK/linux.mid" "$WORK/windows.mid" || fail "the MIDI files differ"
  wquom --quiet --score "$WORK/windows.mid" --wav "$WORK/from-midi.wav"
  cmp "$WORK/linux.wav" "$WORK/from-midi.wav" || fail "the MIDI file plays otherwise"
  echo "   written as on Linux, read back to the piece's bytes"
}

# The encoders' own delays are trimmed on decoding: the piece's length, at Opus's 48 kHz too.
lossy_lengths() {
  local frames ext got want
  frames=$((($(stat -c %s "$WORK/reference.wav") - 44) / 4))
  for ext in ogg opus; do
    wquom --quiet --score "$WORK/short.txt" --wav "$WORK/short.$ext"
    read -r got _ < <("$BIN/decodedframes" "$WORK/short.$ext") || fail "the .$ext file does not decode"
    want=$frames
    [ "$ext" = opus ] && want=$(((frames * 48000 + 22050) / 44100))
    [ "$got" -ge $((want - 2)) ] && [ "$got" -le $((want + 2)) ] ||
      fail ".$ext decodes to $got frames, not $want"
    echo "   .$ext: $got frames, $want expected"
  done
}

bad_input() {
  local args linux windows
  printf 'not a score\n' >"$WORK/bad.txt"
  printf '0 8 57 100 25\n-5 8 57 100 25\n' >"$WORK/early.txt"
  mkdir -p "$WORK/folder.wav"
  for args in "--score $WORK/bad.txt" "--score $WORK/early.txt" "--score $WORK/missing.mid" \
    "--wav $WORK/x.xyz" "--wav $WORK/folder.wav" "--no-such-option" "--loop 0" "--simd no-such-path"; do
    # shellcheck disable=SC2086
    "$BIN/quom" $args >/dev/null 2>"$WORK/linux.err" && fail "Linux accepted $args"
    linux=$?
    # shellcheck disable=SC2086
    wquom $args >/dev/null 2>"$WORK/windows.err" && fail "Windows accepted $args"
    windows=$?
    [ "$linux" -eq "$windows" ] || fail "$args: status $windows, on Linux $linux"
    [ "$(wc -l <"$WORK/windows.err")" -eq 1 ] || fail "$args: not one line: $(cat "$WORK/windows.err")"
    same_text "$WORK/linux.err" "$WORK/windows.err" ||
      fail "$args: '$(cat "$WORK/windows.err")', on Linux '$(cat "$WORK/linux.err")'"
    echo "   $windows: $(tr -d '\r' <"$WORK/windows.err")"
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

# Wine turns SIGINT into the console's Ctrl-C event. (Ctrl-Break, the same event to quom, has no
# such way in: Wine 8's GenerateConsoleCtrlEvent fails.)
ctrl_c() {
  rm -rf "$WORK/out"
  mkdir "$WORK/out"
  QUOM=("$WINE" "$WINBIN/quom.exe")
  start_quom --quiet --wav "$WORK/out/piece.wav" --stems "$WORK/out/new/stems"
  wait_until 30 compgen -G "$WORK/out/.piece.wav.*" >/dev/null || fail "no temporary file appeared"
  kill -INT "$QUOM_PID"
  wait_exit_within "$QUOM_PID" 5000
  [ "$EXIT_STATUS" -eq 130 ] || fail "Ctrl-C: status $EXIT_STATUS"
  [ -z "$(ls -A "$WORK/out")" ] || fail "left behind: $(ls -AR "$WORK/out")"
  echo "   status 130 in $ELAPSED_MS ms, nothing left behind"
}

# Wine's server keeps the display its first program found (none, for the parts above) while any
# program runs and for a moment after: the window's parts wait for a new one.
new_wine_server() { "$WINESERVER" -w; }

window() {
  new_wine_server
  QUOM_SCREENSHOT="$WINBIN/window.ppm" bash "$E2E/window.sh" "$BIN" "$WINE" "$WINBIN/quom.exe" |
    sed 's/^/   /' || fail "the window failed its checks"
}

# A console made for quom alone (as Explorer makes one for a double-clicked quom.exe) goes when
# the window comes; one it shares with a shell stays, with the shell.
console() {
  new_wine_server
  exec 5>"$WORK/console-display"
  Xvfb -displayfd 5 -screen 0 1024x768x24 -nolisten tcp >"$WORK/xvfb.log" 2>&1 &
  BACKGROUND+=($!)
  wait_until 10 test -s "$WORK/console-display" || fail "Xvfb did not start"
  local display=":$(cat "$WORK/console-display")" how win others
  for how in alone shared; do
    local run=("Z:${WINBIN//\//\\}\\quom.exe" --score "$WORK/short.txt")
    [ "$how" = shared ] && run=(cmd /c "${run[@]}")
    DISPLAY=$display QUOM_TEST_PROGRESS_DELAY_US=15000 SDL_AUDIODRIVER=dummy \
      "$WINE" wineconsole "${run[@]}" 2>/dev/null &
    QUOM_PID=$!
    BACKGROUND+=("$QUOM_PID")
    win=$(DISPLAY=$display "$BIN/xprobe" find "$TITLE" 60) || fail "$how: no window"
    sleep 1
    others=$(DISPLAY=$display "$BIN/xprobe" list | grep -vxF "$TITLE" || true)
    if [ "$how" = alone ]; then
      [ -z "$others" ] || fail "a console of quom's own stays beside the window: $others"
    else
      grep -qi 'cmd.exe' <<<"$others" || fail "the shell's console went: '$others'"
    fi
    DISPLAY=$display xdotool windowfocus --sync "$win" key Escape
    wait_exit_within "$QUOM_PID" 10000
    echo "   $how: ${others:-no console window} beside quom's"
  done
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
part "the console" console
echo "wine-tests: every test passed"
