#!/usr/bin/env bash
# The interactive setup in tmux at 80 x 24: a command and its answer, the simulated radio's
# hostile character table shown as glyphs (the pane's title and screen untouched), then q,
# with the key typed behind it dropped and the terminal given back.
#   usage: tmux_setup_test.sh <torvandrix-upload> <torvandrix-radio-sim>
set -uo pipefail
prog=$(readlink -f "$1")
radio_sim=$(readlink -f "$2")
# shellcheck source-path=SCRIPTDIR source=../support/shell_test_lib.sh
source "$(dirname "$0")/../support/shell_test_lib.sh"

start_radio "$radio_sim" --mode setup
TVX_TMUX_ROWS=24 start_tmux xterm-256color
tm send-keys -t t "$prog setup --port $tmp/radio; echo status=\$?" Enter
wait_for "Q or q leaves" 10 || fail "no terminal"
send_and_expect "Firmware Rev 2.54" 3 Enter
send_and_expect "End of table" C H A R S Enter
wait_for "Controls ←]2;Radio title←" 5 || fail "the radio's escape sequences are not glyphs"
[ "$(tm display -p -t t '#{pane_title}')" != "Radio title" ] || fail "the radio set the title"
tm send-keys -t t q x
wait_for "status=0" 10 || fail "q did not leave"
sleep 0.3
tm capture-pane -p -t t | grep -q '^x' && fail "the key behind q reached the shell"
stty_modes=$(tm send-keys -t t "stty -a | grep -o -- '-\?icanon'" Enter; sleep 0.5; tm capture-pane -p -t t)
grep -q -- ' icanon' <<< "$stty_modes" || grep -q -- '^icanon' <<< "$stty_modes" \
  || fail "the terminal was not given back: $stty_modes"
echo PASS
