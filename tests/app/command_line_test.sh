#!/usr/bin/env bash
# The command line of the real program: --help and --version print and exit 0 before any
# terminal is needed; an unknown argument is refused with the usage on stderr and status 2.
#   usage: command_line_test.sh <path to torvandrix-upload>
set -uo pipefail
prog=$1
# shellcheck source-path=SCRIPTDIR source=../support/shell_test_lib.sh
source "$(dirname "$0")/../support/shell_test_lib.sh"
usage="usage: torvandrix-upload [--com N=DEVICE]..."

run() {  # arguments...: sets status, out, err (standard input is not a terminal)
  "$prog" "$@" < /dev/null > "$tmp/out" 2> "$tmp/err"
  status=$?
  out=$(cat "$tmp/out")
  err=$(cat "$tmp/err")
}

for help in --help -h; do
  run "$help"
  [ "$status" = 0 ] || fail "$help: status $status, stderr '$err'"
  [ "$(head -1 "$tmp/out")" = "$usage" ] || fail "$help: first line '$(head -1 "$tmp/out")'"
  grep -qF "TORVANDRIX_COM1=/dev/ttyUSB0" "$tmp/out" || fail "$help does not tell how ports are bound"
  [ -z "$err" ] || fail "$help wrote to stderr: $err"
done

run --version
[ "$status" = 0 ] && [ "$out" = "torvandrix-upload 2.54" ] && [ -z "$err" ] \
  || fail "--version: status $status, '$out', '$err'"

run --bogus
[ "$status" = 2 ] && [ -z "$out" ] || fail "--bogus: status $status, stdout '$out'"
[ "$(head -1 "$tmp/err")" = "torvandrix-upload: The following argument was not expected: --bogus" ] \
  && [ "$(sed -n 2p "$tmp/err")" = "$usage" ] || fail "--bogus: stderr '$err'"

run --com 0=/dev/null
[ "$status" = 2 ] && grep -qF "N from 1 to 9" "$tmp/err" || fail "--com 0=: status $status, '$err'"

run --com 1=/dev/null direct
[ "$status" = 2 ] && grep -qF "a sub-command takes --port" "$tmp/err" || fail "direct --com: '$err'"

for bad in soon -1 nan; do
  run direct --timeout "$bad"
  [ "$status" = 2 ] && [ -z "$out" ] && grep -qF -- "--timeout" "$tmp/err" \
    || fail "direct --timeout $bad: status $status, '$err'"
done
echo "command line test passed"
