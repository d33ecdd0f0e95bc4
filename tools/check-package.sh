#!/usr/bin/env bash
# Makes the .deb from a Release build folder with CPack and has lintian check it: any error (E:)
# or warning (W:) fails, and so does a program without the hardening lintian only notes (bind
# at start, fortified functions). Other notes are shown and pass.
#   usage: check-package.sh [build folder]   (default: build-release, configured and built)
set -euo pipefail
cd "$(dirname "$0")/.."
tools/ensure-deps.sh lintian
build=${1:-build-release}
rm -f "$build"/torvandrix-upload_*.deb
(cd "$build" && cpack -G DEB >cpack.log 2>&1) || { cat "$build/cpack.log" >&2; exit 1; }
deb=$(ls "$build"/torvandrix-upload_*.deb)
echo "package: $deb"
# As root lintian says it would rather not run so; that line is not a finding.
report=$(lintian --display-info --tag-display-limit 0 "$deb" 2> >(grep -v "root privileges" >&2)) || true
[ -z "$report" ] || echo "$report"
if grep -qE '^[EW]: |^I: [^ ]+ hardening-' <<<"$report"; then
  echo "lintian reports an error, a warning or missing hardening on $deb" >&2
  exit 1
fi
echo "lintian: no error and no warning"
