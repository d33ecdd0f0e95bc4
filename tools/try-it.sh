#!/usr/bin/env bash
# Builds the uploader and the simulated radio, binds Com1 to a fresh simulated radio and starts
# the uploader in this terminal. When the uploader ends, the radio prints what it received.
#   TVX_BUILD_DIR   build folder (default: build)
#   any arguments are passed to the simulated radio (see: build/torvandrix-radio-sim --help)
set -euo pipefail
cd "$(dirname "$0")/.."
tools/ensure-deps.sh
build=${TVX_BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target torvandrix-upload torvandrix-radio-sim

workdir=$(mktemp -d)
link="$workdir/com1"
log="$workdir/radio.log"
"$build/torvandrix-radio-sim" --link "$link" "$@" >"$log" 2>&1 &
radio=$!
cleanup() {
  kill -TERM "$radio" 2>/dev/null || true
  wait "$radio" 2>/dev/null || true
  echo "--- simulated radio ---"
  cat "$log"
  rm -rf "$workdir"
}
trap cleanup EXIT
for _ in $(seq 100); do [ -e "$link" ] && break; sleep 0.05; done
[ -e "$link" ] || { echo "the simulated radio did not start" >&2; exit 1; }

TORVANDRIX_COM1="$link" "$build/torvandrix-upload"
