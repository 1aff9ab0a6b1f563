#!/usr/bin/env bash
# Playback through the real sound stack: a private PipeWire server with a null sink at 44,100 Hz,
# the program on SDL's default driver, and a recording of the sink that must hold the piece
# byte for byte.
#
#   pipewire.sh BUILD_DIR
BIN=$(cd "$1" && pwd)
source "$(dirname "$0")/lib.sh"

for tool in pipewire wireplumber pipewire-pulse pactl pw-record pw-metadata dbus-run-session; do
  command -v "$tool" >/dev/null || fail "$tool is missing (./dev.sh deps installs it)"
done
# The servers need a session bus of their own.
if [ -z "${QUOM_IN_SESSION:-}" ]; then
  QUOM_IN_SESSION=1 exec dbus-run-session -- bash "$0" "$@"
fi

unset DISPLAY WAYLAND_DISPLAY SDL_AUDIODRIVER PULSE_SERVER PIPEWIRE_REMOTE
export XDG_RUNTIME_DIR="$WORK/runtime"
mkdir -m 700 "$XDG_RUNTIME_DIR"

make_score >"$WORK/short.txt"
render_reference "$WORK/short.txt" "$WORK/reference.wav"

pipewire >"$WORK/pipewire.log" 2>&1 &
BACKGROUND+=($!)
wireplumber >"$WORK/wireplumber.log" 2>&1 &
BACKGROUND+=($!)
pipewire-pulse >"$WORK/pipewire-pulse.log" 2>&1 &
BACKGROUND+=($!)
wait_until 20 pactl info >/dev/null 2>&1 || fail "the sound server did not answer"

pactl load-module module-null-sink sink_name=ci sink_properties=audio.rate=44100 >/dev/null
sink_ready() { pactl list short sinks | grep -q -w ci; }
wait_until 10 sink_ready || fail "the null sink did not appear"
pactl set-default-sink ci
pw-metadata -n settings 0 clock.force-rate 44100 >/dev/null
# The largest period the graph allows: the most slack for a recorder late on a busy machine.
pw-metadata -n settings 0 clock.force-quantum 2048 >/dev/null
default_is_ci() { [ "$(pactl get-default-sink)" = ci ]; }
wait_until 10 default_is_ci || fail "the null sink is not the default"

# One recording of one playback; the whole stack runs in real time on a shared machine, so a
# run that glitched is tried once more before the test fails.
attempt() {
  rm -f "$WORK/capture.wav"
  pw-record --target ci --rate 44100 --channels 2 --format s16 "$WORK/capture.wav" &
  local recorder=$!
  BACKGROUND+=("$recorder")
  recording() { pactl list short source-outputs | grep -q .; }
  wait_until 10 recording || fail "the recorder did not connect"

  start_quom --score "$WORK/short.txt"
  wait_exit_within "$QUOM_PID" 60000
  [ "$EXIT_STATUS" -eq 0 ] || fail "status $EXIT_STATUS: $(cat "$WORK/stderr")"
  sleep 0.3
  kill -INT "$recorder"
  wait "$recorder" || true
  forget "$recorder"
  "$BIN/pcmcheck" "$WORK/reference.wav" "$WORK/capture.wav" && return 0
  # Keep what differed for a look, when asked to.
  [ -n "${QUOM_E2E_KEEP:-}" ] && cp "$WORK/reference.wav" "$WORK/capture.wav" "$QUOM_E2E_KEEP/"
  return 1
}
echo "-- the piece through PipeWire"
attempt || { echo "   retrying once"; attempt; } || fail "the recording differs from the piece"
echo "PASS"
