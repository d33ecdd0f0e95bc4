#!/usr/bin/env bash
# Runs a Windows test program under wine against the simulated radio: the radio (a native
# program) answers on a pseudo-terminal, and wine's port table maps COM5 to it.
#   usage: win_radio_test.sh <torvandrix-radio-sim> <wine> <test.exe> [test arguments...]
# WINEPREFIX and a running wineserver come from the caller (tools/run-tests-windows.sh).
set -uo pipefail
export HOME=${HOME:-/root}
export WINEPREFIX=${WINEPREFIX:-$HOME/.wine}
radio_sim=$1
wine=$2
program=$3
shift 3
tmp=$(mktemp -d)
radio_pid=
cleanup() {
  [ -n "$radio_pid" ] && kill "$radio_pid" 2>/dev/null && wait "$radio_pid" 2>/dev/null
  "$wine" reg delete 'HKLM\Software\Wine\Ports' /v COM5 /f >/dev/null 2>&1
  rm -f "$WINEPREFIX/dosdevices/com5"
  rm -rf "$tmp"
}
trap cleanup EXIT

"$radio_sim" --mode direct --fast --erase-ms 0 --link "$tmp/radio" > "$tmp/radio.out" 2>&1 &
radio_pid=$!
for _ in $(seq 100); do
  [ -L "$tmp/radio" ] && break
  sleep 0.05
done
[ -L "$tmp/radio" ] || { echo "FAIL: the simulated radio did not start" >&2; cat "$tmp/radio.out" >&2; exit 1; }

# wine's device manager reads its port table when it starts and keeps a link per port in the
# prefix's dosdevices: the table entry holds across a restart, the link takes effect now.
"$wine" reg add 'HKLM\Software\Wine\Ports' /v COM5 /t REG_SZ /d "$tmp/radio" /f >/dev/null 2>&1
ln -sfn "$tmp/radio" "$WINEPREFIX/dosdevices/com5"
"$wine" reg delete 'HKLM\Software\Wine\Ports' /v COM8 /f >/dev/null 2>&1
rm -f "$WINEPREFIX/dosdevices/com8"
TVX_RADIO_PORT=Com5 TVX_MISSING_PORT=Com8 "$wine" "$program" "$@"
status=$?
[ "$status" -eq 0 ] || { echo "what the radio printed:" >&2; cat "$tmp/radio.out" >&2; }
exit "$status"
