#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Takes a picture of the monitor's window on a virtual display (Xvfb), so it
# works the same on a desktop, over ssh and in CI.
#   scripts/screenshot.sh BUILD OUT.png [PROGRAM [ARGUMENT...]]
# PROGRAM defaults to BUILD/imu-monitor; any program that shows the window
# will do, started with the ARGUMENTs (the demo's --connect, for instance).
# Environment: WINDOW_TITLE (default "Telvorin IMU") is the window to take,
# SETTLE_SECONDS (default 2) how long it may draw before the picture,
# SCREEN_DPI (default 96, a desktop at 100 %; 192 is one at 200 %) the
# screen's DPI, set as a desktop sets it: as the X resource Xft.dpi.
# Needs xvfb-run, xrdb, xwininfo and ImageMagick's import
# (scripts/install-deps.sh --extra).
set -euo pipefail

if [[ $# -lt 2 ]]; then
    echo "usage: $0 BUILD OUT.png [PROGRAM [ARGUMENT...]]" >&2
    exit 2
fi
build=$1
out=$2
program=${3:-$build/imu-monitor}
title=${WINDOW_TITLE:-Telvorin IMU}
settle=${SETTLE_SECONDS:-2}
dpi=${SCREEN_DPI:-96}
arguments=("${@:4}")

for tool in xvfb-run xrdb xwininfo import; do
    command -v "$tool" >/dev/null || {
        echo "$tool is missing: run scripts/install-deps.sh --extra" >&2
        exit 1
    }
done
[[ -x $program ]] || { echo "no program at $program: build it first (make build)" >&2; exit 1; }

mkdir -p "$(dirname "$out")"
program=$(realpath "$program")
out=$(realpath -m "$out")

# Inside the virtual display: start the program, wait until its window can be
# taken, let the charts draw, take the window alone (no desktop around it).
inner='
program=$1 out=$2 title=$3 settle=$4
shift 4
"$program" "$@" >/dev/null 2>&1 &
pid=$!
trap "kill $pid 2>/dev/null; wait $pid 2>/dev/null || true" EXIT
window=
for _ in $(seq 1 150); do
    kill -0 "$pid" 2>/dev/null || { echo "$program ended before showing its window" >&2; exit 1; }
    window=$(xwininfo -root -tree | awk -v name="\"$title\":" "index(\$0, name) { print \$1; exit }")
    [[ -n $window ]] && xwininfo -id "$window" | grep -q IsViewable && break
    window=
    sleep 0.1
done
[[ -n $window ]] || { echo "no window \"$title\" appeared within 15 s" >&2; exit 1; }
sleep "$settle"
timeout 30 import -window "$window" "png:$out"
'
# Xvfb's own default is 100 DPI: the desktop's is set as a desktop sets it.
IMU_DESKTOP_DPI=$dpi "$(dirname "$0")/on-virtual-desktop.sh" \
    bash -c "$inner" screenshot "$program" "$out" "$title" "$settle" "${arguments[@]}"
echo "wrote $out ($(identify -format '%wx%h' "$out"))"
