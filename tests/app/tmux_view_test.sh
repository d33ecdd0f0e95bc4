#!/usr/bin/env bash
# The menu in a window smaller than the page: the same session run twice, at 80 x 51 and at
# 80 x 24 (the latter grown to 80 x 51 in the middle of the upload, shrunk again for the Radio
# Setup Screen). At every step the cursor's row shows and the pane's last row is page row 51; the
# mouse wheel scrolls without answering a prompt; and each page, seen whole at 80 x 51, is the
# same in both runs. The session: the menu, a direct upload with a bad data reply (its question
# on row 30, the outcome on row 32), Com2 chosen on the settings screen, the Radio Setup Screen
# with more text than its scroll area holds, q, Esc.
#   usage: tmux_view_test.sh <torvandrix-upload> <torvandrix-radio-sim>
set -euo pipefail
export LANG=C.UTF-8 LC_ALL=C.UTF-8
prog=$(readlink -f "$1")
sim=$(readlink -f "$2")
# shellcheck source-path=SCRIPTDIR source=../support/shell_test_lib.sh
source "$(dirname "$0")/../support/shell_test_lib.sh"

pane() { tm display-message -p -t t "$1"; }
resize() { tm resize-window -t t -x 80 -y "$1"; }
wheel() {  # up|down, turns: SGR mouse reports, as a terminal sends them
  local button=65 _
  if [ "$1" = up ]; then button=64; fi
  for _ in $(seq "$2"); do tm send-keys -t t -l $'\e'"[<$button;40;10M"; done
}

# The cursor shows, on a pane row holding `text` (or `below` rows under it), and the last row
# is page row 51 (`status`).
check_step() {  # text, rows the cursor is below it, status
  local text=$1 below=$2 status=$3 y
  [ "$(pane '#{cursor_flag}')" = 1 ] || fail "[$rows rows] the cursor is hidden at '$text'"
  y=$(($(pane '#{cursor_y}') + 1 - below))
  row "$y" | grep -qF -- "$text" || fail "[$rows rows] the cursor is not on the row of '$text'"
  [ "$(row 51 | sed 's/ *$//')" = "$status" ] || fail "[$rows rows] row 51 is '$(row 51)'"
}

# Polls until the cursor is on the row of `text` (or `below` rows under it).
wait_cursor() {  # text, rows the cursor is below it
  local _
  for _ in $(seq 750); do
    row $(($(pane '#{cursor_y}') + 1 - $2)) | grep -qF -- "$1" && return 0
    sleep 0.02
  done
  fail "[$rows rows] the cursor did not come to the row of '$1'"
}

# Grows the pane to the whole page and keeps it as page-<name> (the program time masked).
keep_page() {  # name
  resize 51
  sleep 0.5
  tm capture-pane -p -t t | sed 's/Program Time is *[0-9.]* S/Program Time is # S/' \
    > "$tmp/page-$rows-$1"
}

session() {  # rows
  rows=$1
  resize "$rows"
  # The radio to upload to: a word answered wrongly once, so the upload asks on row 30.
  "$sim" --mode direct --fast --fault bad-reply@3000 --link "$tmp/direct" >"$tmp/direct.out" 2>&1 &
  direct_pid=$!
  start_radio "$sim" --mode setup --fast
  for _ in $(seq 200); do [ -L "$tmp/direct" ] && break; sleep 0.05; done
  tm send-keys -t t "clear; TORVANDRIX_COM1=$tmp/direct TORVANDRIX_COM2=$tmp/radio $prog; echo FIN\"\"ISHED" Enter
  wait_for "<esc>    End program" 10 || fail "[$rows rows] the menu did not appear"
  sleep 0.3
  check_step "UpLoad Torvandrix Rev 2.54" 0 "  Com1        Baudrate =  19200"
  [ "$(pane '#{mouse_any_flag}')" = $((rows < 51 ? 1 : 0)) ] || fail "[$rows rows] mouse reports"

  send_and_expect "Enter Y for Diag Port" 1
  check_step "Enter Y for Diag Port" 0 ""
  send_and_expect "Radio in setup?" N Enter
  check_step "Radio in setup?" 0 ""
  send_and_expect "High Speed Download" Y Enter
  tm send-keys -t t Enter
  wait_for "Bad Data!" 60 || fail "[$rows rows] no question about the bad reply"
  check_step "Bad Data!,Continue?" 1 ""
  # The wheel shows the top of the page and takes no key: the question is still asked. The
  # key that answers it brings the view back to the cursor.
  wheel up 4
  wait_for "Download New Firmware to Radio" 5 || fail "[$rows rows] the wheel did not scroll"
  sleep 0.3
  [ "$(row 51 | tr -d ' ')" = "" ] || fail "[$rows rows] row 51 is not on the last row after a scroll"
  wheel down 4
  sleep 0.3
  check_step "Bad Data!,Continue?" 1 ""  # still asked
  wheel up 4
  sleep 0.3
  tm send-keys -t t Enter
  sleep 0.5
  [ "$(pane '#{cursor_flag}')" = 1 ] || fail "[$rows rows] the view did not come back to the cursor"
  if [ "$rows" -lt 51 ]; then resize 51; fi  # mid-upload
  wait_for "Hit any key to return to main menu" 120 || fail "[$rows rows] the upload did not end"
  check_step "Hit any key to return to main menu" 1 ""
  keep_page upload
  resize "$rows"

  send_and_expect "<esc>    End program" x
  send_and_expect "Com Port Number" 3
  check_step "Com Port Number" 0 ""
  send_and_expect "Setup Baud Rate" 2 Enter
  send_and_expect "  Com2 " 0 Enter
  check_step "UpLoad Torvandrix Rev 2.54" 0 "  Com2        Baudrate =  19200"

  local status="  Com2        Baudrate =  19200   Q or q to quit"
  send_and_expect "Radio Setup Screen" 2
  wait_for "Q or q to quit" 10 || fail "[$rows rows] no status row on the Radio Setup Screen"
  # Three tables: more rows than the scroll area holds, so rows 2 to 50 scroll.
  local n
  for n in 1 2 3 4; do
    tm send-keys -t t C H A R S Enter
    wait_cursor "End of table" 1
    check_step "End of table" 1 "$status"
    tm send-keys -t t N O N E Enter  # the radio's answer moves the cursor off the table's end
    wait_cursor "Unknown command NONE" 1
  done
  keep_page setup
  resize "$rows"
  send_and_expect "<esc>    End program" q
  check_step "UpLoad Torvandrix Rev 2.54" 0 "  Com2        Baudrate =  19200"
  send_and_expect FINISHED Escape
  [ "$(pane '#{mouse_any_flag}')" = 0 ] || fail "[$rows rows] mouse reports left on"
  kill "$radio_pid" "$direct_pid"
  wait "$radio_pid" "$direct_pid" 2>/dev/null || true
  radio_pid=''
  direct_pid=''
}

test_cleanup() {
  if [ -n "${direct_pid:-}" ]; then kill "$direct_pid" 2>/dev/null || true; fi
}

start_tmux screen
session 51
session 24
for page in upload setup; do
  cmp -s "$tmp/page-51-$page" "$tmp/page-24-$page" ||
    fail "the $page page differs: $(diff "$tmp/page-51-$page" "$tmp/page-24-$page")"
done
echo "tmux view test passed"
