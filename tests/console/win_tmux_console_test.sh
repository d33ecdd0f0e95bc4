#!/usr/bin/env bash
# The Windows console under wine in tmux at 80 x 51: the glyphs of the 8-bit character set, the
# status row yellow on blue, keys as the console's key texts (F1, Up, Alt+letter, a plain key,
# Esc), and the terminal given back as it was after the end.
#   usage: win_tmux_console_test.sh <wine> <win_console_probe.exe>
# WINEPREFIX and a running wineserver come from the caller (tools/run-tests-windows.sh).
set -euo pipefail
# shellcheck source-path=SCRIPTDIR source=../support/shell_test_lib.sh
source "$(dirname "$0")/../support/shell_test_lib.sh"
use_wine "$1"
prog=$2

start_wine_tmux

tm send-keys -t t "clear; echo BEFORE-THE-PROBE; $wine $prog; echo \"STATUS \$?\"" Enter
wait_for "probe ready" 30 || fail "the probe did not start"
row2=$(tm capture-pane -p -t t | sed -n 2p)
[ "$row2" = $'\xe2\x98\xba\xe2\x96\x91\xe2\x94\x80\xc3\xa9\xe2\x8c\x82 \xe2\x86\x90\xc2\xa0|' ] ||
  fail "glyph row is '$row2'"
row51=$(tm capture-pane -p -t t | sed -n 51p)
[ "$row51" = "status$(printf '%73s' '')Z" ] || fail "row 51 is '$row51'"
# Yellow (bright) on blue as the terminal shows it.
tm capture-pane -p -e -t t | sed -n 51p | grep -qF $'\e[93m\e[44mstatus' ||
  fail "row 51 is not yellow on blue: $(tm capture-pane -p -e -t t | sed -n 51p | cat -v)"

# wine's console may drop what is typed while it still starts up: a first key, until it shows.
for _ in $(seq 10); do
  tm send-keys -t t z
  wait_for "key 7A" 2 && break
done
tm capture-pane -p -t t | grep -qF "key 7A" || fail "no key arrives"
send_and_expect "key 0 3B" F1
send_and_expect "key 0 48" Up
send_and_expect "key 0 1E" M-a
send_and_expect "key 61" a
send_and_expect "key D" Enter
send_and_expect "key 1B" Escape

# Given back: the probe's screen gone, the shell's typing echoed and its colours plain again.
tm send-keys -t t q
wait_for "STATUS 0" 20 || fail "the probe did not end"
tm capture-pane -p -t t | grep -qF "probe ready" && fail "the probe's screen was left behind"
tm send-keys -t t 'echo AFTER-$((40 + 2))' Enter
wait_for "AFTER-42" 15 || fail "the shell does not take commands after the probe"
tm capture-pane -p -t t | grep -qF 'echo AFTER-$((40 + 2))' || fail "typing is not echoed"
tm capture-pane -p -e -t t | grep -F "AFTER-42" | grep -qF $'\e[44m' && fail "the colours stayed"
echo "win console in tmux: ok"
