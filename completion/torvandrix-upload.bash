# bash completion for torvandrix-upload: the sub-commands, the options of each (read from the
# program's own help, so that they are always the installed program's), and the serial devices
# for --port and --com (read from `torvandrix-upload ports`, with the menu's Com1 to Com9).
# shellcheck disable=SC2207  # COMPREPLY=($(compgen ...)): the usual form; the words split as meant

# The options a help text lists: its lines of the form "  --name ..." or "  -h, --name ...".
_torvandrix_upload_options() {
  "$1" "${@:2}" --help 2>/dev/null |
    sed -n -E 's/^  (-[A-Za-z0-9], )?(--[A-Za-z0-9][A-Za-z0-9-]*).*/\2/p'
}

# The serial devices `ports` lists (the device and its stable name), then Com1 to Com9.
_torvandrix_upload_devices() {
  "$1" ports 2>/dev/null | awk 'NR > 1 { print $1; if ($3 != "-") print $3 }'
  printf '%s\n' Com1 Com2 Com3 Com4 Com5 Com6 Com7 Com8 Com9
}

_torvandrix_upload() {
  local cur prev words cword
  _init_completion -n = || return
  local program=${words[0]}

  # The sub-command, past the options of the program and their values.
  local sub="" i
  for ((i = 1; i < cword; i++)); do
    case ${words[i]} in
      direct | rf | ports | image | setup)
        sub=${words[i]}
        break
        ;;
    esac
  done

  case $prev in
    --port)
      local IFS=$'\n'
      COMPREPLY=($(compgen -W "$(_torvandrix_upload_devices "$program")" -- "$cur"))
      return
      ;;
    --com)
      # N=DEVICE: the number first, then the device after it.
      if [[ $cur == [1-9]=* ]]; then
        local IFS=$'\n'
        COMPREPLY=($(compgen -P "${cur:0:2}" \
          -W "$(_torvandrix_upload_devices "$program" | grep -v '^Com')" -- "${cur:2}"))
      else
        COMPREPLY=($(compgen -W "1= 2= 3= 4= 5= 6= 7= 8= 9=" -- "$cur"))
        compopt -o nospace 2>/dev/null
      fi
      return
      ;;
    --log | --config | --image | --export | --script | --session-log)
      _filedir
      return
      ;;
    --retries | --timeout | --copies | --start | --passes | --access-code)
      return  # a number or a code: nothing to offer
      ;;
    --send | --send-secret | --expect)
      return  # a text or a pattern of the user's
      ;;
    --baud)
      COMPREPLY=($(compgen -W "4800 9600 19200 38400 57600 115200" -- "$cur"))
      return
      ;;
  esac

  if [[ -z $sub ]]; then
    if [[ $cur == -* ]]; then
      COMPREPLY=($(compgen -W "$(_torvandrix_upload_options "$program")" -- "$cur"))
    else
      COMPREPLY=($(compgen -W "direct rf ports image setup" -- "$cur"))
    fi
    return
  fi
  if [[ $sub == image && $cur != -* ]]; then
    _filedir  # the image to show
    return
  fi
  COMPREPLY=($(compgen -W "$(_torvandrix_upload_options "$program" "$sub")" -- "$cur"))
} &&
  complete -F _torvandrix_upload torvandrix-upload
