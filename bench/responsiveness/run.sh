#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Longest gap between two runs of a 10 ms timer on the GUI thread while
# 10 MB of random bytes stream through a pseudo-terminal at full speed, then
# while frames come at the link's full rate: not recording, recording to a
# file, and recording with the writer blocked (10 s each).
#   bench/responsiveness/run.sh BUILD [MEGABYTES]
set -euo pipefail
build=${1:?usage: run.sh BUILD [MEGABYTES]}
export QT_QPA_PLATFORM=offscreen
"$build/bench/responsiveness/bench_responsiveness" "${2:-10}"
"$build/bench/responsiveness/bench_responsiveness" recording 10
