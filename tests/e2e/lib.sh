# Shared helpers of the end-to-end scripts: a scratch folder, background processes that are
# always cleaned up, a short score, and timed waits. Sourced, with BIN set to the build folder.
set -euo pipefail

TITLE="Quom [32k EXE Music] by Kuvro"
WORK=$(mktemp -d "${TMPDIR:-/tmp}/quom-e2e.XXXXXX")
BACKGROUND=()  # pids to end on exit

cleanup() {
  local pid
  for pid in "${BACKGROUND[@]}"; do
    kill "$pid" 2>/dev/null || true
  done
  for pid in "${BACKGROUND[@]}"; do
    wait "$pid" 2>/dev/null || true
  done
  rm -rf "$WORK"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

now_ms() { echo $(($(date +%s%N) / 1000000)); }

# About four seconds of music as a text score, one "start length note velocity instrument"
# record a line (ticks of 4/110 s): a melody, drums, a bass and a chord tone.
make_score() {
  local t
  for t in 0 8 16 24 32 40 48 56 64 72; do
    echo "$t 8 $((57 + t % 24 / 8 * 2)) 100 25"
    echo "$t 1 36 120 127"
  done
  echo "0 40 33 110 32"
  echo "40 40 29 110 32"
  echo "20 30 64 90 26"
}

# The piece as --wav renders it, for comparing what was played against.
render_reference() {
  "$BIN/quom" --quiet --score "$1" --wav "$2"
}

# The program start_quom runs: this build's, unless a script tests another (the Windows build
# under Wine).
QUOM=("$BIN/quom")

# Starts the program in the background; its pid goes to QUOM_PID, its stderr to $WORK/stderr.
start_quom() {
  "${QUOM[@]}" "$@" 2>"$WORK/stderr" &
  QUOM_PID=$!
  BACKGROUND+=("$QUOM_PID")
}

# Waits at most $2 ms for process $1 to end; sets EXIT_STATUS and ELAPSED_MS (from the call).
wait_exit_within() {
  local pid=$1 limit=$2 start
  start=$(now_ms)
  while kill -0 "$pid" 2>/dev/null; do
    if [ $(($(now_ms) - start)) -gt "$limit" ]; then
      fail "process $pid still running after $limit ms"
    fi
    sleep 0.01
  done
  ELAPSED_MS=$(($(now_ms) - start))
  EXIT_STATUS=0
  wait "$pid" || EXIT_STATUS=$?
  forget "$pid"
}

# Drops a pid that has been waited for from the cleanup list.
forget() {
  local keep=() p
  for p in "${BACKGROUND[@]}"; do
    [ "$p" = "$1" ] || keep+=("$p")
  done
  BACKGROUND=("${keep[@]}")
}

# Polls `$2...` every 50 ms until it succeeds, for at most $1 seconds.
wait_until() {
  local limit=$1 start
  shift
  start=$(now_ms)
  until "$@"; do
    [ $(($(now_ms) - start)) -gt $((limit * 1000)) ] && return 1
    sleep 0.05
  done
}
