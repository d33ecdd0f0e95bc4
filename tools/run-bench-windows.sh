#!/usr/bin/env bash
# The Windows direct-upload benchmark under wine: the uploader through the Windows serial
# backend against the simulated radio, and a bare Win32 word exchange against an echo peer, in
# the same run. Both far ends are native programs on pseudo-terminals that wine maps to COM5
# and COM7. Run tools/run-tests-windows.sh once first: it installs and builds what this needs.
#   TVX_WIN_BUILD_DIR   the Windows build folder (default: build-win)
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(cd "${TVX_WIN_BUILD_DIR:-build-win}" && pwd)
host="$build/host"
export WINEPREFIX="$build/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver64
[ -x "$wineserver" ] || wineserver=$(command -v wineserver)

cmake --build "$host" --target torvandrix-radio-sim echo-peer
cmake --build "$build" --target bench-direct-upload-win

tmp=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -f "$WINEPREFIX/dosdevices/com5" "$WINEPREFIX/dosdevices/com7"
  "$wineserver" -k >/dev/null 2>&1 || true
  rm -rf "$tmp"
}
trap cleanup EXIT
"$wineserver" -p >/dev/null 2>&1 || true  # its state dumps would flood the log; one may run already
"$wine" wineboot -i >/dev/null 2>&1 || true

"$host/torvandrix-radio-sim" --mode direct --fast --erase-ms 0 --link "$tmp/radio" >"$tmp/radio.out" 2>&1 &
pids+=($!)
"$host/bench/echo-peer" "$tmp/echo" >"$tmp/echo.out" 2>&1 &
pids+=($!)
for _ in $(seq 100); do
  [ -L "$tmp/radio" ] && [ -L "$tmp/echo" ] && break
  sleep 0.05
done
ln -sfn "$tmp/radio" "$WINEPREFIX/dosdevices/com5"
ln -sfn "$tmp/echo" "$WINEPREFIX/dosdevices/com7"
"$wine" "$build/bench/bench-direct-upload-win.exe" COM5 '\\.\COM7' || { echo "bench-direct-upload-win failed with status $?" >&2; exit 1; }
