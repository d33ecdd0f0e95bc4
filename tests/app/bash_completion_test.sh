#!/usr/bin/env bash
# The bash completion against the built program: the sub-commands, each sub-command's own
# options and not another's, the devices for --port (a link the test binds through
# TORVANDRIX_COM4) and the N=DEVICE form of --com.
#   usage: bash_completion_test.sh PROGRAM COMPLETION_FILE
set -euo pipefail
prog=$1
completion=$2
if [ ! -f /usr/share/bash-completion/bash_completion ]; then
  echo "SKIP: bash-completion is not installed"
  exit 77
fi
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
# A device to list: the program lists what a binding names when it exists.
ln -s /dev/null "$tmp/radio"
export TORVANDRIX_COM4=$tmp/radio
unset TORVANDRIX_COM1 TORVANDRIX_COM2 TORVANDRIX_COM3 TORVANDRIX_COM5 TORVANDRIX_COM6 \
  TORVANDRIX_COM7 TORVANDRIX_COM8 TORVANDRIX_COM9

set +eu  # bash-completion is not written for -e and -u
# shellcheck disable=SC1091
source /usr/share/bash-completion/bash_completion
# shellcheck disable=SC1090
source "$completion"

failures=0
# complete LINE: the completions of LINE (the last word is the one completed), one a line.
complete_line() {
  COMP_LINE="$prog ${1#torvandrix-upload }"  # the program as the shell found it
  COMP_POINT=${#COMP_LINE}
  read -r -a COMP_WORDS <<<"$COMP_LINE"
  [[ $COMP_LINE == *" " ]] && COMP_WORDS+=("")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMPREPLY=()
  _torvandrix_upload torvandrix-upload "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
  printf '%s\n' "${COMPREPLY[@]}" | sort
}
# expect LINE WORD...: every WORD is offered; a WORD written !X: X is not.
expect() {
  local line=$1 got word
  shift
  got=$(complete_line "$line")
  for word in "$@"; do
    if [[ $word == !* ]]; then
      if grep -qxF -- "${word#!}" <<<"$got"; then
        echo "FAIL: '$line' offers ${word#!}: $(tr '\n' ' ' <<<"$got")"
        failures=$((failures + 1))
      fi
    elif ! grep -qxF -- "$word" <<<"$got"; then
      echo "FAIL: '$line' does not offer $word: $(tr '\n' ' ' <<<"$got")"
      failures=$((failures + 1))
    fi
  done
}

expect "torvandrix-upload " direct rf ports image '!--port'
expect "torvandrix-upload image --" --export --json '!--port'
expect "torvandrix-upload d" direct '!rf'
expect "torvandrix-upload --" --com --log --help --version '!--port'
expect "torvandrix-upload direct --" --port --retries --high-speed --json --help '!--copies' '!--com'
expect "torvandrix-upload rf --copies 2 --" --copies --start --passes --port '!--retries'
expect "torvandrix-upload ports --" --json --help '!--port' '!--log'
expect "torvandrix-upload --log /tmp/x direct --p" --port '!--passes'
expect "torvandrix-upload direct --port " /dev/null "$tmp/radio" Com1 Com9
expect "torvandrix-upload rf --port Com" Com1 Com4 '!/dev/null'
expect "torvandrix-upload --com " 1= 9=
expect "torvandrix-upload --com 2=" "2=/dev/null" "2=$tmp/radio" '!2=Com1'
expect "torvandrix-upload direct --retries " '!--port' '!Com1'

if [ "$failures" -ne 0 ]; then
  echo "$failures failed"
  exit 1
fi
echo "bash completion: all cases passed"
