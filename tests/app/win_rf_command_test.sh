#!/usr/bin/env bash
# The Windows program's "rf" sub-command under wine against the simulated local radio (a native
# program on a pseudo-terminal that wine maps to COM9; the serial tests have COM5, the upload in
# tmux COM6): a short broadcast from near the end of the image, one copy, one pass. Checks the
# exit status, the printed outcome, the notes on standard error and the upload log's line,
# literally.
#   usage: win_rf_command_test.sh <torvandrix-radio-sim> <wine> <torvandrix-upload.exe>
# WINEPREFIX and a running wineserver come from the caller (tools/run-tests-windows.sh).
set -uo pipefail
# shellcheck source-path=SCRIPTDIR source=../support/shell_test_lib.sh
source "$(dirname "$0")/../support/shell_test_lib.sh"
use_wine "$2"
radio_sim=$1
prog=$3
test_fail_details() {
  echo "--- what the program printed (status ${status:-none}):"
  cat "$tmp/out" "$tmp/err" 2>/dev/null
  echo "--- what the radio printed:"
  cat "$tmp/radio.out"
}

start_radio "$radio_sim" --mode rf --fast
map_com 9

# The log in the Windows form of its path (wine's Z: drive is the root of the file system).
log="Z:${tmp//\//\\}\\uploads.jsonl"
"$wine" "$prog" rf --port COM9 --copies 1 --start 4140 --log "$log" \
  </dev/null >"$tmp/out" 2>"$tmp/err"
status=$?
tr -d '\r' <"$tmp/out" >"$tmp/out.txt"

[ "$status" -eq 0 ] || fail "exit status $status, expected 0"
grep -qxF "Broadcast complete: 1 pass, 4 frames, 0 echo mismatches." "$tmp/out.txt" ||
  fail "no outcome line for a complete broadcast"
# Standard error holds the notes and nothing else: the device opened (printed with its
# backslashes escaped) and the one pass.
expected_err='Opened COM9 (\\\\.\\COM9).
Pass 1 of 1'
err_text=$(tr -d '\r' <"$tmp/err")
[ "$err_text" = "$expected_err" ] || fail "standard error
  got:      $err_text
  expected: $expected_err"

# The log's one line, its time, version and duration masked; the image's digest is the one
# sha256sum gives for the built-in image the program writes out.
"$wine" "$prog" image --export "Z:${tmp//\//\\}\\fw.bin" </dev/null >/dev/null 2>&1 ||
  fail "image --export failed"
sum=$(sha256sum "$tmp/fw.bin" | cut -d' ' -f1)
[ "$(wc -l <"$tmp/uploads.jsonl")" -eq 1 ] || fail "the log does not hold one line: $(cat "$tmp/uploads.jsonl")"
line=$(sed -E 's/"time":"[^"]*"/"time":"T"/; s/"version":"[^"]*"/"version":"V"/; s/"seconds":[0-9.e+-]+/"seconds":S/' "$tmp/uploads.jsonl" | tr -d '\r')
expected='{"time":"T","version":"V","job":"rf","port":"COM9","device":"\\\\\\\\.\\\\COM9","serial_number":null,"image":{"records":4144,"checksum":"9306","sha256":"'"$sum"'","source":"built_in"},"outcome":"complete","seconds":S,"echo_mismatches":0,"passes":1,"frames":4}'
[ "$line" = "$expected" ] || fail "log line
  got:      $line
  expected: $expected"
echo "win rf command: ok"
