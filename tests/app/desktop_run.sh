#!/usr/bin/env bash
# Runs a driver script against the real program on a virtual X display with the desktop's
# accessibility bus, as a screen reader would drive it.
#   desktop_run.sh PROGRAM DRIVER.py
# Exits 77 (skipped) when a facility is missing: packages xvfb, xauth, dbus-x11, at-spi2-core
# and python3-pyatspi.
set -u
if [ "${1:-}" != "--inside" ]; then
  for tool in xvfb-run xauth dbus-launch /usr/libexec/at-spi-bus-launcher; do
    command -v "$tool" >/dev/null 2>&1 || { echo "skipped: $tool is missing"; exit 77; }
  done
  /usr/bin/python3 -c 'import pyatspi' 2>/dev/null || { echo "skipped: python3-pyatspi is missing"; exit 77; }
  # A process group of its own, so that every helper started below ends with the run.
  exec setsid xvfb-run -a -s "-screen 0 1280x1024x24" bash "$0" --inside "$@"
fi
shift
# The test runner may ask for the offscreen platform, which has no accessibility bridge.
export QT_QPA_PLATFORM=xcb
# What the program and its tools keep between runs (pixorta-batch's undo journal) stays in a
# state folder of this run, never in the user's.
XDG_STATE_HOME=$(mktemp -d)
export XDG_STATE_HOME
PROGRAM=$1
DRIVER=$2
kill_tree() {
  local child
  for child in $(pgrep -P "$1"); do kill_tree "$child"; done
  kill "$1" 2>/dev/null
}
eval "$(dbus-launch --sh-syntax)"
/usr/libexec/at-spi-bus-launcher --launch-immediately >/dev/null 2>&1 &
LAUNCHER=$!
trap 'kill_tree $LAUNCHER; kill_tree $DBUS_SESSION_BUS_PID; rm -rf "$XDG_STATE_HOME"' EXIT
sleep 1
QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 /usr/bin/python3 "$DRIVER" "$PROGRAM"
status=$?
trap - EXIT
kill_tree $LAUNCHER
kill_tree $DBUS_SESSION_BUS_PID
rm -rf "$XDG_STATE_HOME"
exit $status
