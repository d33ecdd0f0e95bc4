# shellcheck shell=bash
# Plumbing shared by the shell tests: a private temporary folder, a tmux session at 80 x 51 to
# drive a program in, the simulated radio on a pseudo-terminal, and wine's COM ports pointed at
# it. A test sources it near its top, after its own `set -euo pipefail` (the file sets no shell
# options and works with or without -e):
#   # shellcheck source-path=SCRIPTDIR source=../support/shell_test_lib.sh
#   source "$(dirname "$0")/../support/shell_test_lib.sh"
#
# On sourcing:
#   tmp          a new temporary folder, removed on exit; XDG_CONFIG_HOME points into it (no
#                configuration file) and TORVANDRIX_ACCESS_CODE is unset
#   sock         the tmux socket name, tvx-<script name>-<pid>, unless the test set one before
#   an EXIT trap that runs `cleanup`: the test's own `test_cleanup` first (if it defines one),
#   then the tmux server (and its socket), the radio, the COM ports mapped with map_com, and
#   $tmp. The script's exit status is kept.
#
# Failing:
#   fail TEXT...        "FAIL: TEXT" (or "FAIL (<fail_tag>): TEXT" when fail_tag is set) on
#                       standard error, then the pane (if a session was started) and the
#                       output of the test's own `test_fail_details` (if defined); exits 1.
#
# tmux (session "t"):
#   tm ARGS...          tmux on this test's socket, e.g. `tm send-keys -t t q Enter`
#   start_tmux TERM [NAME=VALUE...]
#                       starts the session at 80 x 51 (80 x $TVX_TMUX_ROWS when set, to run a
#                       test in a smaller window) running bash without rc files in a clean
#                       environment (PATH=/usr/bin:/bin, LANG=C.UTF-8, TERM and the given
#                       variables only), status row off, escape-time 0; returns once the shell
#                       shows its prompt (fails after 15 s)
#   wait_for TEXT SECONDS
#                       polls the pane until TEXT shows (status 0) or SECONDS pass (status 1)
#   row N               row N (1-based) of the pane as text; row 51, the status row, is the
#                       pane's last row in a pane of fewer rows
#   expect_row N TEXT   fails unless row N of the snapshot in $tmp/screen is TEXT exactly (row
#                       51 as with `row`)
#   send_and_expect TEXT KEYS...
#                       sends the tmux keys and fails unless TEXT shows within 15 s
#
# The simulated radio and wine:
#   start_radio PROGRAM ARGS...
#                       runs the simulated radio with ARGS, its pseudo-terminal linked at
#                       $tmp/radio and its output in $tmp/radio.out (radio_pid is its process);
#                       fails if the link does not appear within 10 s. Stopped on exit.
#   use_wine WINE       wine is the program to run Windows programs with; exports HOME,
#                       WINEPREFIX (default $HOME/.wine) and WINEDEBUG (default -all)
#   start_wine_tmux     start_tmux for wine: TERM=xterm-256color and wine's HOME, WINEPREFIX and
#                       WINEDEBUG=-all (needs use_wine)
#   map_com N           wine's COMN opens $tmp/radio, undone on exit (needs use_wine)
#   unmap_com N         wine's COMN opens nothing

tmp=$(mktemp -d)
# The settings of whoever runs the tests stay out of them: no configuration file of theirs, no
# access code from their environment.
export XDG_CONFIG_HOME="$tmp/config"
unset TORVANDRIX_ACCESS_CODE
sock=${sock:-"tvx-$(basename "$0" .sh)-$$"}
tmux_started=
radio_pid=
mapped_coms=

tm() { tmux -L "$sock" "$@"; }

fail() {
  echo "FAIL${fail_tag:+ ($fail_tag)}: $*" >&2
  if [ -n "$tmux_started" ]; then tm capture-pane -p -t t >&2 2>/dev/null || true; fi
  if declare -F test_fail_details >/dev/null; then test_fail_details >&2 || true; fi
  exit 1
}

