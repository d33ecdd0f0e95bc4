#!/usr/bin/env bash
# The program's keyboard in a real terminal, under one TERM inside tmux:
#   - every cursor, editing and function key, plain and with Ctrl, Shift and Alt, beeps at the
#     menu (one beep each: counted as BEL bytes in what the program writes);
#   - an over-long escape sequence typed into an answer is dropped whole;
#   - after SIGSTOP and fg the terminal is back in the program's mode and the menu redrawn;
#   - on exit nothing of the screen is left for the shell's prompt to overprint;
#   - TERM=dumb (no cursor addressing) is refused before anything is drawn.
#   usage: tmux_keys_test.sh <path to torvandrix-upload> <TERM value inside tmux>
set -euo pipefail
prog=$(readlink -f "$1")
inner_term=$2
fail_tag=$inner_term
# shellcheck source-path=SCRIPTDIR source=../support/shell_test_lib.sh
source "$(dirname "$0")/../support/shell_test_lib.sh"

start_tmux "$inner_term"
bells() { tr -cd '\007' < "$tmp/out" | wc -c; }
wait_bells() {  # count, seconds
  for _ in $(seq $(( $2 * 50 ))); do
    [ "$(bells)" -ge "$1" ] && return 0
    sleep 0.02
  done
  return 1
}

tm send-keys -t t "stty -g > $tmp/before; echo RE\"\"ADY" Enter
wait_for READY 10 || fail "the shell did not start"
: > "$tmp/out"
tm pipe-pane -t t -o "cat >> $tmp/out"
tm send-keys -t t "clear; $prog" Enter
wait_for "<esc>    End program" 10 || fail "the menu did not appear"
base=$(bells)

# Every key plain and with each modifier: one beep each, nothing else happens.
count=0
for key in Up Down Left Right Home End PPage NPage IC DC F1 F2 F3 F4 F5 F6 F7 F8 F9 F10 F11 F12; do
  for modifier in "" C- S- M-; do
    tm send-keys -t t "$modifier$key"
    count=$((count + 1))
    wait_bells $((base + count)) 3 || fail "no beep for $modifier$key"
  done
done
tm capture-pane -p -t t | grep -qF -- "<esc>    End program" || fail "the menu is gone after the keys"

# An over-long sequence in the port number: dropped whole, so 5 is the answer (Com5).
tm send-keys -t t 3
wait_for "Com Port Number" 15 || fail "3 did not open the settings"
tm send-keys -t t -l $'\e['"$(printf '1%.0s' $(seq 40))"'~5'
tm send-keys -t t Enter
wait_for "Setup Baud Rate" 15 || fail "the port number was refused"
tm send-keys -t t 0 Enter
wait_for "  Com5 " 15 || fail "the port is not Com5: digits of the sequence were taken"
[ "$(bells)" = $((base + count)) ] || fail "$(( $(bells) - base - count )) beeps too many"

# Stopped from outside and brought back with fg: raw keys (Enter arrives) and a redrawn menu.
shell_pid=$(tm list-panes -t t -F '#{pane_pid}')
prog_pid=$(pgrep -P "$shell_pid" -f torvandrix-upload | head -1)
[ -n "$prog_pid" ] || fail "no program process"
kill -STOP "$prog_pid"
wait_for "Stopped" 15 || fail "the shell did not report the stop"
# The rest of the first command line is dropped with the stopped job: fg carries it instead.
tm send-keys -t t "fg; echo \$? > $tmp/status; stty -g > $tmp/after; echo FIN\"\"ISHED" Enter
wait_for "<esc>    End program" 15 || fail "no menu after fg"
for _ in $(seq 100); do
  tm capture-pane -p -t t | grep -qE "Stopped|fg;" || break
  sleep 0.02
done
tm capture-pane -p -t t | grep -qE "Stopped|fg;" && fail "the screen was not redrawn after fg"
tm send-keys -t t 3
wait_for "Com Port Number" 15 || fail "3 did not open the settings after fg"
tm send-keys -t t 7 Enter
wait_for "Setup Baud Rate" 15 || fail "Enter did not arrive after fg"
tm send-keys -t t 0 Enter
wait_for "  Com7 " 15 || fail "the port is not Com7 after fg"

# Esc ends the program; the shell's prompt then has a clean screen (alternate screen or not).
tm send-keys -t t Escape
wait_for FINISHED 15 || fail "Esc did not end the program"
[ "$(cat "$tmp/status")" = 0 ] || fail "exit status $(cat "$tmp/status")"
cmp -s "$tmp/before" "$tmp/after" || fail "terminal modes changed"
tm capture-pane -p -t t | grep -qE "End program|Baudrate" && fail "the menu is left on the screen after exit"

# A terminal that cannot move the cursor is refused with a reason, and nothing is drawn.
tm send-keys -t t "clear; TERM=dumb $prog 2> $tmp/err; echo \$? > $tmp/status; echo DO\"\"NE" Enter
wait_for DONE 15 || fail "the program did not end under TERM=dumb"
[ "$(cat "$tmp/status")" = 1 ] || fail "exit status under TERM=dumb $(cat "$tmp/status")"
grep -qF "torvandrix-upload: cannot use this terminal (TERM=dumb): it cannot move the cursor" "$tmp/err" \
  || fail "no reason under TERM=dumb: $(cat "$tmp/err")"
echo "tmux keys test passed ($inner_term, $count keys beeped)"
