#!/usr/bin/env bash
# How long the window takes to appear: from starting firmware-updater under a real X server
# (Xvfb) until its window is mapped, over several runs. Needs xvfb and xdotool.
set -euo pipefail
cd "$(dirname "$0")/.."
bin=${1:-build/default/app/qt/firmware-updater}
runs=${RUNS:-10}
display=:97
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill "$xvfb" 2>/dev/null' EXIT
export DISPLAY=$display
for _ in $(seq 100); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.05; done
times=()
for _ in $(seq "$runs"); do
    start=$(date +%s%N)
    "$bin" 2>/dev/null &
    app=$!
    # xdotool's own --sync waits in half-second steps; ask every few milliseconds instead.
    until xdotool search --onlyvisible --name '^Firmware Updater$' >/dev/null 2>&1; do
        kill -0 "$app" 2>/dev/null || { echo "firmware-updater ended before its window showed" >&2; exit 1; }
        sleep 0.005
    done
    end=$(date +%s%N)
    times+=($(( (end - start) / 1000000 )))
    kill "$app"; wait "$app" 2>/dev/null || true
done
printf '%s\n' "${times[@]}" | sort -n | awk '{a[NR]=$1} END {printf "window shown after: min %d ms, median %d ms, max %d ms (%d runs)\n", a[1], a[int((NR+1)/2)], a[NR], NR}'
