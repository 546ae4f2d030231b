#!/usr/bin/env bash
# How long the window takes to appear: from starting it under a real X server (Xvfb) until its
# window is mapped, over several runs; once as installed (the ports this machine has) and once
# with 16 more USB adapters listed (bench/window_with_ports). Installs what it needs (xvfb,
# xdotool, x11-utils for xdpyinfo) when missing.
#
#   bench/window_startup.sh [FIRMWARE_UPDATER [WINDOW_WITH_PORTS]]     RUNS=10 by default
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=../scripts/lib/common.sh
source scripts/lib/common.sh
bin=${1:-build/default/app/qt/firmware-updater}
with_ports=${2:-build/default/bench/window_with_ports}
runs=${RUNS:-10}
title='^Firmware Updater$'

zq_install_missing xvfb xdotool x11-utils >/dev/null || {
    echo "window_startup: xvfb, xdotool and x11-utils could not be installed" >&2
    exit 1
}
for file in "$bin" "$with_ports"; do
    [ -x "$file" ] || { echo "window_startup: $file is missing (build the default preset)" >&2; exit 1; }
done

work=$(mktemp -d)
xvfb=""
app=""
cleanup() {
    [ -n "$app" ] && kill "$app" 2>/dev/null
    [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

# A display number of the server's own choosing, read once it accepts connections. Without
# -noreset the server starts over each time its last client leaves, which here is after every
# look for the window, and refuses a window that connects meanwhile ("could not connect").
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$work/display" 2>/dev/null &
xvfb=$!
for _ in $(seq 200); do
    grep -q '^[0-9]\+$' "$work/display" 2>/dev/null && break
    sleep 0.05
done
grep -q '^[0-9]\+$' "$work/display" || { echo "window_startup: Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$(head -n1 "$work/display")"
# The window must not start before the server answers, or it aborts.
for _ in $(seq 200); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.05; done
xdpyinfo >/dev/null 2>&1 || { echo "window_startup: $DISPLAY does not answer" >&2; exit 1; }

window_shown() {
    xdotool search --onlyvisible --name "$title" >/dev/null 2>&1
}

# Runs COMMAND... RUNS times; prints "min/median/max" in ms.
measure() {
    local times=() start end _ i
    for _ in $(seq "$runs"); do
        # The previous round's window must be gone, or it would be found at once.
        for ((i = 0; i < 400; i++)); do window_shown || break; sleep 0.005; done
        window_shown && { echo "window_startup: the previous window is still mapped" >&2; exit 1; }
        start=$(date +%s%N)
        "$@" 2>"$work/stderr" &
        app=$!
        # xdotool's own --sync waits in half-second steps; ask every few milliseconds instead.
        until window_shown; do
            kill -0 "$app" 2>/dev/null || { echo "window_startup: $1 ended before its window showed: $(cat "$work/stderr")" >&2; exit 1; }
            sleep 0.005
        done
        end=$(date +%s%N)
        times+=($(((end - start) / 1000000)))
        kill "$app"
        wait "$app" 2>/dev/null || true
        app=""
    done
    printf '%s\n' "${times[@]}" | sort -n |
        awk '{a[NR]=$1} END {printf "min %d ms, median %d ms, max %d ms (%d runs)", a[1], a[int((NR+1)/2)], a[NR], NR}'
}

# A round that fails ends the script (set -e) rather than print an empty figure.
figure=$(measure "$bin")
echo "window shown after: $figure"
figure=$(measure "$with_ports" 16)
echo "window shown after, 16 more ports listed: $figure"
