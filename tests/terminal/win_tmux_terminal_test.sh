#!/usr/bin/env bash
# The Windows program's Radio Setup Screen under wine in tmux at 80 x 51, against the simulated
# radio (a native program on a pseudo-terminal that wine maps to COM11; Com1 is pointed at it by
# TORVANDRIX_COM1): key 2 opens the screen, a typed set-up command brings the radio's answer,
# q returns to the menu (a key typed at once behind it is thrown away) and Esc ends the program.
#   usage: win_tmux_terminal_test.sh <torvandrix-radio-sim> <wine> <torvandrix-upload.exe>
# WINEPREFIX and a running wineserver come from the caller (tools/run-tests-windows.sh).
set -euo pipefail
# shellcheck source-path=SCRIPTDIR source=../support/shell_test_lib.sh
source "$(dirname "$0")/../support/shell_test_lib.sh"
use_wine "$2"
radio_sim=$1
prog=$3

start_radio "$radio_sim" --mode setup
map_com 11

cat >"$tmp/run" <<RUN
export TORVANDRIX_COM1='\\\\.\\COM11'
"$wine" "$prog"
echo "STATUS \$?"
RUN
start_wine_tmux

tm send-keys -t t "clear; bash $tmp/run" Enter
wait_for "<esc>    End program" 30 || fail "the menu did not come up"
# The console takes keys once it has drawn the menu; a key typed while wine starts may be lost.
tm send-keys -t t 2
wait_for "Q or q to quit" 20 || fail "key 2 did not open the Radio Setup Screen"
[ "$(row 1)" = "                       Radio Setup Screen" ] || fail "row 1 is '$(row 1)'"
[ "$(row 51)" = "  Com1        Baudrate =  19200   Q or q to quit" ] || fail "row 51 is '$(row 51)'"

# A set-up command: the typed keys are not shown, the radio's echo and answer are.
tm send-keys -t t 3 Enter
wait_for "Firmware Rev 2.54" 20 || fail "the radio's answer did not appear"
[ "$(row 2)" = "3" ] || fail "row 2 is '$(row 2)', not the radio's echo of the command"

# q and 1 in one go, as a paste: the 1 must not start a direct upload from the menu.
tm send-keys -t t q1
wait_for "<esc>    End program" 20 || fail "q did not return to the menu"
sleep 1
tm capture-pane -p -t t | grep -qF "Diag Port" && fail "the key behind the q started a direct upload"
tm capture-pane -p -t t | grep -qF "Firmware Rev 2.54" && fail "the set-up screen was left on the screen"
tm send-keys -t t Escape
wait_for "STATUS 0" 20 || fail "Esc did not end the program"
echo "win radio setup screen in tmux: ok"
