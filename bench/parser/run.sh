#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Parser throughput on 64 MiB of valid frames in 4 KiB chunks.
#   bench/parser/run.sh BUILD_FOLDER [MiB] [passes]
set -euo pipefail
build=${1:?usage: $0 BUILD_FOLDER [MiB] [passes]}
cmake --build "$build" --target imu_bench_parser -j 2 >/dev/null
"$build/bench/parser/imu_bench_parser" "${2:-64}" "${3:-5}"
