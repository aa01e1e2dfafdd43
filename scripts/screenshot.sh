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
[[ $dpi =~ ^[1-9][0-9]*$ ]] || { echo "SCREEN_DPI must be a whole number, not '$dpi'" >&2; exit 2; }
# 1280 x 900 at 96 DPI, the same size in inches at any other.
screen="$((1280 * dpi / 96))x$((900 * dpi / 96))x24"
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
program=$1 out=$2 title=$3 settle=$4 dpi=$5
shift 5
echo "Xft.dpi: $dpi" | xrdb -merge
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
# Xvfb's own default is 100 DPI; and nothing but the screen's DPI may scale
# the toolkit.
env -u QT_QPA_PLATFORM -u WAYLAND_DISPLAY -u QT_SCALE_FACTOR -u QT_SCREEN_SCALE_FACTORS \
    -u QT_AUTO_SCREEN_SCALE_FACTOR -u QT_ENABLE_HIGHDPI_SCALING -u QT_FONT_DPI \
    xvfb-run -a -s "-screen 0 $screen -dpi $dpi" \
    bash -c "$inner" screenshot "$program" "$out" "$title" "$settle" "$dpi" "${arguments[@]}"
echo "wrote $out ($(identify -format '%wx%h' "$out"))"
