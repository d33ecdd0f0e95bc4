#!/usr/bin/env bash
# The program in a real terminal: tmux at 80 x 51 draws the main menu with the yellow-on-blue
# status row, and Esc gives the terminal back exactly as it was.
#   usage: tmux_menu_test.sh <path to torvandrix-upload> [TERM value inside tmux]
set -euo pipefail
prog=$(readlink -f "$1")
inner_term=${2:-screen}
# shellcheck source-path=SCRIPTDIR source=../support/shell_test_lib.sh
source "$(dirname "$0")/../support/shell_test_lib.sh"

start_tmux "$inner_term"
tm send-keys -t t "stty -g > $tmp/before; $prog; echo \$? > $tmp/status; stty -g > $tmp/after; stty -a > $tmp/stty; echo FIN\"\"ISHED" Enter

wait_for "<esc>    End program" 10 || fail "the menu did not appear"
sleep 0.3
tm capture-pane -p -t t > "$tmp/screen"
# Row 51 alone (rows are 0-based here), so its attributes are written out from a clean state.
tm capture-pane -p -e -S $(($(pane_row 51) - 1)) -E $(($(pane_row 51) - 1)) -t t > "$tmp/status-e"

expect_row 1 "            UpLoad Torvandrix Rev 2.54 for 900MHz (12-05-2005)"
expect_row 5 "1        UpLoad Torvandrix Firmware Through Direct Connection"
expect_row 7 "2        Radio Setup"
expect_row 9 "3        Set Com Port for Terminal Emulator and Download"
expect_row 11 "4        UpLoad Torvandrix Firmware Over RF"
expect_row 14 "<esc>    End program"
expect_row 51 "  Com1        Baudrate =  19200"

# Row 51: blue background and a yellow foreground (bright yellow, or yellow made bright with bold
# where only 8 colours exist) across the row.
status_row=$(cat "$tmp/status-e")
echo "$status_row" | grep -qE $'\e\\[[0-9;]*(44|48;5;4)[;m]' || fail "row 51 has no blue background: $(echo "$status_row" | od -c | head -5)"
echo "$status_row" | grep -qE $'\e\\[[0-9;]*(93|38;5;11)[;m]|\e\\[[0-9;]*1;[0-9;]*33[;m]|\e\\[1m.*\e\\[[0-9;]*33[;m]' \
  || fail "row 51 is not yellow: $(echo "$status_row" | od -c | head -5)"

tm send-keys -t t Escape
wait_for FINISHED 15 || fail "Esc did not end the program"
[ "$(cat "$tmp/status")" = 0 ] || fail "exit status $(cat "$tmp/status")"
cmp -s "$tmp/before" "$tmp/after" || fail "terminal modes changed: $(cat "$tmp/before") -> $(cat "$tmp/after")"
grep -qw icanon "$tmp/stty" && grep -qw echo "$tmp/stty" || fail "terminal left without icanon/echo"
echo "tmux menu test passed ($inner_term)"
