#!/usr/bin/env bash
# Fails when a source file includes a header from a layer above its own, or from another folder
# of its own layer. The engine's layers, lowest first; the program sits on top of them.
#
#   0  base/ (helpers with no sound of their own)    score/ (the note list readers)
#   1  units/   the DSP units
#   2  voices/  the instruments and the sample bank
#   3  render/  engine state, planning, threads, progress accounting, limits
#   4  resources/ audio/
#   5  app/
#   6  web/     the page's way into the engine
#
# Tests, benchmarks and tools may include anything.
set -euo pipefail
cd "$(dirname "$0")/.."

rank() {
  case "$1" in
    base | score) echo 0 ;;
    units) echo 1 ;;
    voices) echo 2 ;;
    render) echo 3 ;;
    resources | audio) echo 4 ;;
    app) echo 5 ;;
    web) echo 6 ;;
    *) echo "" ;;
  esac
}

status=0
while IFS= read -r file; do
  folder=${file%%/*}
  own=$(rank "$folder")
  [ -n "$own" ] || continue
  while IFS= read -r line; do
    header=$(sed -E 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"([^"]+)".*/\1/' <<<"${line#*:}")
    target=${header%%/*}
    [ "$target" = "$folder" ] && continue
    theirs=$(rank "$target")
    [ -n "$theirs" ] || continue
    if [ "$theirs" -ge "$own" ]; then
      echo "$file:${line%%:*}: includes $header, from layer $target, not below $folder" >&2
      status=1
    fi
  done < <(grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$file" || true)
done < <(git ls-files --cached --others --exclude-standard '*.cpp' '*.h')

[ "$status" -eq 0 ] && echo "check-layers: every include points down" >&2
exit "$status"
