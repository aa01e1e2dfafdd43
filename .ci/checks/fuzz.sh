#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Fuzzes the frame parser and the reader of recordings to replay, each for a
# bounded time from its committed seed corpus, in a clang build of their own
# with libFuzzer, AddressSanitizer and UndefinedBehaviorSanitizer. Any crash,
# sanitizer report, leak, timeout or broken invariant fails the check; the
# input that caused it is kept in the build folder and printed as a hex dump.
#   .ci/checks/fuzz.sh [seconds]     each target, default 45
set -euo pipefail
cd "$(dirname "$0")/../.."

seconds=${1:-${IMU_FUZZ_SECONDS:-45}}
build=build-fuzz
# Each target and the folder of its seeds.
targets=(parser:fuzz/corpus recording:fuzz/corpus-recording)

scripts/install-deps.sh --extra

CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DIMU_BUILD_FUZZER=ON -DIMU_BUILD_TESTS=OFF -DIMU_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build "$build" -j 2 --target imu_fuzz_parser imu_fuzz_recording

# Each target fuzzes on a core of its own, the targets side by side.
fuzz() {
    local name=$1 seeds=$2
    local corpus=$build/corpus-run-$name artifacts=$build/fuzz-artifacts/$name
    # A fresh copy each run: the fuzzer adds what it finds to the corpus
    # folder, and the committed seeds stay as they are.
    rm -rf "$corpus" "$artifacts"
    mkdir -p "$corpus" "$artifacts"
    cp "$seeds"/* "$corpus"/
    local status=0
    "$build"/fuzz/imu_fuzz_"$name" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$artifacts"/ "$corpus" >"$build/fuzz-$name.log" 2>&1 || status=$?
    echo "$status" >"$build/fuzz-$name.status"
}
pids=()
for target in "${targets[@]}"; do
    fuzz "${target%%:*}" "${target#*:}" &
    pids+=($!)
done
wait "${pids[@]}"

failed=0
shopt -s nullglob
for target in "${targets[@]}"; do
    name=${target%%:*}
    artifacts=$build/fuzz-artifacts/$name
    log=$build/fuzz-$name.log
    status=$(cat "$build/fuzz-$name.status" 2>/dev/null || echo "unknown")
    echo "== $name"
    grep -E '^(Done|stat::(number_of_executed_units|average_exec_per_sec|new_units_added|peak_rss_mb))' "$log" || true
    findings=("$artifacts"/*)
    if [[ $status != 0 || ${#findings[@]} -gt 0 ]]; then
        echo "fuzz check: the $name fuzzer failed (exit status $status); the end of its log:" >&2
        tail -n 40 "$log" >&2
        for finding in "${findings[@]}"; do
            echo "== $finding" >&2
            od -A d -t x1 "$finding" | head -n 20 >&2
        done
        failed=1
    fi
done
[[ $failed -eq 0 ]] || exit 1
echo "fuzz check: no findings in ${seconds} s for each of ${#targets[@]} targets"
