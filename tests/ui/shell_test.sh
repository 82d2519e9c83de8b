# Sourced by the window's shell tests: missing tools skip the test (exit status 77), the
# processes a test starts end with it, and a virtual X display of its own.

# need TOOL...: skips the test unless every tool is installed.
need() {
  local tool
  for tool in "$@"; do
    if ! command -v "$tool" >/dev/null; then
      echo "SKIP: $tool is not installed"
      exit 77
    fi
  done
}
# need_python IMPORT PACKAGE: Debian's python must have the module (another python on the PATH
# may lack it).
need_python() {
  if ! /usr/bin/python3 -c "$1" 2>/dev/null; then
    echo "SKIP: $2 is not installed"
    exit 77
  fi
}

pids=()     # ended at exit, the last started first
scratch=""  # removed at exit
cleanup() {
  local i
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    kill "${pids[i]}" 2>/dev/null
    wait "${pids[i]}" 2>/dev/null
  done
  [ -n "$scratch" ] && rm -rf "$scratch"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*"
  exit 1
}

# Xvfb picks a free display itself and names it once it listens: tests running side by side
# never share one. -noreset: otherwise the server resets whenever its last client leaves, and a
# program connecting during the reset is refused. Exports DISPLAY.
start_xvfb() {
  local displayfile
  displayfile=$(mktemp)
  Xvfb -displayfd 3 -noreset -screen 0 1280x1024x24 -nolisten tcp 3>"$displayfile" >/dev/null 2>&1 &
  pids+=($!)
  for _ in $(seq 200); do
    [ -s "$displayfile" ] && break
    sleep 0.05
  done
  [ -s "$displayfile" ] || fail "Xvfb did not start"
  export DISPLAY=":$(head -n 1 "$displayfile")"
  rm -f "$displayfile"
}
