#!/usr/bin/env bash
# The interactive setup with the radio pulled and put back: the simulated radio hangs up once it
# answered the second key and comes back 2 s later under the same link. The session says the
# radio is gone, then back, and a command typed then is answered.
#   usage: tmux_setup_replug_test.sh <torvandrix-upload> <torvandrix-radio-sim>
set -uo pipefail
prog=$(readlink -f "$1")
radio_sim=$(readlink -f "$2")
# shellcheck source-path=SCRIPTDIR source=../support/shell_test_lib.sh
source "$(dirname "$0")/../support/shell_test_lib.sh"

start_radio "$radio_sim" --fault setup-hang-up@2=2
TVX_TMUX_ROWS=24 start_tmux xterm-256color
tm send-keys -t t "$prog setup --port $tmp/radio; echo status=\$?" Enter
wait_for "Q or q leaves" 10 || fail "no terminal"
tm send-keys -t t 3 Enter
wait_for "waiting for it to come back" 15 || fail "the hang-up was not said"
wait_for "the radio is back" 15 || fail "the radio that came back was not opened again"
tm send-keys -t t 3 Enter
after_return() { tm capture-pane -p -t t | sed -n '/the radio is back/,$p'; }
for _ in $(seq 150); do
  after_return | grep -q "Firmware Rev 2.54" && break
  sleep 0.1
done
after_return | grep -q "Firmware Rev 2.54" || fail "no answer after the return"
tm send-keys -t t q
wait_for "status=0" 10 || fail "q did not leave"
echo PASS
