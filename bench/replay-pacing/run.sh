#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Pacing of imu-sim --replay: a 10-minute recording at 100 Hz with the
# jitter of a host's reads, replayed into a pipe; its elapsed time and each
# frame's arrival against host_time.
#   bench/replay-pacing/run.sh BUILD_FOLDER [SPEED]
# SPEED defaults to 5 (two minutes): 500 frames/s, within the 606 the link
# carries; at 10 the link, not host_time, sets the pace.
set -euo pipefail
build=${1:-build}
"$build/bench/replay-pacing/replay-pacing" "$build/tools/imu-sim/imu-sim" 600 "${2:-5}"
