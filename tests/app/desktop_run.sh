#!/usr/bin/env bash
# Runs a driver script against the real program on a virtual X display with the desktop's
# accessibility bus, as a screen reader would drive it.
#   desktop_run.sh [--screen WIDTHxHEIGHT] PROGRAM DRIVER.py
# The screen is 1280x1024 unless given; the driver finds its size in DESKTOP_SCREEN.
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
SCREEN=1280x1024
if [ "${1:-}" = "--screen" ]; then
  SCREEN=$2
  shift 2
fi
case $SCREEN in
  [0-9]*x[0-9]*) ;;
  *) echo "FAIL: --screen wants WIDTHxHEIGHT, not '$SCREEN'"; exit 1;;
esac
export DESKTOP_SCREEN=$SCREEN
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
XVFB=
cleanup() {
  local pid
  for pid in "${PIDS[@]}"; do kill_tree "$pid"; done
  # The server gives up its display only when it has ended: wait for that, so that a run
  # starting next never meets a server that is still going away.
  if [ -n "$XVFB" ]; then
    kill "$XVFB" 2>/dev/null
    for _ in $(seq 1 100); do kill -0 "$XVFB" 2>/dev/null || break; sleep 0.05; done
  fi
  rm -rf "$RUN_DIR"
}
trap cleanup EXIT

export XAUTHORITY=$RUN_DIR/Xauthority
COOKIE=$(mcookie)
touch "$RUN_DIR/server-auth" "$XAUTHORITY"
xauth -q -f "$RUN_DIR/server-auth" add :0 . "$COOKIE"

# A display number of this run's own (from its process number, which no other live run has),
# so that runs side by side or one after the other never share a display, not even one
# whose server is still shutting down; a number another program holds makes the server fail
# at once and the next one is tried. The server reports the number once it accepts clients.
# It must not reset when its last client leaves: the accessibility library opens and closes a
# connection of its own to look for the bus, and a program connecting during that reset fails.
DISPLAY_NUMBER=
number=$(( 100 + $$ % 20000 ))
for _ in $(seq 1 20); do
  : >"$RUN_DIR/display"
  Xvfb ":$number" -displayfd 3 -auth "$RUN_DIR/server-auth" -noreset -nolisten tcp \
    -screen 0 "${SCREEN}x24" >"$RUN_DIR/xvfb.log" 2>&1 3>"$RUN_DIR/display" &
  XVFB=$!
  for _ in $(seq 1 200); do
    [ -s "$RUN_DIR/display" ] && break
    kill -0 "$XVFB" 2>/dev/null || break
    sleep 0.05
  done
  DISPLAY_NUMBER=$(tr -dc '0-9' <"$RUN_DIR/display")
  [ -n "$DISPLAY_NUMBER" ] && break
  kill "$XVFB" 2>/dev/null
  wait "$XVFB" 2>/dev/null
  XVFB=
  number=$(( number + 1 ))
done
if [ -z "$DISPLAY_NUMBER" ]; then
  echo "FAIL: the virtual display did not start"; cat "$RUN_DIR/xvfb.log"; exit 1
fi
export DISPLAY=:$DISPLAY_NUMBER
xauth -q add "$DISPLAY" . "$COOKIE"

# The test runner may ask for the offscreen platform, which has no accessibility bridge.
export QT_QPA_PLATFORM=xcb
export XDG_STATE_HOME=$RUN_DIR/state
# No sound server answers here, whatever the machine has: the program meets no microphone.
export PULSE_SERVER=unix:$RUN_DIR/no-sound-server
mkdir -p "$XDG_STATE_HOME"
eval "$(dbus-launch --sh-syntax)"
PIDS+=("$DBUS_SESSION_BUS_PID")
/usr/libexec/at-spi-bus-launcher --launch-immediately >/dev/null 2>&1 &
PIDS+=($!)
sleep 1
QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 /usr/bin/python3 "$DRIVER" "$PROGRAM"
status=$?
if [ $status -ne 0 ]; then
  echo "display $DISPLAY; the virtual display said:"
  cat "$RUN_DIR/xvfb.log"
  echo "X servers running:"; pgrep -a Xvfb
fi
exit $status
