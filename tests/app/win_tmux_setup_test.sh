#!/usr/bin/env bash
# The Windows program's interactive "setup" under wine in tmux at 80 x 24, against the simulated
# radio (a native program on a pseudo-terminal that wine maps to COM13): a typed command and the
# radio's answer, the radio's hostile character table shown as glyphs, q with a key typed behind
# it thrown away (status 0); then a second session ended by Ctrl-C (status 130, nothing sent).
#   usage: win_tmux_setup_test.sh <torvandrix-radio-sim> <wine> <torvandrix-upload.exe>
# WINEPREFIX and a running wineserver come from the caller (tools/run-tests-windows.sh).
set -euo pipefail
# shellcheck source-path=SCRIPTDIR source=../support/shell_test_lib.sh
source "$(dirname "$0")/../support/shell_test_lib.sh"
use_wine "$2"
radio_sim=$1
prog=$3

start_radio "$radio_sim" --mode setup
map_com 13

cat >"$tmp/run" <<RUN
"$wine" "$prog" setup --port '\\\\.\\COM13'
echo "STATUS \$?"
RUN
TVX_TMUX_ROWS=24 start_wine_tmux

tm send-keys -t t "clear; bash $tmp/run" Enter
wait_for "Q or q leaves" 30 || fail "the terminal did not come up"
# The typed keys are not shown, the radio's echo and answer are.
send_and_expect "Firmware Rev 2.54" 3 Enter
send_and_expect "End of table" C H A R S Enter
wait_for "Controls ←]2;Radio title←" 5 || fail "the radio's escape sequences are not glyphs"
[ "$(tm display -p -t t '#{pane_title}')" != "Radio title" ] || fail "the radio set the title"
tm send-keys -t t q x
wait_for "STATUS 0" 20 || fail "q did not leave"
sleep 0.5
tm capture-pane -p -t t | grep -q '^x' && fail "the key behind q reached the shell"

tm send-keys -t t "clear; bash $tmp/run" Enter
wait_for "Q or q leaves" 30 || fail "the terminal did not come up a second time"
tm send-keys -t t C-c
wait_for "STATUS 130" 20 || fail "Ctrl-C did not end the session with status 130"
echo "win interactive setup in tmux: ok"
