#!/usr/bin/env bash
# The Windows program's "setup" sub-command, scripted, under wine against the simulated radio (a
# native program on a pseudo-terminal that wine maps to COM12): the network ID read, set and read
# back, with the captures in --json and exit status 0; a pattern the radio never sends, which
# ends the run with status 3 and names the pattern; and no steps without a console (status 2).
#   usage: win_setup_command_test.sh <torvandrix-radio-sim> <wine> <torvandrix-upload.exe>
# WINEPREFIX and a running wineserver come from the caller (tools/run-tests-windows.sh).
set -uo pipefail
# shellcheck source-path=SCRIPTDIR source=../support/shell_test_lib.sh
source "$(dirname "$0")/../support/shell_test_lib.sh"
use_wine "$2"
radio_sim=$1
prog=$3
test_fail_details() {
  echo "--- what the program printed (status ${status:-none}):"
  cat "$tmp/out" "$tmp/err" 2>/dev/null
  echo "--- what the radio printed:"
  cat "$tmp/radio.out"
}

start_radio "$radio_sim" --mode setup
map_com 12

"$wine" "$prog" setup --port COM12 --json --quiet \
  --send '1\r' --expect 'Network ID +(?<before>\d+)' \
  --send 'NETID 42\r' --expect 'Network ID set to 42' \
  --send '1\r' --expect 'Network ID +(?<after>\d+)' \
  </dev/null >"$tmp/out" 2>"$tmp/err"
status=$?
[ "$status" -eq 0 ] || fail "exit status $status, expected 0"
for expected in '"before":"7"' '"after":"42"' '"outcome":"complete"'; do
  grep -qF "$expected" "$tmp/out" || fail "--json lacks $expected"
done

"$wine" "$prog" setup --port '\\.\COM12' --timeout 1 --send '3\r' --expect 'Firmware Rev 9' \
  </dev/null >"$tmp/out" 2>"$tmp/err"
status=$?
[ "$status" -eq 3 ] || fail "a pattern never sent: exit status $status, expected 3"
grep -qF 'Firmware Rev 9' "$tmp/err" || fail "standard error does not name the pattern"
# No steps and no console on standard input: a usage error that points to the scripted form.
"$wine" "$prog" setup --port '\\.\COM12' </dev/null >"$tmp/out" 2>"$tmp/err"
status=$?
[ "$status" -eq 2 ] || fail "interactive without a console: exit status $status, expected 2"
grep -qF -- "--script" "$tmp/err" || fail "interactive without a console: no pointer to --script"
echo "win setup command: ok"
