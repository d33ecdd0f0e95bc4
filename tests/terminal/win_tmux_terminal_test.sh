#!/usr/bin/env bash
# The Windows program's Radio Setup Screen under wine in tmux at 80 x 51, against the simulated
# radio (a native program on a pseudo-terminal that wine maps to COM11; Com1 is pointed at it by
# TORVANDRIX_COM1): key 2 opens the screen, a typed set-up command brings the radio's answer,
# q returns to the menu and Esc ends the program.
#   usage: win_tmux_terminal_test.sh <torvandrix-radio-sim> <wine> <torvandrix-upload.exe>
# WINEPREFIX and a running wineserver come from the caller (tools/run-tests-windows.sh).
set -euo pipefail
export HOME=${HOME:-/root}
export WINEPREFIX=${WINEPREFIX:-$HOME/.wine}
radio_sim=$1
wine=$2
prog=$3
sock="tvx-win-terminal-$$"
tmp=$(mktemp -d)
radio_pid=
tm() { tmux -L "$sock" "$@"; }
fail() {
  echo "FAIL: $*" >&2
  tm capture-pane -p -t t >&2 2>/dev/null || true
  exit 1
}
cleanup() {
  tm kill-server 2>/dev/null || true
  if [ -n "$radio_pid" ]; then kill "$radio_pid" 2>/dev/null || true; fi
  "$wine" reg delete 'HKLM\Software\Wine\Ports' /v COM11 /f >/dev/null 2>&1 || true
  rm -f "$WINEPREFIX/dosdevices/com11"
  rm -rf "$tmp"
}
trap cleanup EXIT

"$radio_sim" --mode setup --link "$tmp/radio" >"$tmp/radio.out" 2>&1 &
radio_pid=$!
for _ in $(seq 100); do
  [ -L "$tmp/radio" ] && break
  sleep 0.05
done
[ -L "$tmp/radio" ] || fail "the simulated radio did not start"
"$wine" reg add 'HKLM\Software\Wine\Ports' /v COM11 /t REG_SZ /d "$tmp/radio" /f >/dev/null 2>&1
ln -sfn "$tmp/radio" "$WINEPREFIX/dosdevices/com11"

cat >"$tmp/run" <<RUN
export TORVANDRIX_COM1='\\\\.\\COM11'
"$wine" "$prog"
echo "STATUS \$?"
RUN
tm -f /dev/null new-session -d -s t -x 80 -y 51 \
  "env -i PATH=/usr/bin:/bin TERM=xterm-256color LANG=C.UTF-8 HOME=$HOME WINEPREFIX=$WINEPREFIX WINEDEBUG=-all bash --norc --noprofile"
tm set-option -t t status off >/dev/null
tm set-option -t t escape-time 0 >/dev/null
sleep 0.3

wait_for() { # text, seconds
  for _ in $(seq $(($2 * 10))); do
    tm capture-pane -p -t t | grep -qF -- "$1" && return 0
    sleep 0.1
  done
  return 1
}
row() { tm capture-pane -p -t t | sed -n "${1}p"; }

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

tm send-keys -t t q
wait_for "<esc>    End program" 20 || fail "q did not return to the menu"
tm capture-pane -p -t t | grep -qF "Firmware Rev 2.54" && fail "the set-up screen was left on the screen"
tm send-keys -t t Escape
wait_for "STATUS 0" 20 || fail "Esc did not end the program"
echo "win radio setup screen in tmux: ok"
