#!/usr/bin/env bash
# An automatic update that ends while nobody looks at the window, on a private session bus
# watched by dbus-monitor: the task bar entry's progress (com.canonical.Unity.LauncherEntry)
# always, a notification (org.freedesktop.Notifications) only when a notification service runs.
# The service is a stand-in answering Notify, in python3-gi.
#   desktop_notice.sh <tst_ui_access>
# Exit status 77: skipped (a tool is missing).
set -uo pipefail

test_program=$1
source "$(dirname "$0")/shell_test.sh"
need dbus-run-session dbus-monitor dbus-send
need_python 'from gi.repository import Gio' python3-gi

if [ -z "${HALVEK_NOTICE_INSIDE:-}" ]; then
  HALVEK_NOTICE_INSIDE=1 exec dbus-run-session -- "$0" "$test_program"
fi

scratch=$(mktemp -d)
work=$scratch
mkdir -m 700 "$work/runtime"
export XDG_RUNTIME_DIR=$work/runtime XDG_STATE_HOME=$work/state QT_QPA_PLATFORM=offscreen

notices=$work/notices.log
dbus-monitor --session "type='method_call',interface='org.freedesktop.Notifications',member='Notify'" \
  "type='signal',interface='com.canonical.Unity.LauncherEntry'" >"$notices" 2>/dev/null &
pids+=($!)
for _ in $(seq 100); do
  [ -s "$notices" ] && break
  sleep 0.05
done

# Runs the automatic update once; leaves what the bus saw of it in $seen.
run_update() {
  : >"$notices"
  "$test_program" autoUpdateUnseen >"$work/test.log" 2>&1 || { cat "$work/test.log"; fail "$1: the update"; }
  sleep 0.5
  seen=$(tr -d '\0' <"$notices")
}
# The task bar entry: a bar that reaches 100 %, then goes.
check_progress() {
  grep -q 'string "application://halvek-updater.desktop"' <<<"$seen" || fail "$1: no task bar progress"
  grep -q 'double 1$' <<<"$seen" || fail "$1: the task bar's bar never reached 100 %"
  [ "$(grep -o 'boolean [a-z]*' <<<"$seen" | tail -n 1)" = "boolean false" ] ||
    fail "$1: the task bar's bar stayed after the update"
}

run_update "no notification service"
check_progress "no notification service"
grep -q 'member=Notify' <<<"$seen" && fail "a notification was sent with no service to show it"
echo "ok: without a notification service only the task bar's progress goes out"

/usr/bin/python3 - <<'EOF' &
from gi.repository import Gio, GLib

XML = """<node><interface name="org.freedesktop.Notifications"><method name="Notify">
<arg type="s" direction="in"/><arg type="u" direction="in"/><arg type="s" direction="in"/>
<arg type="s" direction="in"/><arg type="s" direction="in"/><arg type="as" direction="in"/>
<arg type="a{sv}" direction="in"/><arg type="i" direction="in"/><arg type="u" direction="out"/>
</method></interface></node>"""
interface = Gio.DBusNodeInfo.new_for_xml(XML).interfaces[0]


def call(connection, sender, path, name, method, parameters, invocation):
    invocation.return_value(GLib.Variant("(u)", (7,)))


def acquired(connection, name):
    connection.register_object("/org/freedesktop/Notifications", interface, call, None, None)


Gio.bus_own_name(Gio.BusType.SESSION, "org.freedesktop.Notifications",
                 Gio.BusNameOwnerFlags.NONE, acquired, None, None)
GLib.MainLoop().run()
EOF
pids+=($!)
for _ in $(seq 100); do
  dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
    org.freedesktop.DBus.NameHasOwner string:org.freedesktop.Notifications 2>/dev/null |
    grep -q 'boolean true' && break
  sleep 0.05
done

run_update "with a notification service"
check_progress "with a notification service"
[ "$(grep -c 'member=Notify' <<<"$seen")" = 1 ] || fail "not one notification: $seen"
grep -q 'string "Halvek Charging Hub' <<<"$seen" || fail "the notification does not name the hub"
grep -q 'string "Update completed."' <<<"$seen" || fail "the notification does not say how it ended"
echo "ok: the notification names the hub and says 'Update completed.'"
