#!/usr/bin/env bash
# Runs without a display: playback through SDL's disk driver checked byte for byte, once and
# looped, the driver chosen on the command line, Ctrl-C during synthesis and during playback,
# Ctrl-C and terminate while rendering to files, --quiet, the one-line report when no sound device
# can be used, and the WAV stream on standard output read by sox.
#
#   terminal.sh BUILD_DIR
BIN=$(cd "$1" && pwd)
source "$(dirname "$0")/lib.sh"

unset DISPLAY WAYLAND_DISPLAY
make_score >"$WORK/short.txt"
render_reference "$WORK/short.txt" "$WORK/reference.wav"
export SDL_DISKAUDIOFILE="$WORK/played.raw"

echo "-- a display that cannot be reached; playback through the disk driver, faster than real time"
DISPLAY=:987 SDL_AUDIODRIVER=disk SDL_DISKAUDIODELAY=1 start_quom --score "$WORK/short.txt"
wait_exit_within "$QUOM_PID" 60000
[ "$EXIT_STATUS" -eq 0 ] || fail "status $EXIT_STATUS: $(cat "$WORK/stderr")"
"$BIN/pcmcheck" "$WORK/reference.wav" "$WORK/played.raw" || fail "the played bytes differ"
grep -q "playing" "$WORK/stderr" || fail "no playback line on stderr"

echo "-- --loop 3: three passes, each straight after the one before"
rm -f "$WORK/played.raw"
SDL_AUDIODRIVER=disk SDL_DISKAUDIODELAY=5 start_quom --score "$WORK/short.txt" --loop 3
wait_exit_within "$QUOM_PID" 60000
[ "$EXIT_STATUS" -eq 0 ] || fail "status $EXIT_STATUS: $(cat "$WORK/stderr")"
"$BIN/pcmcheck" "$WORK/reference.wav" "$WORK/played.raw" 3 || fail "the played bytes differ"

echo "-- --audio-driver wins over SDL_AUDIODRIVER; --quiet prints nothing"
rm -f "$WORK/played.raw"
SDL_AUDIODRIVER=no-such-driver SDL_DISKAUDIODELAY=1 \
  start_quom --score "$WORK/short.txt" --audio-driver disk --quiet
wait_exit_within "$QUOM_PID" 60000
[ "$EXIT_STATUS" -eq 0 ] || fail "status $EXIT_STATUS: $(cat "$WORK/stderr")"
"$BIN/pcmcheck" "$WORK/reference.wav" "$WORK/played.raw" || fail "the played bytes differ"
[ ! -s "$WORK/stderr" ] || fail "--quiet printed: $(cat "$WORK/stderr")"

echo "-- Ctrl-C during synthesis"
SDL_AUDIODRIVER=disk start_quom --score "$WORK/short.txt"
sleep 1
kill -INT "$QUOM_PID"
wait_exit_within "$QUOM_PID" 1000
[ "$EXIT_STATUS" -eq 130 ] || fail "status $EXIT_STATUS after Ctrl-C"
echo "   ended in $ELAPSED_MS ms"

# During playback, at the pace of a real device: Ctrl-C, or a request to terminate.
stop_playback() {
  rm -f "$WORK/played.raw"
  SDL_AUDIODRIVER=disk start_quom --score "$WORK/short.txt"
  wait_until 60 grep -q "playing" "$WORK/stderr" || fail "playback never started"
  sleep 0.5
  kill "-$1" "$QUOM_PID"
  wait_exit_within "$QUOM_PID" 1000
  [ "$EXIT_STATUS" -eq "$2" ] || fail "status $EXIT_STATUS after SIG$1"
  echo "   ended in $ELAPSED_MS ms"
  [ "$(stat -c %s "$WORK/played.raw")" -lt "$(stat -c %s "$WORK/reference.wav")" ] ||
    fail "the sound was not cut off"
}
echo "-- Ctrl-C during playback"
stop_playback INT 130
echo "-- terminate during playback"
stop_playback TERM 143

# Stopped while rendering to files: the temporary files and the folder made for the stems go,
# nothing is left where the outputs would have been. The temporary files exist from the start.
stop_render() {
  rm -rf "$WORK/out"
  mkdir "$WORK/out"
  start_quom --quiet --wav "$WORK/out/piece.wav" --stems "$WORK/out/new/stems"
  wait_until 10 compgen -G "$WORK/out/.piece.wav.*" >/dev/null || fail "no temporary file appeared"
  kill "-$1" "$QUOM_PID"
  wait_exit_within "$QUOM_PID" 1000
  [ "$EXIT_STATUS" -eq "$2" ] || fail "status $EXIT_STATUS after SIG$1 during --wav"
  [ -z "$(ls -A "$WORK/out")" ] || fail "left behind after SIG$1: $(ls -AR "$WORK/out")"
}
echo "-- Ctrl-C and terminate while rendering to files"
stop_render INT 130
stop_render TERM 143

# No sound device: one line naming SDL's reason and the way out, before any synthesis, and none
# of the sound libraries' own complaints.
no_sound() {
  local expected=$1
  shift
  start_quom --score "$WORK/short.txt" "$@"
  wait_exit_within "$QUOM_PID" 3000
  [ "$EXIT_STATUS" -eq 1 ] || fail "status $EXIT_STATUS without a sound device"
  [ "$(wc -l <"$WORK/stderr")" -eq 1 ] || fail "not one line: $(cat "$WORK/stderr")"
  grep -q "$expected" "$WORK/stderr" || fail "SDL's reason missing: $(cat "$WORK/stderr")"
  grep -q "quom --wav FILE" "$WORK/stderr" || fail "no way out offered: $(cat "$WORK/stderr")"
  echo "   $(cat "$WORK/stderr")"
}
echo "-- no usable sound device"
ALSA_CONFIG_PATH=/nonexistent no_sound ALSA --audio-driver alsa
SDL_AUDIODRIVER=no-such-driver no_sound no-such-driver
echo "-- a WAV stream through a pipe, read by sox, which trusts its header"
command -v sox >/dev/null || fail "sox is missing (./dev.sh deps installs it)"
"$BIN/quom" --quiet --score "$WORK/short.txt" --wav - | sox -t wav - -t raw "$WORK/piped.raw"
"$BIN/pcmcheck" "$WORK/reference.wav" "$WORK/piped.raw" || fail "the piped bytes differ"
[ "$(stat -c %s "$WORK/piped.raw")" -eq "$(($(stat -c %s "$WORK/reference.wav") - 44))" ] ||
  fail "sox read $(stat -c %s "$WORK/piped.raw") bytes of samples"
# sox --i reads the header alone and goes: quom ends quietly, with 141 when it was still writing.
if "$BIN/quom" --quiet --score "$WORK/short.txt" --wav - 2>"$WORK/stderr" |
  sox --i -s - >"$WORK/frames"; then status=0; else status=${PIPESTATUS[0]}; fi
[ "$status" -eq 0 ] || [ "$status" -eq 141 ] || fail "status $status after the reader went"
[ ! -s "$WORK/stderr" ] || fail "a closed pipe was reported: $(cat "$WORK/stderr")"
frames=$(cat "$WORK/frames")
[ "$frames" -eq $(($(stat -c %s "$WORK/piped.raw") / 4)) ] || fail "the header says $frames frames"
echo "PASS"
