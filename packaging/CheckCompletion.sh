#!/usr/bin/env bash
# Checks the bash completion of halvek-hubctl: commands first, then each command's own options,
# and that every option it offers is one --help lists.
#   CheckCompletion.sh COMPLETION_FILE HUBCTL
set -euo pipefail
completion=$1
hubctl=$2

# bash-completion's helpers, reduced to what the completion uses.
_init_completion() {
  words=("${COMP_WORDS[@]}")
  cword=$COMP_CWORD
  cur=${COMP_WORDS[COMP_CWORD]}
  prev=${COMP_WORDS[COMP_CWORD - 1]:-}
}
_filedir() { COMPREPLY=(FILE); }
# shellcheck source=/dev/null
source "$completion"

failures=0
expect() {  # expect "command line being completed" "expected candidates, sorted"
  read -r -a COMP_WORDS <<<"$1"
  [[ "$1" == *" " ]] && COMP_WORDS+=("")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMPREPLY=()
  _halvek_hubctl
  local got
  got=$(printf '%s\n' "${COMPREPLY[@]}" | sort | paste -sd ' ')
  if [[ "$got" != "$2" ]]; then
    echo "'$1': got '$got', expected '$2'"
    failures=$((failures + 1))
  fi
}
expect "halvek-hubctl up" "update"
expect "halvek-hubctl --json i" "install-udev-rule"
expect "halvek-hubctl update --im" "--image --image-version"
expect "halvek-hubctl auto --p" "--parallel"
expect "halvek-hubctl update --log " "FILE"
expect "halvek-hubctl update --image " "FILE"
expect "halvek-hubctl --device /dev/x update --image x --image-version 1.1.15.0906 --j" "--json"
expect "halvek-hubctl status --w" "--watch"
expect "halvek-hubctl led a" "all"
expect "halvek-hubctl --ver" "--version"

# Every option offered somewhere is in --help.
help=$("$hubctl" --help)
for option in $(grep -o -- '--[a-z-]*' "$completion" | sort -u); do
  if ! grep -q -- "$option" <<<"$help"; then
    echo "the completion offers $option, which --help does not list"
    failures=$((failures + 1))
  fi
done
[[ $failures -eq 0 ]] && echo "bash completion: all cases pass"
exit $((failures > 0))
