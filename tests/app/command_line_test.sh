#!/usr/bin/env bash
# The command line of the real program: each --help and --version print and exit 0 before any
# terminal is needed; a wrong argument is refused on stderr in two lines (the reason, then the
# help to read), with status 2 and nothing on stdout.
#   usage: command_line_test.sh <path to torvandrix-upload>
set -uo pipefail
prog=$1
# shellcheck source-path=SCRIPTDIR source=../support/shell_test_lib.sh
source "$(dirname "$0")/../support/shell_test_lib.sh"

# Should a wrong command line be taken, the job it starts fails at once on a port that does
# not exist rather than talking to a serial port of this machine.
export TORVANDRIX_COM1=$tmp/no-such-port

run() {  # arguments...: sets status, out, err (standard input is not a terminal)
  "$prog" "$@" < /dev/null > "$tmp/out" 2> "$tmp/err"
  status=$?
  out=$(cat "$tmp/out")
  err=$(cat "$tmp/err")
}

for help in --help -h; do
  run "$help"
  [ "$status" = 0 ] || fail "$help: status $status, stderr '$err'"
  [ "$(head -1 "$tmp/out")" = "usage: torvandrix-upload [options]" ] \
    || fail "$help: first line '$(head -1 "$tmp/out")'"
  grep -qF "TORVANDRIX_COM1=/dev/ttyUSB0" "$tmp/out" || fail "$help does not tell how ports are bound"
  tr '\n' ' ' < "$tmp/out" | grep -qF "6 complete, but words were resent" \
    || fail "$help lacks exit status 6"
  [ -z "$err" ] || fail "$help wrote to stderr: $err"
done

run direct --help
[ "$status" = 0 ] && [ -z "$err" ] || fail "direct --help: status $status, '$err'"
grep -qE '^  --retries N +retries' "$tmp/out" || fail "direct --help lacks --retries: $out"
for rf_option in --copies --start --passes; do
  grep -qF -- "$rf_option" "$tmp/out" && fail "direct --help lists $rf_option"
done

# The range of --start ends at the image's last record: help comes after the values are checked.
run rf --copies 1 --start 4143 --help
[ "$status" = 0 ] && [ "$(head -1 "$tmp/out")" = "usage: torvandrix-upload rf --copies N [options]" ] \
  || fail "rf --start 4143: status $status, '$err'"

run --version
[ "$status" = 0 ] && [ "$out" = "torvandrix-upload 2.54" ] && [ -z "$err" ] \
  || fail "--version: status $status, '$out', '$err'"

# usage_error SUB-COMMAND|- REASON ARGUMENTS...: refused with REASON and the help of SUB-COMMAND
# (- for the program's own), in the program's words and not CLI11's.
usage_error() {
  local sub=$1 reason=$2
  shift 2
  run "$@"
  local help="torvandrix-upload --help"
  [ "$sub" = - ] || help="torvandrix-upload $sub --help"
  [ "$status" = 2 ] && [ -z "$out" ] || fail "$*: status $status, stdout '$out'"
  [ "$err" = "torvandrix-upload: $reason"$'\n'"see '$help'" ] || fail "$*: stderr '$err'"
}
usage_error - '--bogus is not an option' --bogus
usage_error - 'unknown sub-command "frob": the sub-commands are direct, rf, image and ports' frob
usage_error - '--com takes N=DEVICE with N from 1 to 9, e.g. 1=/dev/ttyUSB0, not "0=/dev/null"' \
  --com 0=/dev/null
usage_error direct '--com is for the menu; a sub-command takes --port DEVICE' --com 1=/dev/null direct
usage_error direct '--com is for the menu; a sub-command takes --port DEVICE' direct --com 1=/dev/null
usage_error direct 'direct takes options only, not "now"' direct now
usage_error direct '--port takes a device, e.g. /dev/ttyUSB0, or Com1 to Com9, not ""' direct --port ''
usage_error direct '--retries takes a number from 0 to 1000000, not "many"' direct --retries many
# Several radios at once: one device given twice, or under a name that leads to it, opens none.
usage_error direct '--port /dev/null is given twice' direct --port /dev/null --port /dev/null
ln -s /dev/null "$tmp/null-link"
TORVANDRIX_COM2=/dev/zero usage_error direct \
  "--port /dev/null and --port $tmp/null-link are the same device" \
  direct --port /dev/null --port com2 --port "$tmp/null-link"
usage_error rf 'rf needs --copies: a number from 1 to 9' rf
usage_error rf '--copies takes a number from 1 to 9, not "0"' rf --copies 0
usage_error rf '--start takes a record from 0 to 4143, not "4144"' rf --copies 1 --start 4144
usage_error direct '--copies is an option of rf, not of direct' direct --copies 1
usage_error direct 'one sub-command at a time, not "rf" after direct' direct rf
usage_error ports 'ports writes no log' ports --log /tmp/x
usage_error ports 'ports writes no log' --log /tmp/x ports
for bad in soon -1 nan 1e3 86401; do
  usage_error direct "--timeout takes seconds from 0 to 86400 (0: wait for ever), not \"$bad\"" \
    direct --timeout "$bad"
done
usage_error direct '--timeout takes seconds from 0 to 86400 (0: wait for ever), and none was given' \
  direct --timeout

# Images: the built-in one written out reads back with the digest sha256sum gives; a bad image
# file, or what is not a file, is refused before any port is opened (COM1 here does not exist).
run image --export "$tmp/fw.bin"
[ "$status" = 0 ] || fail "image --export: status $status, '$err'"
run image "$tmp/fw.bin" --json
sum=$(sha256sum "$tmp/fw.bin" | cut -d' ' -f1)
grep -qF "\"sha256\":\"$sum\"" "$tmp/out" || fail "image --json: digest is not $sum: $out"
head -c 82879 "$tmp/fw.bin" > "$tmp/short.bin"
usage_error direct "the image $tmp/short.bin: record 4143: incomplete, only 19 of 20 bytes (image \
size 82879 is not a multiple of 20)" direct --image "$tmp/short.bin"
mkfifo "$tmp/fifo"
usage_error rf "the image $tmp/fifo: not a regular file" rf --copies 1 --image "$tmp/fifo"

# A name echoed in an error cannot reach the terminal as a control sequence.
run --com $'0=/dev/\e[2J'
[ "$status" = 2 ] && grep -qF 'not "0=/dev/\x1B[2J"' "$tmp/err" || fail "escape: '$err'"
if LC_ALL=C grep -q $'\e' "$tmp/err"; then fail "an ESC byte reached stderr"; fi
echo "command line test passed"
