#!/usr/bin/env bash
# Builds optimised and runs the benchmarks; each prints its own figures.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/ensure-deps.sh
build=${TVX_BUILD_DIR:-build-release}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build"
# Every bench-* program is a benchmark; helpers are named otherwise (a build made before the
# echo peer was renamed still holds it under its old name). Every benchmark runs even when one
# misses its target; the script fails at the end if any did.
rm -f "$build/bench/bench-echo-peer"
missed=0
for b in "$build"/bench/bench-*; do
  [ -x "$b" ] || continue
  echo "== $(basename "$b")"
  status=0
  "$b" || status=$?
  if [ "$status" -ne 0 ]; then
    echo "($(basename "$b") ended with status $status: a target missed, or a run failed)"
    missed=1
  fi
done
exit "$missed"
