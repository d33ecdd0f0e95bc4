#!/usr/bin/env bash
# A signal in the middle of a direct upload, in the scripted form and in the menu: the upload
# ends after the word on the wire, the log gets one line with outcome "interrupted" and the word
# reached, the terminal is given back as it was, and the status is 128 + the signal.
#   usage: signal_test.sh <path to torvandrix-upload> <path to torvandrix-radio-sim>
set -euo pipefail
export LANG=C.UTF-8 LC_ALL=C.UTF-8
prog=$(readlink -f "$1")
sim=$(readlink -f "$2")
# shellcheck source-path=SCRIPTDIR source=../support/shell_test_lib.sh
source "$(dirname "$0")/../support/shell_test_lib.sh"

# Polls `file` until it holds `text` (status 0) or `seconds` pass (status 1).
wait_in_file() {  # file, text, seconds
  local _
  for _ in $(seq $(($3 * 50))); do
    grep -qF -- "$2" "$1" 2>/dev/null && return 0
    sleep 0.02
  done
  return 1
}

# The one log line, checked: interrupted, with a word past 0 and before the end.
check_log() {  # log file, what
  [ "$(wc -l < "$1")" = 1 ] || fail "$2: the log holds $(wc -l < "$1") lines: $(cat "$1")"
  grep -qF '"outcome":"interrupted"' "$1" || fail "$2: log line $(cat "$1")"
  local word
  word=$(sed -n 's/.*"word":\([0-9]*\).*/\1/p' "$1")
  [ -n "$word" ] && [ "$word" -gt 0 ] && [ "$word" -lt 33097 ] || fail "$2: word '$word' in $(cat "$1")"
}

# --- The scripted form: SIGTERM gives 143, SIGINT 130. ---------------------------------------
for signal in TERM INT; do
  start_radio "$sim" --fast
  log="$tmp/log-$signal"
  "$prog" direct --port "$tmp/radio" --log "$log" > "$tmp/out" 2> "$tmp/err" < /dev/null &
  pid=$!
  wait_in_file "$tmp/err" "Starting Download" 20 || fail "$signal: no transfer: $(cat "$tmp/out" "$tmp/err")"
  sleep 0.5
  kill "-$signal" "$pid"
  status=0
  wait "$pid" || status=$?
  want=$([ "$signal" = TERM ] && echo 143 || echo 130)
  [ "$status" = "$want" ] || fail "$signal: status $status, $(cat "$tmp/out" "$tmp/err")"
  grep -q "^Upload interrupted by signal [0-9]* at word [0-9]*: the radio's firmware is incomplete; load it again.$" "$tmp/out" \
    || fail "$signal: summary: $(tail -2 "$tmp/out")"
  check_log "$log" "direct $signal"
  kill "$radio_pid" 2>/dev/null || true
  wait "$radio_pid" 2>/dev/null || true
  radio_pid=
  rm -f "$tmp/radio"
done

# --- The menu in a terminal: SIGTERM during the transfer. ------------------------------------
start_radio "$sim" --fast
start_tmux screen
tm send-keys -t t "stty -g > $tmp/before; TORVANDRIX_COM1=$tmp/radio $prog --log $tmp/menu-log; echo \$? > $tmp/status; stty -g > $tmp/after; echo FIN\"\"ISHED" Enter
wait_for "<esc>    End program" 10 || fail "the menu did not appear"
tm send-keys -t t 1
wait_for "Enter Y for Diag Port" 10 || fail "no port question"
tm send-keys -t t N Enter Y Enter Enter
wait_for "Starting Download" 20 || fail "the menu's upload did not start"
sleep 0.5
prog_pid=$(pgrep -f -- "--log $tmp/menu-log" | head -1)
[ -n "$prog_pid" ] || fail "no program process"
kill -TERM "$prog_pid"
wait_for FINISHED 15 || fail "SIGTERM did not end the menu"
[ "$(cat "$tmp/status")" = 143 ] || fail "menu: status $(cat "$tmp/status")"
cmp -s "$tmp/before" "$tmp/after" || fail "terminal modes changed: $(cat "$tmp/before") -> $(cat "$tmp/after")"
check_log "$tmp/menu-log" "menu TERM"
echo "signal test passed"