cleanup() {
  if declare -F test_cleanup >/dev/null; then test_cleanup || true; fi
  if [ -n "$tmux_started" ]; then
    local socket_path
    socket_path=$(tm display-message -p -t t '#{socket_path}' 2>/dev/null) || true
    tm kill-server 2>/dev/null || true
    if [ -n "$socket_path" ]; then rm -f "$socket_path"; fi  # tmux leaves it behind
  fi
  if [ -n "$radio_pid" ]; then
    kill "$radio_pid" 2>/dev/null || true
    wait "$radio_pid" 2>/dev/null || true
  fi
  local n
  for n in $mapped_coms; do unmap_com "$n"; done
  rm -rf "$tmp"
}
trap cleanup EXIT

start_tmux() {  # TERM, NAME=VALUE...
  local term=$1 command
  shift
  printf -v command '%q ' env -i PATH=/usr/bin:/bin "TERM=$term" LANG=C.UTF-8 "$@" \
    bash --norc --noprofile
  tmux_started=1
  tm -f /dev/null new-session -d -s t -x 80 -y "${TVX_TMUX_ROWS:-51}" "$command"
  tm set-option -t t status off >/dev/null
  tm set-option -t t escape-time 0 >/dev/null
  local _
  for _ in $(seq 750); do
    tm capture-pane -p -t t | grep -q '[^[:space:]]' && return 0
    sleep 0.02
  done
  fail "the shell in tmux did not start"
}

wait_for() {  # text, seconds
  local _
  for _ in $(seq $(($2 * 50))); do
    tm capture-pane -p -t t | grep -qF -- "$1" && return 0
    sleep 0.02
  done
  return 1
}

# The pane's row that shows page row N: the status row 51 is always on the pane's last row.
pane_row() {
  local rows
  rows=$(tm display-message -p -t t '#{pane_height}')
  if [ "$1" = 51 ] && [ "$rows" -lt 51 ]; then echo "$rows"; else echo "$1"; fi
}

row() { tm capture-pane -p -t t | sed -n "$(pane_row "$1")p"; }

expect_row() {  # row, text
  local line
  line=$(sed -n "$(pane_row "$1")p" "$tmp/screen")
  [ "$line" = "$2" ] || fail "row $1 is '$line', expected '$2'"
}

send_and_expect() {  # expected text, tmux keys...
  local want=$1
  shift
  tm send-keys -t t "$@"
  wait_for "$want" 15 || fail "keys '$*' did not give '$want'"
}

start_radio() {  # program, arguments...
  local program=$1 _
  shift
  "$program" "$@" --link "$tmp/radio" >"$tmp/radio.out" 2>&1 &
  radio_pid=$!
  for _ in $(seq 200); do
    [ -L "$tmp/radio" ] && return 0
    sleep 0.05
  done
  fail "the simulated radio did not start: $(cat "$tmp/radio.out")"
}

use_wine() {  # wine
  wine=$1
  export HOME=${HOME:-/root}
  export WINEPREFIX=${WINEPREFIX:-$HOME/.wine}
  export WINEDEBUG=${WINEDEBUG:--all}  # wine's own notes would go to standard error
}

start_wine_tmux() {
  start_tmux xterm-256color "HOME=$HOME" "WINEPREFIX=$WINEPREFIX" WINEDEBUG=-all
}

# wine's device manager reads its port table when it starts and keeps a link per port in the
# prefix's dosdevices: the table entry holds across a restart, the link takes effect now.
map_com() {  # port number
  mapped_coms="$mapped_coms $1"
  "$wine" reg add 'HKLM\Software\Wine\Ports' /v "COM$1" /t REG_SZ /d "$tmp/radio" /f \
    >/dev/null 2>&1 || fail "wine did not take COM$1 into its port table"
  ln -sfn "$tmp/radio" "$WINEPREFIX/dosdevices/com$1"
}

unmap_com() {  # port number
  "$wine" reg delete 'HKLM\Software\Wine\Ports' /v "COM$1" /f >/dev/null 2>&1 || true
  rm -f "$WINEPREFIX/dosdevices/com$1"
}
