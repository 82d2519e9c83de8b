#!/usr/bin/env bash
# Checks the completion scripts: halvek-hubctl's are what its table of commands and options
# makes (`halvek-hubctl completion bash|zsh`), and the bash one completes commands, each
# command's options and arguments; halvek-updater's offers exactly the options its --help lists.
#   CheckCompletion.sh COMPLETION_DIR HUBCTL [UPDATER]
set -euo pipefail
dir=$1
hubctl=$2
updater=${3:-}

failures=0
fail() {
  echo "$1"
  failures=$((failures + 1))
}

for shell in bash zsh; do
  file=$dir/halvek-hubctl
  [[ $shell == zsh ]] && file=$dir/_halvek-hubctl
  if ! diff -u "$file" <("$hubctl" completion "$shell") >/dev/null; then
    fail "$file is not what 'halvek-hubctl completion $shell' makes: write it again from there"
  fi
done

# The zsh scripts at least parse (where zsh is installed).
if command -v zsh >/dev/null; then
  for file in "$dir"/_*; do
    zsh -n "$file" || fail "$file does not parse"
  done
fi

# bash-completion's helpers, reduced to what the completion uses.
_init_completion() {
  words=("${COMP_WORDS[@]}")
  cword=$COMP_CWORD
  cur=${COMP_WORDS[COMP_CWORD]}
  prev=${COMP_WORDS[COMP_CWORD - 1]:-}
}
_filedir() { COMPREPLY=(FILE); }
# shellcheck source=/dev/null
source "$dir/halvek-hubctl"

expect() {  # expect "command line being completed" "expected candidates, sorted"
  read -r -a COMP_WORDS <<<"$1"
  [[ "$1" == *" " ]] && COMP_WORDS+=("")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMPREPLY=()
  _halvek_hubctl
  local got
  got=$(printf '%s\n' "${COMPREPLY[@]}" | sort | paste -sd ' ')
  [[ "$got" == "$2" ]] || fail "'$1': got '$got', expected '$2'"
}
expect "halvek-hubctl up" "update"
expect "halvek-hubctl --json i" "install-udev-rule"
expect "halvek-hubctl update --im" "--image --image-version"
expect "halvek-hubctl auto --p" "--parallel"
expect "halvek-hubctl update --log " "FILE"
expect "halvek-hubctl update --log=up" "FILE"
expect "halvek-hubctl update --image " "FILE"
expect "halvek-hubctl --device /dev/x update --image x --image-version 1.1.15.0906 --j" "--json"
expect "halvek-hubctl --hubs=2 --device=/dev/x st" "status"
expect "halvek-hubctl status --w" "--watch"
expect "halvek-hubctl update --f" "--force"
expect "halvek-hubctl install-udev-rule --r" "--remove"
expect "halvek-hubctl led a" "all"
expect "halvek-hubctl led 3 10" "10 100"
expect "halvek-hubctl led 3 40 " ""
expect "halvek-hubctl -- led " "1 2 3 4 5 6 7 8 all"
expect "halvek-hubctl help le" "led"
expect "halvek-hubctl completion " "bash zsh"
expect "halvek-hubctl --ver" "--version"
expect "halvek-hubctl -" "--device --help --hubs --json --simulate --version -V -h"

# Every option offered somewhere is in --help.
help=$("$hubctl" --help)
for option in $(grep -o -- '--[a-z-]*[a-z]' "$dir/halvek-hubctl" | sort -u); do
  grep -q -- "$option" <<<"$help" || fail "the completion offers $option, which --help does not list"
done

# halvek-updater: the options its completions offer are the options of its --help.
if [[ -n "$updater" ]]; then
  listed=$(QT_QPA_PLATFORM=offscreen "$updater" --help | grep -o -- '--[a-z-]*[a-z]' | sort -u)
  for file in "$dir/halvek-updater" "$dir/_halvek-updater"; do
    offered=$(grep -o -- '--[a-z-]*[a-z]' "$file" | sort -u)
    [[ "$offered" == "$listed" ]] || fail "$file offers $(echo $offered), --help lists $(echo $listed)"
  done
fi
[[ $failures -eq 0 ]] && echo "completion: all cases pass"
exit $((failures > 0))
