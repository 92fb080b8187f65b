#!/usr/bin/env bash
# Shows the agent's windows on a virtual display with a tray host and keeps
# screenshots of them: the main window with its menu bar, the Options menu,
# the registration message, and the service window before and after a start.
#
#   tests/windows/screenshots.sh [build-dir]     (default: build)
#
# Pictures go to <build-dir>/screenshots/. The agent runs in a temporary
# program folder with a simulated clock, the real clock guarded, power
# actions recorded and everything on loopback; every process started here
# is ended by its id at the end.
set -euo pipefail
cd "$(dirname "$0")/../.."
BUILD=$(realpath "${1:-build}")
AGENT="$BUILD/NCLmod"
OUT="$BUILD/screenshots"
[ -x "$AGENT" ] || { echo "no agent at $AGENT (build the NCLmod target)" >&2; exit 1; }
for tool in Xvfb trayer xwd xdotool; do
    command -v "$tool" >/dev/null || { echo "missing $tool (scripts/deps.sh installs it)" >&2; exit 1; }
done
mkdir -p "$OUT"

WORK=$(mktemp -d /tmp/nclshots.XXXXXX)
PIDS=()
cleanup() {
    local pid
    # The service the window started runs from our program folder: end it too.
    for pid in $(pgrep -f "$AGENT" || true); do
        if tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qx "NCLMOD_HOME=$WORK/home"; then
            PIDS+=("$pid")
        fi
    done
    for ((i = ${#PIDS[@]} - 1; i >= 0; i--)); do
        kill "${PIDS[i]}" 2>/dev/null || true
    done
    for pid in "${PIDS[@]}"; do
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$WORK"
}
trap cleanup EXIT

mkdir -p "$WORK/home" "$WORK/config" "$WORK/runtime"
chmod 700 "$WORK/runtime"
PORT=$((7000 + $$ % 2000))
printf 'TCPPort, %s\nServerName, 127.0.0.1\n' "$PORT" >"$WORK/home/REVavidod.ini"
: >"$WORK/home/debug.txt"

DISPLAY_NUMBER=$((90 + $$ % 100))
export DISPLAY=":$DISPLAY_NUMBER"
Xvfb "$DISPLAY" -screen 0 800x600x24 -nolisten tcp >"$WORK/xvfb.log" 2>&1 &
PIDS+=($!)
for _ in $(seq 50); do
    [ -e "/tmp/.X11-unix/X$DISPLAY_NUMBER" ] && break
    sleep 0.1
done

trayer --edge top --align right --widthtype pixel --width 120 --height 28 \
    --transparent false --tint 0xcccccc >"$WORK/trayer.log" 2>&1 &
PIDS+=($!)
sleep 1

export NCLMOD_HOME="$WORK/home"
export NCLMOD_SIMCLOCK="$WORK/simclock"
export NCLMOD_FORBID_REAL_CLOCK=1
export NCLMOD_POWER="record:$WORK/power.log"
export NCLMOD_BIND_ADDRESS=127.0.0.1
export XDG_CONFIG_HOME="$WORK/config"
export XDG_RUNTIME_DIR="$WORK/runtime"
export QT_QPA_PLATFORM=xcb
unset WAYLAND_DISPLAY NCLMOD_SERVICE_NAME
"$AGENT" debug >"$WORK/agent.log" 2>&1 &
PIDS+=($!)

main_window() { xdotool search --sync --name '^Nightcall Module$' | head -1; }
shot() {
    sleep 1
    xwd -root -silent | convert xwd:- "$OUT/$1.png"
    echo "  $OUT/$1.png"
}
keys() {
    xdotool windowfocus --sync "$1"
    shift
    xdotool key --delay 150 "$@"
}

WID=$(main_window)
echo "screenshots:"
shot main
keys "$WID" alt+o
shot options-menu
xdotool key Escape Escape

# Register the service (first entry of the File menu) and keep its message.
keys "$WID" alt+f Return
shot registered
xdotool key Return

# Options, down to "Service..", opens the service window.
keys "$WID" alt+o Down Down Down Down Down Return
SVC=$(xdotool search --sync --name '^Service$' | head -1)
shot service-window
keys "$SVC" alt+a
shot service-started
keys "$SVC" alt+o
sleep 1

TRACE="$WORK/home/DebugFile.txt"
if grep -q "Added icon OK to system tray" "$TRACE"; then
    echo "tray icon: added"
else
    echo "tray icon: NOT added" >&2
    exit 1
fi
