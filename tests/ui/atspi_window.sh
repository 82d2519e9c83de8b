#!/usr/bin/env bash
# The window as a screen reader sees it: the real program (--simulate) on a virtual X display,
# its accessibility tree read over AT-SPI on a private session bus with python3-pyatspi. Finds
# the Update module and the Update button by role and name, presses both through their action
# interface, and reads the update log until the update has completed; checks the lamp's name
# and that every control a user can reach has a name.
#   atspi_window.sh <halvek-updater>
# Exit status 77: skipped (a tool is missing).
set -uo pipefail

program=$1
launcher=/usr/libexec/at-spi-bus-launcher
source "$(dirname "$0")/shell_test.sh"
need Xvfb dbus-run-session "$launcher"
need_python 'import pyatspi' python3-pyatspi

if [ -z "${HALVEK_ATSPI_INSIDE:-}" ]; then
  # Everything below on a session bus of its own, gone with the script.
  HALVEK_ATSPI_INSIDE=1 exec dbus-run-session -- "$0" "$program"
fi

unset WAYLAND_DISPLAY QT_SCALE_FACTOR
export QT_QPA_PLATFORM=xcb QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
scratch=$(mktemp -d)
export XDG_STATE_HOME=$scratch
start_xvfb

"$launcher" --launch-immediately >/dev/null 2>&1 &
pids+=($!)
sleep 0.5
"$program" --simulate >/dev/null 2>&1 &
program_pid=$!
pids+=($program_pid)

/usr/bin/python3 - "$program_pid" <<'EOF'
import sys, time
import pyatspi

pid = int(sys.argv[1])


def fail(message):
    print("FAIL: " + message)
    sys.exit(1)


def wait_for(what, test, seconds=15.0):
    end = time.time() + seconds
    while time.time() < end:
        found = test()
        if found:
            return found
        time.sleep(0.1)
    fail(what)


def application():
    for app in pyatspi.Registry.getDesktop(0):
        if app is not None and app.get_process_id() == pid:
            return app
    return None


def showing(root):
    """Every object on screen; hidden pages and their controls are left out."""
    out = []
    stack = [root]
    while stack:
        node = stack.pop()
        if node is None:
            continue
        if node is not root and not node.getState().contains(pyatspi.STATE_SHOWING):
            continue
        out.append(node)
        stack.extend(node.getChildAtIndex(i) for i in range(node.childCount))
    return out


def find(app, role, name):
    for node in showing(app):
        if node.getRoleName() == role and node.name == name:
            return node
    return None


def press(node):
    action = node.queryAction()
    names = [action.getName(i).lower() for i in range(action.nActions)]
    for wanted in ("press", "click"):
        if wanted in names:
            action.doAction(names.index(wanted))
            return
    fail("%s %r has no press action (%s)" % (node.getRoleName(), node.name, names))


app = wait_for("the program's window is not in the AT-SPI tree", application)
module = wait_for("no page tab 'Update' (the Update module)",
                  lambda: find(app, "page tab", "Update"))
press(module)
button = wait_for("no push button 'Update' after pressing the Update module",
                  lambda: find(app, "push button", "Update"))
if not module.getState().contains(pyatspi.STATE_SELECTED):
    fail("the Update module is not selected after pressing it")
print("ok: the Update module, pressed through AT-SPI, shows the Update page")

lamp = wait_for("the lamp does not say that a hub is connected",
                lambda: find(app, "image", "Hub connected") or find(app, "icon", "Hub connected"))
print("ok: the lamp says 'Hub connected'")

unnamed = [n.getRoleName() for n in showing(app)
           if n.getState().contains(pyatspi.STATE_FOCUSABLE) and not n.name]
if unnamed:
    fail("controls without a name: %s" % unnamed)
print("ok: every control that takes the focus has a name")

press(button)
log = wait_for("no text 'Log'", lambda: find(app, "text", "Log"))


def completed():
    text = log.queryText()
    return "Update completed." in text.getText(0, text.characterCount)


wait_for("the log never said 'Update completed.'", completed, 60.0)
print("ok: the Update button, pressed through AT-SPI, updated the hub; the log says so")
EOF
