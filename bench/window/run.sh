#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Long run of the monitor window, offscreen, fed through a pseudo-terminal.
#   bench/window/run.sh BUILD          full run: 10^7 records, 20 s paced phases
#   bench/window/run.sh BUILD quick    10^6 records, 5 s paced phases
# The fresh window's paced phase runs shown, minimized and hidden at 1x;
# shown at a device-pixel ratio of 2 (QT_SCALE_FACTOR=2), what a
# high-density screen costs; and shown on the two real window systems, X
# (Xvfb) and Wayland (a headless Weston), in turns, with the ratio of the
# two. Then the CPU share at the link's rate without and with a recording,
# an hour of history (its bytes, the redraw looking back, the live cost),
# an hour's recording opened in the viewer and played back at 10x and 100x
# (with the time of a seek), the attitude window closed and open (at 1x
# and 2x), and the Noise window closed and open.
set -euo pipefail
build=${1:?usage: run.sh BUILD [quick]}
bin="$build/bench/window/bench_window"
scripts="$(dirname "$0")/../../scripts"
export QT_QPA_PLATFORM=offscreen
seconds=20 records=10000000
if [[ "${2:-}" == "quick" ]]; then
    seconds=5 records=1000000
fi

# Prints the paced lines of one run on standard error and its CPU share on
# standard output.
paced_share() {
    local out
    out=$("$@" 2>&1) || { echo "$out" >&2; return 1; }
    echo "$out" | grep '^paced:' >&2
    echo "$out" | sed -n 's/^paced: shown.* \([0-9.]*\) % of one core.*/\1/p'
}

"$bin" console
"$bin" linkwatch
"$bin" paced "$seconds"
QT_SCALE_FACTOR=2 "$bin" paced "$seconds" shown

# Both window systems drawn in software, on screens of the same size, in
# turns, so that both see the same machine: other processes come and go.
turn=5
x_shares= wayland_shares=
for _ in $(seq $((seconds / turn))); do
    if command -v xvfb-run >/dev/null; then
        x_shares+=" $(paced_share xvfb-run -a -s "-screen 0 1280x900x24" \
            env QT_QPA_PLATFORM=xcb "$bin" paced "$turn" shown || true)"
    fi
    wayland_shares+=" $(paced_share "$scripts/on-wayland-desktop.sh" "$bin" paced "$turn" shown || true)"
done
awk -v x="$x_shares" -v w="$wayland_shares" 'BEGIN {
    nx = split(x, xs); nw = split(w, ws)
    for (i = 1; i <= nx; ++i) sx += xs[i]
    for (i = 1; i <= nw; ++i) sw += ws[i]
    if (nx == 0 || nw == 0 || nx != nw || sx == 0) { print "paced: no figure under X or under Wayland to compare"; exit }
    printf "%-58s %6.1f %% of one core\n", "paced: shown under X, mean of the turns", sx / nx
    printf "%-58s %6.1f %% of one core\n", "paced: shown under Wayland, mean of the turns", sw / nw
    printf "%-58s %8.2f (target <= 1.3)\n", "paced: CPU share under Wayland / under X", sw / sx
}'

"$bin" longrun "$records" "$seconds"
"$bin" recording "$seconds"
"$bin" history "$seconds"

# An hour's recording opened in the viewer, in a process of its own.
hour=$(mktemp -d)
trap 'rm -rf "$hour"' EXIT
"$bin" hour "$hour/hour.csv"
"$bin" viewer "$hour/hour.csv"
"$bin" playback "$hour/hour.csv" "$seconds"

"$bin" attitude "$seconds"
QT_SCALE_FACTOR=2 "$bin" attitude "$seconds"

"$bin" noise "$seconds"
