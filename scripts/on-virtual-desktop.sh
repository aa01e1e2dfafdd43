#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs a program on a virtual X desktop (Xvfb) set to the DPI in
# IMU_DESKTOP_DPI, the way a desktop sets its scaling: the X resource Xft.dpi
# (96, 120, 144 and 192 for 100, 125, 150 and 200 %), which the toolkit
# reads. The screen is 1280 x 900 at 96 DPI, the same size in inches at any
# other, unless IMU_DESKTOP_SCREEN gives its pixels (1366x768, a laptop's).
# Anything that would scale the toolkit on its own is left out, so only the
# desktop's DPI counts. The server keeps its resources when a client
# leaves (-noreset): xrdb is its only client until the program starts, and a
# reset would drop Xft.dpi again.
#   IMU_DESKTOP_DPI=192 scripts/on-virtual-desktop.sh PROGRAM [ARGUMENT...]
# Exits 77 (reported as skipped by CTest) when Xvfb or xrdb is missing.
set -euo pipefail
dpi=${IMU_DESKTOP_DPI:?IMU_DESKTOP_DPI must name the desktop\'s DPI}
[[ $dpi =~ ^[1-9][0-9]*$ ]] || { echo "IMU_DESKTOP_DPI must be a whole number, not '$dpi'" >&2; exit 2; }
for tool in xvfb-run Xvfb xauth xrdb; do
    if ! command -v "$tool" >/dev/null; then
        echo "SKIP: $tool is missing (scripts/install-deps.sh installs it)" >&2
        exit 77
    fi
done
screen="${IMU_DESKTOP_SCREEN:-$((1280 * dpi / 96))x$((900 * dpi / 96))}x24"
exec env -u QT_QPA_PLATFORM -u WAYLAND_DISPLAY -u QT_SCALE_FACTOR -u QT_SCREEN_SCALE_FACTORS \
    -u QT_AUTO_SCREEN_SCALE_FACTOR -u QT_ENABLE_HIGHDPI_SCALING -u QT_FONT_DPI \
    xvfb-run -a -s "-screen 0 $screen -dpi $dpi -noreset" \
    sh -c 'echo "Xft.dpi: $0" | xrdb -merge
           xrdb -query | grep -qx "Xft.dpi:[[:space:]]*$0" \
               || { echo "the virtual desktop lost its Xft.dpi resource" >&2; exit 1; }
           exec "$@"' "$dpi" "$@"
