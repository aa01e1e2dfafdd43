#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Long run of the monitor window, offscreen, fed through a pseudo-terminal.
#   bench/window/run.sh BUILD          full run: 10^7 records, 20 s paced phases
#   bench/window/run.sh BUILD quick    10^6 records, 5 s paced phases
# The fresh window's paced phase runs shown, minimized and hidden at 1x;
# shown at a device-pixel ratio of 2 (QT_SCALE_FACTOR=2), what a
# high-density screen costs; and shown on the two real window systems, X
# (Xvfb) and Wayland (a headless Weston), with the ratio of the two. Then the
# CPU share at the link's rate without and with a recording.
set -euo pipefail
build=${1:?usage: run.sh BUILD [quick]}
bin="$build/bench/window/bench_window"
scripts="$(dirname "$0")/../../scripts"
export QT_QPA_PLATFORM=offscreen
seconds=20 records=10000000
if [[ "${2:-}" == "quick" ]]; then
    seconds=5 records=1000000
fi

# The CPU share of the paced phase in the output of one run, and the output.
paced_share() {
    local out
    out=$("$@" 2>&1) || { echo "$out" >&2; return 1; }
    echo "$out" | grep '^paced:' >&2
    echo "$out" | sed -n 's/^paced: shown.* \([0-9.]*\) % of one core.*/\1/p'
}

"$bin" console
"$bin" paced "$seconds"
QT_SCALE_FACTOR=2 "$bin" paced "$seconds" shown

# Both window systems drawn in software, on screens of the same size.
x_share= wayland_share=
if command -v xvfb-run >/dev/null; then
    x_share=$(paced_share xvfb-run -a -s "-screen 0 1280x900x24" \
        env QT_QPA_PLATFORM=xcb "$bin" paced "$seconds" shown) || x_share=
else
    echo "paced: no Xvfb, no figure under X"
fi
wayland_share=$(paced_share "$scripts/on-wayland-desktop.sh" "$bin" paced "$seconds" shown) || wayland_share=
if [[ -n $x_share && -n $wayland_share ]]; then
    awk -v x="$x_share" -v w="$wayland_share" \
        'BEGIN { printf "%-58s %8.2f (target <= 1.3)\n", "paced: CPU share under Wayland / under X", w / x }'
fi

"$bin" longrun "$records" "$seconds"
"$bin" recording "$seconds"
