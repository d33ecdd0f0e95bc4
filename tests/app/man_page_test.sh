#!/usr/bin/env bash
# The manual page documents every option that any --help lists: each help's option entries
# ("  --name ..." or "  -h, --name ...") are read and each long name must head an entry of the
# page's OPTIONS section (the line after a .TP), where roff writes it as \-\-name. Then the
# page must format without a warning.
#   usage: man_page_test.sh <path to torvandrix-upload> <path to torvandrix-upload.1>
set -uo pipefail
prog=$1
page=$2
# shellcheck source-path=SCRIPTDIR source=../support/shell_test_lib.sh
source "$(dirname "$0")/../support/shell_test_lib.sh"

# The heads of the OPTIONS section's entries, e.g. '.BI \-\-port " DEVICE"'.
entries=$(awk '/^\.SH /{options=($2=="OPTIONS")} options && previous==".TP"{print} {previous=$0}' "$page")
[ -n "$entries" ] || fail "$page has no option entries"
checked=0
for sub in "" direct rf ports image; do
  # shellcheck disable=SC2086  # no sub-command: no argument
  "$prog" $sub --help > "$tmp/help" 2>&1 || fail "'$sub --help' failed: $(cat "$tmp/help")"
  options=$(grep -oE '^  (-[a-zA-Z], )?--[a-z][a-z0-9-]*' "$tmp/help" | grep -oE -- '--[a-z0-9-]+')
  [ -n "$options" ] || fail "'$sub --help' lists no options"
  for option in $options; do
    pattern=${option//-/\\\\-}  # --json: a pattern for roff's \\-\\-json
    grep -qE -- "(^| )$pattern( |\"|\$)" <<< "$entries" \
      || fail "'$sub --help' lists $option, which $page does not document"
    checked=$((checked + 1))
  done
done
if command -v groff > /dev/null; then
  warnings=$(groff -man -Tutf8 -ww -z "$page" 2>&1)
  [ -z "$warnings" ] || fail "groff: $warnings"
fi
echo "man page test passed: $checked options documented"
