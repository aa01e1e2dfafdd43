#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Fuzzes the frame parser for a bounded time from the committed seed corpus,
# in a clang build of its own with libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer. Any crash, sanitizer report, leak, timeout or
# broken invariant fails the check; the input that caused it is kept in the
# build folder and printed as a hex dump.
#   .ci/checks/fuzz.sh [seconds]     default 60
set -euo pipefail
cd "$(dirname "$0")/../.."

seconds=${1:-${IMU_FUZZ_SECONDS:-60}}
build=build-fuzz
corpus=$build/corpus-run
artifacts=$build/fuzz-artifacts

scripts/install-deps.sh --extra

CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DIMU_BUILD_FUZZER=ON -DIMU_BUILD_TESTS=OFF -DIMU_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build "$build" -j 2 --target imu_fuzz_parser

# A fresh copy each run: the fuzzer adds what it finds to the corpus folder,
# and the committed seeds stay as they are.
rm -rf "$corpus" "$artifacts"
mkdir -p "$corpus" "$artifacts"
cp fuzz/corpus/* "$corpus"/

status=0
"$build"/fuzz/imu_fuzz_parser -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$artifacts"/ "$corpus" >"$build"/fuzz.log 2>&1 || status=$?

grep -E '^(Done|stat::(number_of_executed_units|average_exec_per_sec|new_units_added|peak_rss_mb))' \
    "$build"/fuzz.log || true
shopt -s nullglob
findings=("$artifacts"/*)
if [[ $status -ne 0 || ${#findings[@]} -gt 0 ]]; then
    echo "fuzz check: the parser's fuzzer failed (exit status $status); the end of its log:" >&2
    tail -n 40 "$build"/fuzz.log >&2
    for finding in "${findings[@]}"; do
        echo "== $finding" >&2
        od -A d -t x1 "$finding" | head -n 20 >&2
    done
    exit 1
fi
echo "fuzz check: no findings in ${seconds} s"
