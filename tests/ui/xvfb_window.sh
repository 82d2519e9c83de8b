#!/usr/bin/env bash
# The real window on a virtual X display, driven with xdotool as a person would:
#   xvfb_window.sh <halvek-updater> nowm      no window manager: the frame moves the window itself
#   xvfb_window.sh <halvek-updater> openbox   under openbox: the window manager's move, minimise
#                                             and restore
# Checks that a drag on the form's own surface moves the window and a drag on child controls
# (a label, the blank page, the bottom strip) does not, and that the close button ends the
# program. Exit status 77: skipped (a tool is missing).
set -uo pipefail

program=$1
mode=$2
source "$(dirname "$0")/shell_test.sh"
need Xvfb xdotool xwininfo
[ "$mode" = openbox ] && need openbox

unset WAYLAND_DISPLAY QT_SCALE_FACTOR
export QT_QPA_PLATFORM=xcb

start_xvfb
if [ "$mode" = openbox ]; then
  openbox --sm-disable >/dev/null 2>&1 &
  pids+=($!)
  for _ in $(seq 100); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id" && break
    sleep 0.05
  done
fi

"$program" --simulate >/dev/null 2>&1 &
program_pid=$!
pids+=($program_pid)
window=""
for _ in $(seq 200); do
  window=$(xdotool search --onlyvisible --pid "$program_pid" 2>/dev/null | head -n 1)
  [ -n "$window" ] && break
  sleep 0.05
done
[ -n "$window" ] || fail "no window"
sleep 0.5

position() {
  xwininfo -id "$window" | awk '/Absolute upper-left X/ {x = $NF} /Absolute upper-left Y/ {y = $NF} END {print x, y}'
}
# Drags from window point ($1, $2) by ($3, $4) and sets moved_by to how far the window
# followed; waits up to 3 s for the expected move ($5 $6) on a busy machine.
drag() {
  local x y
  read -r x y < <(position)
  drag_x=$x
  drag_y=$y
  xdotool mousemove --sync $((x + $1)) $((y + $2))
  sleep 0.1
  xdotool mousedown 1
  sleep 0.1
  local step
  for step in 1 2 3 4; do
    xdotool mousemove --sync $((x + $1 + $3 * step / 4)) $((y + $2 + $4 * step / 4))
    sleep 0.05
  done
  sleep 0.2
  xdotool mouseup 1
  local nx ny
  for _ in $(seq 60); do
    sleep 0.05
    read -r nx ny < <(position)
    moved_by="$((nx - x)) $((ny - y))"
    [ "$moved_by" = "$5 $6" ] && break
  done
}

drag 400 135 60 40 60 40
[ "$moved_by" = "60 40" ] || fail "a drag on the frame's surface moved the window by ($moved_by), not (60 40)"
echo "ok: the frame's surface moves the window ($mode)"
# Home page: the help text, the blank page above the release notes, the bottom strip.
for point in "120 260" "700 170" "400 570"; do
  drag $point 50 30 0 0
  sleep 0.3  # time for a wrong move to show
  read -r nx ny < <(position)
  moved_by="$((nx - drag_x)) $((ny - drag_y))"
  [ "$moved_by" = "0 0" ] || fail "a drag at ($point) on a child control moved the window by ($moved_by)"
done
echo "ok: child controls do not move the window"

if [ "$mode" = openbox ]; then
  read -r x y < <(position)
  xdotool mousemove --sync $((x + 803)) $((y + 11)) click 1
  for _ in $(seq 60); do
    xwininfo -id "$window" | grep -q "IsViewable" || break
    sleep 0.05
  done
  xwininfo -id "$window" | grep -q "IsViewable" && fail "the minimise button left the window on screen"
  xdotool windowactivate "$window" 2>/dev/null
  for _ in $(seq 60); do
    xwininfo -id "$window" | grep -q "IsViewable" && break
    sleep 0.05
  done
  xwininfo -id "$window" | grep -q "IsViewable" || fail "the window did not come back"
  echo "ok: minimise and restore"
fi

read -r x y < <(position)
xdotool mousemove --sync $((x + 836)) $((y + 11)) click 1
for _ in $(seq 100); do
  kill -0 "$program_pid" 2>/dev/null || break
  sleep 0.05
done
kill -0 "$program_pid" 2>/dev/null && fail "the close button did not end the program"
echo "ok: the close button ends the program"
exit 0
