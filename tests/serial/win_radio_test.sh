#!/usr/bin/env bash
# Runs a Windows test program under wine against the simulated radio: the radio (a native
# program) answers on a pseudo-terminal, and wine's port table maps COM5 to it.
#   usage: win_radio_test.sh <torvandrix-radio-sim> <wine> <test.exe> [test arguments...]
# WINEPREFIX and a running wineserver come from the caller (tools/run-tests-windows.sh).
set -uo pipefail
# shellcheck source-path=SCRIPTDIR source=../support/shell_test_lib.sh
source "$(dirname "$0")/../support/shell_test_lib.sh"
use_wine "$2"
radio_sim=$1
program=$3
shift 3

start_radio "$radio_sim" --mode direct --fast --erase-ms 0
map_com 5
unmap_com 8
TVX_RADIO_PORT=Com5 TVX_MISSING_PORT=Com8 "$wine" "$program" "$@"
status=$?
[ "$status" -eq 0 ] || { echo "what the radio printed:" >&2; cat "$tmp/radio.out" >&2; }
exit "$status"
