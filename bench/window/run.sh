#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Long run of the monitor window, offscreen, fed through a pseudo-terminal.
#   bench/window/run.sh BUILD          full run: 10^7 records, 20 s paced phases
#   bench/window/run.sh BUILD quick    10^6 records, 5 s paced phases
# The fresh window's paced phase runs twice: at 1x and at a device-pixel
# ratio of 2 (QT_SCALE_FACTOR=2), what a high-density screen costs. Then the
# CPU share at the link's rate without and with a recording.
set -euo pipefail
build=${1:?usage: run.sh BUILD [quick]}
bin="$build/bench/window/bench_window"
export QT_QPA_PLATFORM=offscreen
if [[ "${2:-}" == "quick" ]]; then
    "$bin" console
    "$bin" paced 5
    QT_SCALE_FACTOR=2 "$bin" paced 5
    "$bin" longrun 1000000 5
    "$bin" recording 5
else
    "$bin" console
    "$bin" paced 20
    QT_SCALE_FACTOR=2 "$bin" paced 20
    "$bin" longrun 10000000 20
    "$bin" recording 20
fi
