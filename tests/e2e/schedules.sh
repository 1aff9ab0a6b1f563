#!/usr/bin/env bash
# Renders under many schedules: the embedded piece and the all-instruments score on several worker
# counts, each pinned to one processor (every thread takes turns on it) and free, every render
# equal to its golden hash. With --soak N, N renders instead, the worker counts going round 1 to
# 16 and the two scores and the pinning alternating, with a tally at the end.
#
#   schedules.sh BUILD_DIR [--soak N]
BIN=$1
source "$(dirname "$0")/lib.sh"

# The golden hashes of the two scores' PCM (tests/render/golden_test.cpp).
PIECE_SHA=7c4443969f46527b327445230bd39ab5aa6274e9a1eee9488254e3800c080211
ALL_SHA=2b5038bd098ac62140b557cc74f8538d31d7b58942c737303fe0d380053168cc

# The all-instruments score of the engine's tests (tests/TestScores.h): every instrument code,
# overlapping, within one second.
cat >"$WORK/all.txt" <<'EOF'
0 4 60 100 24
2 3 64 110 25
3 5 62 90 50
4 6 55 90 26
6 4 33 120 27
8 4 29 127 32
10 3 36 80 37
0 1 36 127 127
2 1 38 110 127
4 1 39 100 127
6 1 40 100 127
8 1 59 90 127
10 1 61 90 127
12 1 63 90 127
14 1 67 100 127
16 1 69 100 127
12 2 72 127 25
EOF

# render SCORE THREADS PINNED: the PCM's SHA-256 (the WAV stream less its 44-byte header).
render() {
  local score=$1 threads=$2 pinned=$3 args=(--quiet --wav - --threads "$2") pin=()
  [ "$score" = all ] && args+=(--score "$WORK/all.txt")
  [ "$pinned" = yes ] && pin=(taskset -c 0)
  "${pin[@]}" "$BIN/quom" "${args[@]}" | tail -c +45 | sha256sum | cut -d' ' -f1
}

check() {
  local score=$1 threads=$2 pinned=$3 want=$PIECE_SHA got
  [ "$score" = all ] && want=$ALL_SHA
  got=$(render "$score" "$threads" "$pinned")
  [ "$got" = "$want" ] ||
    fail "$score score, $threads workers, pinned: $pinned: PCM $got instead of $want"
}

if [ "${2:-}" = --soak ]; then
  total=${3:?the number of renders}
  start=$SECONDS
  for ((i = 0; i < total; i++)); do
    score=piece pinned=no
    ((i % 2)) && score=all
    ((i / 2 % 2)) && pinned=yes
    check "$score" $((i % 16 + 1)) "$pinned"
    ((i % 50 == 49)) && echo "soak: $((i + 1)) of $total renders equal to their golden hash" >&2
  done
  echo "soak: all $total renders equal to their golden hash, in $((SECONDS - start)) s" >&2
  exit 0
fi

for score in all piece; do
  for threads in 1 2 3 5 9; do
    for pinned in yes no; do
      check "$score" "$threads" "$pinned"
    done
  done
done
echo "schedules: 20 renders equal to their golden hash" >&2
