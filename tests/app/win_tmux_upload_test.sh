#!/usr/bin/env bash
# The Windows program under wine in tmux at 80 x 51, end to end: the menu in its colours, key 1
# through a high-speed direct upload of a short image file against the simulated radio (a
# native program on a pseudo-terminal that wine maps to COM6, as the serial tests have COM5;
# Com1 is pointed at it by TORVANDRIX_COM1) to the checksum verdict, back to the menu, and Esc
# back to a working shell.
#   usage: win_tmux_upload_test.sh <torvandrix-radio-sim> <wine> <torvandrix-upload.exe>
# WINEPREFIX and a running wineserver come from the caller (tools/run-tests-windows.sh).
set -euo pipefail
# shellcheck source-path=SCRIPTDIR source=../support/shell_test_lib.sh
source "$(dirname "$0")/../support/shell_test_lib.sh"
use_wine "$2"
radio_sim=$1
prog=$3

start_radio "$radio_sim" --mode direct --fast --erase-ms 250
map_com 6

# The built-in image cut to its first 100 records and its last (the walk ends at 0xFFFF): every
# step of the upload in 801 words, not 33,000 of wine's serial round trips.
"$wine" "$prog" image --export "Z:${tmp//\//\\}\\full.bin" </dev/null >/dev/null 2>&1 ||
  fail "image --export failed"
{ head -c 2000 "$tmp/full.bin" && tail -c 20 "$tmp/full.bin"; } >"$tmp/short.bin"
short_image="Z:${tmp//\//\\}\\short.bin"

cat >"$tmp/run" <<RUN
export TORVANDRIX_COM1='\\\\.\\COM6'
"$wine" "$prog" --image '$short_image'
echo "STATUS \$?"
RUN
start_wine_tmux

answer() {  # prompt text, keys...
  local prompt=$1
  shift
  wait_for "$prompt" 20 || fail "no prompt '$prompt'"
  tm send-keys -t t "$@"
}

tm send-keys -t t "clear; bash $tmp/run" Enter
wait_for "<esc>    End program" 30 || fail "the menu did not come up"
tm capture-pane -p -e -t t | sed -n 51p | grep -qF $'\e[93m\e[44m  Com1' ||
  fail "the status line is not yellow on blue: $(tm capture-pane -p -e -t t | sed -n 51p | cat -v)"
# The console takes keys once it has drawn the menu; a key typed while wine starts may be lost.
answer "<esc>    End program" 1
answer "Enter Y for Diag Port" N Enter
answer "Radio in setup?" Y Enter
answer "High Speed Download" y Enter
wait_for "Hit any key to return to main menu" 300 || fail "the upload did not end"
tm capture-pane -p -t t | grep -qF "Upload complete: the radio accepted the checksum." ||
  fail "the checksum was not accepted"
tm capture-pane -p -t t | grep -F "Program Time is" >&2 || true
tm send-keys -t t x
wait_for "<esc>    End program" 10 || fail "the menu did not come back"
tm send-keys -t t Escape
wait_for "STATUS 0" 20 || fail "Esc did not end the program"
tm capture-pane -p -t t | grep -qF "End program" && fail "the menu was left on the screen"
tm send-keys -t t 'echo AFTER-$((40 + 2))' Enter
wait_for "AFTER-42" 15 || fail "the shell does not take commands after the program"
echo "win upload in tmux: ok"
