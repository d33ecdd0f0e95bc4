#!/usr/bin/env bash
# The radio pulled and put back while the Radio Setup Screen runs in a real terminal: the
# simulated radio hangs up once it answered the second key and comes back 2 s later as a new
# pseudo-terminal under the same link. The screen says it is gone, then back, and a command typed
# then is answered; the session log holds both commands and both answers.
#   usage: tmux_replug_test.sh <torvandrix-upload> <torvandrix-radio-sim>
set -euo pipefail
export LANG=C.UTF-8 LC_ALL=C.UTF-8
prog=$(readlink -f "$1")
radio_sim=$(readlink -f "$2")
# shellcheck source-path=SCRIPTDIR source=../support/shell_test_lib.sh
source "$(dirname "$0")/../support/shell_test_lib.sh"

start_radio "$radio_sim" --fault setup-hang-up@2=2
start_tmux screen "TORVANDRIX_COM1=$tmp/radio"
tm send-keys -t t "$prog --session-log $tmp/session.log; echo FIN\"\"ISHED" Enter
wait_for "<esc>    End program" 10 || fail "the menu did not appear"
tm send-keys -t t 2
wait_for "Q or q to quit" 15 || fail "key 2 did not open the Radio Setup Screen"

tm send-keys -t t 3 Enter
wait_for "Radio disconnected: waiting for it to come back" 15 || fail "the hang-up was not shown"
row 51 | grep -qF "Disconnected" || fail "the status row does not say the radio is gone"
wait_for "Radio reconnected" 15 || fail "the radio that came back was not opened again"
row 51 | grep -qF "Disconnected" && fail "the status row still says the radio is gone"
tm send-keys -t t 3 Enter
# The answer below "Radio reconnected". (The first answer may lose its end: the radio's
# pseudo-terminal can hang up before the last bytes it wrote reached the terminal's side.)
after_return() { tm capture-pane -p -t t | sed -n '/Radio reconnected/,$p'; }
for _ in $(seq 150); do
  after_return | grep -q "^Choice>" && break
  sleep 0.1
done
after_return | grep -qx "Firmware Rev 2.54" || fail "no answer after the return"
tm send-keys -t t q
wait_for "<esc>    End program" 15 || fail "q did not return to the menu"
tm send-keys -t t Escape
wait_for FINISHED 15 || fail "Esc did not end the program"

stamp='^[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{3}Z '
# What went to the radio, its lines put together (a key and the echo may take turns).
[ "$(grep -E "$stamp> " "$tmp/session.log" | sed -E "s/$stamp> //" | tr -d '\n')" = '3\x0D3\x0D' ] ||
  fail "the log lacks the two commands: $(cat "$tmp/session.log")"
grep -E "$stamp< " "$tmp/session.log" | tail -2 | head -1 |
  grep -qE "${stamp}< Firmware Rev 2\\.54\\\\x0D\\\\x0A\$" ||
  fail "the log lacks the answer after the return: $(cat "$tmp/session.log")"
echo "tmux replug test passed"
