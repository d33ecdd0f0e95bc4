#!/usr/bin/env bash
# The access code given on the command line, as other programs see the running upload: gone
# from its arguments (the process list), and no core dump allowed while it is held.
#   usage: access_code_process_test.sh <path to torvandrix-upload> <path to torvandrix-radio-sim>
set -euo pipefail
prog=$(readlink -f "$1")
sim=$(readlink -f "$2")
# shellcheck source-path=SCRIPTDIR source=../support/shell_test_lib.sh
source "$(dirname "$0")/../support/shell_test_lib.sh"
[ -r /proc/self/cmdline ] || { echo "no /proc: skipped"; exit 77; }

code=0x5C,0x3A,0x91,0xE7
start_radio "$sim" --fast --access-code "$code"
ulimit -c unlimited 2>/dev/null || true
"$prog" direct --port "$tmp/radio" --log "$tmp/log" --access-code "$code" \
  > "$tmp/out" 2> "$tmp/err" < /dev/null &
pid=$!
for _ in $(seq 1000); do
  grep -qF "Starting Download" "$tmp/err" 2>/dev/null && break
  sleep 0.02
done
grep -qF "Starting Download" "$tmp/err" || fail "the code was not taken: $(cat "$tmp/out" "$tmp/err")"
tr '\0' ' ' < "/proc/$pid/cmdline" > "$tmp/cmdline"
grep -qF -- "--access-code" "$tmp/cmdline" || fail "not the upload's arguments: $(cat "$tmp/cmdline")"
if grep -qiF "5C" "$tmp/cmdline"; then fail "the process list shows the code: $(cat "$tmp/cmdline")"; fi
grep -qE '^Max core file size +0 ' "/proc/$pid/limits" || fail "core dumps allowed: $(grep core "/proc/$pid/limits")"
kill -TERM "$pid"
wait "$pid" || true
echo "access code process test passed"
