#!/usr/bin/env bash
# The setup sub-command of the real program against the simulated radio on a pseudo-terminal:
# a rig script (serial number and firmware revision read, network ID set and read back) with
# its captures in --json and a secret that shows nowhere; then the usage errors of a terminal
# without one on standard input and of a pattern that does not compile.
#   usage: setup_pty_test.sh <torvandrix-upload> <torvandrix-radio-sim>
set -uo pipefail
prog=$(readlink -f "$1")
radio_sim=$(readlink -f "$2")
# shellcheck source-path=SCRIPTDIR source=../support/shell_test_lib.sh
source "$(dirname "$0")/../support/shell_test_lib.sh"

start_radio "$radio_sim" --mode setup --firmware-rev 3.1a
cat > "$tmp/rig.txt" <<'SCRIPT'
# read what the radio is, set its network, check it was taken
send ?\r
expect Serial Number (?<serial>\d+)
send 3\r
expect Firmware Rev (?<rev>\S+)
send-secret hunter2\r
send NETID 42\r
expect Network ID set to 42
send 1\r
expect Network ID +(?<netid>\d+)
SCRIPT
"$prog" setup --port "$tmp/radio" --script "$tmp/rig.txt" --json --log "$tmp/up.jsonl" \
  --session-log "$tmp/session.log" < /dev/null > "$tmp/out" 2> "$tmp/err"
status=$?
[ "$status" = 0 ] || fail "rig script: status $status: $(cat "$tmp/err")"
for expected in '"serial":"9123456"' '"rev":"3.1a"' '"netid":"42"' '"outcome":"complete"'; do
  grep -qF "$expected" "$tmp/out" || fail "--json lacks $expected: $(cat "$tmp/out")"
done
cmp -s "$tmp/out" "$tmp/up.jsonl" || fail "--json and the upload log differ"
grep -qE '^[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9:]{8}\.[0-9]{3}Z > <secret>$' "$tmp/session.log" \
  || fail "the session log does not show the secret as <secret>: $(cat "$tmp/session.log")"
if grep -rqF hunter2 "$tmp/out" "$tmp/err" "$tmp/up.jsonl" "$tmp/session.log"; then
  fail "the secret shows"
fi

"$prog" setup --port "$tmp/radio" < /dev/null > "$tmp/out" 2> "$tmp/err"
status=$?
[ "$status" = 2 ] && grep -qF -- "--script" "$tmp/err" \
  || fail "interactive without a terminal: status $status, '$(cat "$tmp/err")'"

"$prog" setup --port "$tmp/radio" --expect '(' < /dev/null > "$tmp/out" 2> "$tmp/err"
status=$?
[ "$status" = 2 ] && grep -qF 'the pattern "(" is wrong' "$tmp/err" \
  || fail "bad pattern: status $status, '$(cat "$tmp/err")'"
echo "PASS"
