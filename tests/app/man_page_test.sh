#!/usr/bin/env bash
# The manual page documents every option that any --help lists: each help's option entries
# ("  --name ..." or "  -h, --name ...") are read and each long name is looked for in the page's
# source, where roff writes it as \-\-name. Then the page must format without a warning.
#   usage: man_page_test.sh <path to torvandrix-upload> <path to torvandrix-upload.1>
set -uo pipefail
prog=$1
page=$2
# shellcheck source-path=SCRIPTDIR source=../support/shell_test_lib.sh
source "$(dirname "$0")/../support/shell_test_lib.sh"

checked=0
for sub in "" direct rf ports; do
  # shellcheck disable=SC2086  # no sub-command: no argument
  "$prog" $sub --help > "$tmp/help" 2>&1 || fail "'$sub --help' failed: $(cat "$tmp/help")"
  options=$(grep -oE '^  (-[a-zA-Z], )?--[a-z][a-z0-9-]*' "$tmp/help" | grep -oE -- '--[a-z0-9-]+')
  [ -n "$options" ] || fail "'$sub --help' lists no options"
  for option in $options; do
    roff=${option//-/\\-}
    grep -qF -- "$roff" "$page" || fail "'$sub --help' lists $option, which $page does not document"
    checked=$((checked + 1))
  done
done
if command -v groff > /dev/null; then
  warnings=$(groff -man -Tutf8 -ww -z "$page" 2>&1)
  [ -z "$warnings" ] || fail "groff: $warnings"
fi
echo "man page test passed: $checked options documented"
