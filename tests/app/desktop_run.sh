#!/usr/bin/env bash
# Runs a driver script against the real program on a virtual X display with the desktop's
# accessibility bus, as a screen reader would drive it.
#   desktop_run.sh PROGRAM DRIVER.py
# Needs the packages xvfb, xauth, dbus-x11, at-spi2-core and python3-pyatspi (scripts/setup.sh
# installs them); without them the run fails and says which is missing.
set -u
if [ "${1:-}" != "--inside" ]; then
  for tool in Xvfb xauth mcookie dbus-launch /usr/libexec/at-spi-bus-launcher; do
    command -v "$tool" >/dev/null 2>&1 || { echo "FAIL: $tool is missing (run scripts/setup.sh)"; exit 1; }
  done
  /usr/bin/python3 -c 'import pyatspi' 2>/dev/null || { echo "FAIL: python3-pyatspi is missing (run scripts/setup.sh)"; exit 1; }
  # A process group of its own, so that every helper started below ends with the run.
  exec setsid bash "$0" --inside "$@"
fi
shift
PROGRAM=$1
DRIVER=$2
# Everything of this run (X authority, the program's state folder with pixorta-batch's undo
# journal) lives in a folder of its own, never in the user's.
RUN_DIR=$(mktemp -d)
kill_tree() {
  local child
  for child in $(pgrep -P "$1"); do kill_tree "$child"; done
  kill "$1" 2>/dev/null
}
PIDS=()
cleanup() {
  local pid
  for pid in "${PIDS[@]}"; do kill_tree "$pid"; done
  rm -rf "$RUN_DIR"
}
trap cleanup EXIT

# The server picks a free display itself and reports it once it accepts clients: two runs that
# start together never pick the same number, which choosing a number beforehand cannot promise.
export XAUTHORITY=$RUN_DIR/Xauthority
COOKIE=$(mcookie)
touch "$RUN_DIR/server-auth" "$XAUTHORITY"
xauth -q -f "$RUN_DIR/server-auth" add :0 . "$COOKIE"

Xvfb -displayfd 3 -auth "$RUN_DIR/server-auth" -nolisten tcp -screen 0 1280x1024x24 \
  >"$RUN_DIR/xvfb.log" 2>&1 3>"$RUN_DIR/display" &
PIDS+=($!)
for _ in $(seq 1 200); do
  [ -s "$RUN_DIR/display" ] && break
  kill -0 "${PIDS[0]}" 2>/dev/null || break
  sleep 0.05
done
DISPLAY_NUMBER=$(tr -dc '0-9' <"$RUN_DIR/display")
if [ -z "$DISPLAY_NUMBER" ]; then
  echo "FAIL: the virtual display did not start"; cat "$RUN_DIR/xvfb.log"; exit 1
fi
export DISPLAY=:$DISPLAY_NUMBER
xauth -q add "$DISPLAY" . "$COOKIE"

# The test runner may ask for the offscreen platform, which has no accessibility bridge.
export QT_QPA_PLATFORM=xcb
export XDG_STATE_HOME=$RUN_DIR/state
mkdir -p "$XDG_STATE_HOME"
eval "$(dbus-launch --sh-syntax)"
PIDS+=("$DBUS_SESSION_BUS_PID")
/usr/libexec/at-spi-bus-launcher --launch-immediately >/dev/null 2>&1 &
PIDS+=($!)
sleep 1
QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 /usr/bin/python3 "$DRIVER" "$PROGRAM"
