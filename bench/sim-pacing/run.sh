#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Pacing of the simulated board at full link speed: frames per second that a
# reader of its pseudo-terminal receives over 10 s, against the 606.3 frames/s
# a 115200-baud 8-N-1 line carries (19 bytes of 10 bit times each).
set -euo pipefail
build=${1:-build}
"$build/bench/sim-pacing/sim-pacing" "$build/tools/imu-sim/imu-sim" 10
