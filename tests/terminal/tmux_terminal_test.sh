#!/usr/bin/env bash
# The Radio Setup Screen in a real terminal: tmux at 80 x 51 with the simulated radio behind
# Com1. Key "2" opens the screen, a typed command brings the radio's answer, every byte value
# the radio sends shows as its glyph and none of them changes the pane's title or modes, and q
# returns to the menu; a key typed at once behind the q is thrown away, not taken by the menu.
#   usage: tmux_terminal_test.sh <torvandrix-upload> <torvandrix-radio-sim> [TERM inside tmux]
set -euo pipefail
export LANG=C.UTF-8 LC_ALL=C.UTF-8
prog=$(readlink -f "$1")
radio_sim=$(readlink -f "$2")
inner_term=${3:-screen}
# shellcheck source-path=SCRIPTDIR source=../support/shell_test_lib.sh
source "$(dirname "$0")/../support/shell_test_lib.sh"

start_radio "$radio_sim"
start_tmux "$inner_term" "TORVANDRIX_COM1=$tmp/radio"
tm set-option -t t allow-rename on >/dev/null 2>&1 || true
tm set-option -t t set-titles on >/dev/null 2>&1 || true

pane_state() {
  tm display-message -p -t t '#{pane_title}|#{alternate_on}|#{cursor_flag}|#{insert_flag}|#{keypad_cursor_flag}|#{keypad_flag}|#{mouse_any_flag}|#{origin_flag}|#{wrap_flag}|#{pane_width}x#{pane_height}'
}

tm send-keys -t t "stty -g > $tmp/before; $prog; stty -g > $tmp/after; echo FIN\"\"ISHED" Enter
wait_for "<esc>    End program" 10 || fail "the menu did not appear"
tm send-keys -t t 2
wait_for "Radio Setup Screen" 15 || fail "key 2 did not open the Radio Setup Screen"
wait_for "Q or q to quit" 15 || fail "no status row"
before=$(pane_state)

# A command and the radio's answer (typed keys are not shown; the radio echoes them).
tm send-keys -t t 3 Enter
wait_for "Firmware Rev 2.54" 15 || fail "the radio's answer did not appear"
[ "$(tm capture-pane -p -t t | sed -n 2p)" = "3" ] || fail "row 2 is not the radio's echo"

# Every byte value, and escape sequences a terminal would act on.
tm send-keys -t t C H A R S Enter
wait_for "End of table" 15 || fail "the character table did not arrive"
sleep 0.2  # let tmux finish drawing what it already received
tm capture-pane -p -t t > "$tmp/screen"
after=$(pane_state)
[ "$before" = "$after" ] || fail "the pane changed: '$before' -> '$after'"

expect_row 1 "                       Radio Setup Screen"
# Bytes 0 to 20 show nothing; 13 starts a new row, so 21 to 31 begin a row of their own.
expect_row 5 "Character table"
expect_row 6 ""
expect_row 7 "§▬↨↑↓→←∟↔▲▼"
expect_row 8 ' !"#$%&'"'"'()*+,-./0123456789:;<=>?'
expect_row 9 '@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\]^_'
expect_row 10 '`abcdefghijklmnopqrstuvwxyz{|}~⌂'
expect_row 11 "ÇüéâäàåçêëèïîìÄÅÉæÆôöòûùÿÖÜ¢£¥₧ƒ"
expect_row 12 "áíóúñÑªº¿⌐¬½¼¡«»░▒▓│┤╡╢╖╕╣║╗╝╜╛┐"
expect_row 13 "└┴┬├─┼╞╟╚╔╩╦╠═╬╧╨╤╥╙╘╒╓╫╪┘┌█▄▌▐▀"
expect_row 14 "αßΓπΣσµτΦΘΩδ∞φε∩≡±≥≤⌠⌡÷≈°∙·√ⁿ²■"$'\u00a0'
expect_row 15 "Controls ←]2;Radio title←\\ ←[?1049l ←[31;44m ←c ¢2J ←[8;10;40t"
expect_row 16 "End of table"
expect_row 51 "  Com1        Baudrate =  19200   Q or q to quit"

# q and 1 in one go, as a paste: the 1 must not start a direct upload from the menu.
tm send-keys -t t q1
wait_for "<esc>    End program" 15 || fail "q did not return to the menu"
sleep 0.5
tm capture-pane -p -t t | grep -qF "Diag Port" && fail "the key behind the q started a direct upload"
tm send-keys -t t Escape
wait_for FINISHED 15 || fail "Esc did not end the program"
cmp -s "$tmp/before" "$tmp/after" || fail "terminal modes changed: $(cat "$tmp/before") -> $(cat "$tmp/after")"
echo "tmux terminal test passed ($inner_term)"
