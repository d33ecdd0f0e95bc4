#!/usr/bin/env bash
# The terminal console in tmux: glyphs of the 8-bit character set, keys as the console's key
# texts (function and cursor keys with and without modifiers, Alt+letter, Ctrl-C, a lone Esc), a
# too-small window (its notice, keys behind it ignored) and its redraw, and the terminal given
# back after SIGTERM.
#   usage: tmux_console_test.sh <path to terminal_probe> [TERM value inside tmux]
set -euo pipefail
export LANG=C.UTF-8 LC_ALL=C.UTF-8
prog=$(readlink -f "$1")
inner_term=${2:-screen}
# shellcheck source-path=SCRIPTDIR source=../support/shell_test_lib.sh
source "$(dirname "$0")/../support/shell_test_lib.sh"

start_tmux "$inner_term"

run_probe() {
  tm send-keys -t t "clear; stty -g > $tmp/before; $prog; echo \$? > $tmp/status; stty -g > $tmp/after; echo FIN\"\"ISHED" Enter
  wait_for "probe ready" 10 || fail "the probe did not start"
}

run_probe
row2=$(tm capture-pane -p -t t | sed -n 2p)
[ "$row2" = $'\xe2\x98\xba\xe2\x96\x91\xe2\x94\x80\xc3\xa9\xe2\x8c\x82 \xe2\x86\x90\xc2\xa0|' ] || fail "glyph row is '$row2'"
row51=$(row 51)
[ "$row51" = "status$(printf '%73s' '')Z" ] || fail "row 51 is '$row51'"

send_and_expect "key 0 3B" F1
send_and_expect "key 0 48" Up
send_and_expect "key 0 51" NPage
# Modifiers do not change an extended key: each of these gives its key's code, and nothing else.
tm send-keys -t t C-F1 S-F12 M-Up C-S-Left S-Home M-End C-IC S-DC C-PPage M-F5
send_and_expect "key 0 3C" C-F2  # the marker that the ten keys before are in
expected=$(printf 'key 0 %s\n' 3B 58 48 4B 47 4F 52 53 49 3F 3C)
[ "$(tm capture-pane -p -t t | grep '^key 0 ' | tail -11)" = "$expected" ] \
  || fail "modified keys gave: $(tm capture-pane -p -t t | grep '^key' | tail -11 | tr '\n' ,)"
send_and_expect "key 0 1E" M-a
send_and_expect "key 0 10" M-q
send_and_expect "key 3" C-c
send_and_expect "key 8" BSpace
send_and_expect "key D" Enter
send_and_expect "key 82" é
send_and_expect "key 1B" Escape

# Too small: a notice, keys typed behind it are not acted on, and the screen comes back when
# the window grows again. The second resize makes sure the key was in before the window grew.
tm resize-window -t t -x 60 -y 20
wait_for "Please enlarge this window" 15 || fail "no notice in a small window"
tm send-keys -t t x
tm resize-window -t t -x 20 -y 5
wait_for "(now 20 x 5)" 15 || fail "no notice at 20 x 5"
notice=$(tm capture-pane -p -t t)
[ "$notice" = $'Please enlarge this\nwindow to at least\n80 x 24 characters.\n(now 20 x 5)' ] \
  || fail "the notice at 20 x 5 reads: $notice"
tm resize-window -t t -x 80 -y 51
wait_for "probe ready" 15 || fail "no redraw after the window grew"
tm capture-pane -p -t t | grep -qF "key 0 3B" || fail "the keys shown before are gone"
send_and_expect "key 79" y
tm capture-pane -p -t t | grep -qF "key 78" && fail "a key typed behind the notice was acted on"

tm send-keys -t t q
wait_for FINISHED 15 || fail "q did not end the probe"
[ "$(cat "$tmp/status")" = 0 ] || fail "exit status $(cat "$tmp/status")"

# SIGTERM from outside: the terminal is given back and the exit status is 128 + 15.
run_probe
pkill_target=$(tm list-panes -t t -F '#{pane_pid}')
probe_pid=$(pgrep -P "$pkill_target" -f terminal_probe | head -1)
[ -n "$probe_pid" ] || fail "no probe process"
kill -TERM "$probe_pid"
wait_for FINISHED 15 || fail "SIGTERM did not end the probe"
[ "$(cat "$tmp/status")" = 143 ] || fail "exit status after SIGTERM $(cat "$tmp/status")"
cmp -s "$tmp/before" "$tmp/after" || fail "terminal modes changed: $(cat "$tmp/before") -> $(cat "$tmp/after")"
echo "tmux console test passed ($inner_term)"
