#!/usr/bin/env bash
# Builds optimised and runs the benchmarks; each prints its own figures.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/ensure-deps.sh
build=${TVX_BUILD_DIR:-build-release}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build"
for b in "$build"/bench/bench-*; do
  [ -x "$b" ] || continue
  echo "== $(basename "$b")"
  "$b"
done
