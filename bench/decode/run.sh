#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# What a one-hour recording at full link rate costs, and how fast a capture
# decodes.
#   bench/decode/run.sh BUILD_FOLDER [SECONDS] [FRAMES]
# SECONDS (default 20): length of the live recording from imu-sim --rate max
# through a pseudo-terminal; FRAMES (default 2000000): size of the capture.
set -euo pipefail
build=$(cd "${1:?usage: $0 BUILD_FOLDER [SECONDS] [FRAMES]}" && pwd)
seconds=${2:-20}
frames=${3:-2000000}
cmake --build "$build" --target imu-decode imu_bench_decode_capture -j 2 >/dev/null
decode="$build/tools/imu-decode/imu-decode"
work=$(mktemp -d)
sim_pid=
cleanup() {
    [[ -n "$sim_pid" ]] && kill "$sim_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# Decoding throughput: a capture of FRAMES frames to /dev/null, best of three.
"$build/bench/decode/imu_bench_decode_capture" "$work/capture.bin" "$frames"
capture_bytes=$(stat -c %s "$work/capture.bin")
for format in csv console; do
    best=
    for _ in 1 2 3; do
        start=$(date +%s.%N)
        "$decode" --format "$format" "$work/capture.bin" -o /dev/null 2>"$work/summary.txt"
        end=$(date +%s.%N)
        t=$(echo "$end - $start" | bc -l)
        if [[ -z "$best" ]] || (( $(echo "$t < $best" | bc -l) )); then best=$t; fi
    done
    grep -q "records decoded: $frames," "$work/summary.txt" || { echo "decoded count wrong: $(cat "$work/summary.txt")"; exit 1; }
    printf 'decode %-7s: %d records (%.1f MB) in %.3f s = %.0f records/s, %.1f MB/s of capture\n' \
        "$format" "$frames" "$(echo "$capture_bytes / 1000000" | bc -l)" "$best" \
        "$(echo "$frames / $best" | bc -l)" "$(echo "$capture_bytes / $best / 1000000" | bc -l)"
done

# A live recording at full link rate: CPU time of imu-decode over wall time.
if [[ ! -x "$build/tools/imu-sim/imu-sim" ]]; then
    cmake --build "$build" --target imu-sim -j 2 >/dev/null 2>&1 || true
fi
if [[ ! -x "$build/tools/imu-sim/imu-sim" ]]; then
    echo "live recording: skipped, imu-sim is not built"
    exit 0
fi
coproc SIM { exec "$build/tools/imu-sim/imu-sim" --rate max --seed 1 2>"$work/sim.txt"; }
sim_pid=$SIM_PID
read -r -t 10 slave <&"${SIM[0]}"
"$decode" --port "$slave" -o "$work/live.csv" 2>"$work/live-summary.txt" &
decode_pid=$!
ticks=$(getconf CLK_TCK)
start=$(date +%s.%N)
sleep "$seconds"
# utime and stime: fields 14 and 15, counted after the command name, which
# is in parentheses and may hold spaces.
read -r utime stime < <(sed 's/^.*) //' "/proc/$decode_pid/stat" | awk '{print $12, $13}')
end=$(date +%s.%N)
kill -TERM "$decode_pid"
wait "$decode_pid" || true
kill -TERM "$sim_pid" 2>/dev/null || true
wait "$sim_pid" 2>/dev/null || true
sim_pid=

wall=$(echo "$end - $start" | bc -l)
cpu=$(echo "($utime + $stime) / $ticks" | bc -l)
rows=$(( $(wc -l <"$work/live.csv") - 1 ))
bytes=$(( $(stat -c %s "$work/live.csv") - $(head -1 "$work/live.csv" | wc -c) ))
per_row=$(echo "$bytes / $rows" | bc -l)
fps=$(sed -n 's/.*frames per second: \([0-9.]*\).*/\1/p' "$work/live-summary.txt")
printf 'live recording: %d rows in %.1f s, %s frames/s achieved\n' "$rows" "$wall" "$fps"
printf '  %s\n' "$(tail -1 "$work/live-summary.txt")"
printf '  imu-decode CPU: %.2f s over %.1f s wall = %.2f %% of one core\n' "$cpu" "$wall" \
    "$(echo "100 * $cpu / $wall" | bc -l)"
printf '  CSV: %.1f bytes per row; one hour at 606 frames/s = %.0f MB (%.1f MB at the rate achieved)\n' \
    "$per_row" "$(echo "$per_row * 606 * 3600 / 1000000" | bc -l)" \
    "$(echo "$per_row * ${fps:-0} * 3600 / 1000000" | bc -l)"
printf '  sample rows:\n'
sed -n '1p;1000,1002p' "$work/live.csv" | sed 's/^/    /'
