#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The noise analysis: an hour and ten hours at the link's full rate, the live
# Allan sums' cost a record, imu-noise on an hour's recording (wall time,
# reading included) and the same estimator in NumPy on the same data.
#   bench/noise/run.sh BUILD_FOLDER
set -euo pipefail
build=$(cd "${1:?usage: $0 BUILD_FOLDER}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
cmake --build "$build" --target imu_bench_noise imu-noise -j 2 >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$build/bench/noise/imu_bench_noise" "$work" | tee "$work/bench.txt"
cpp=$(sed -n 's/.*Allan deviation alone, six channels on one thread: \([0-9.]*\) s.*/\1/p' "$work/bench.txt" | head -1)

echo "imu-noise on an hour's recording ($(du -m "$work/hour.csv" | cut -f1) MB of CSV), best of three:"
best=
for _ in 1 2 3; do
    start=$(date +%s.%N)
    "$build/tools/imu-noise/imu-noise" --json "$work/hour.csv" >"$work/hour.json"
    end=$(date +%s.%N)
    t=$(echo "$end - $start" | bc -l)
    if [[ -z "$best" ]] || (( $(echo "$t < $best" | bc -l) )); then best=$t; fi
done
python3 - "$work/hour.json" "$best" <<'PY'
import json, sys
d = json.load(open(sys.argv[1]))
print("  %.3f s wall: %.3f s reading, %.3f s analysing; %d records at %.2f Hz"
      % (float(sys.argv[2]), d["seconds_reading"], d["seconds_analysing"], d["records"], d["rate_hz"]))
PY

# Debian's python3-numpy belongs to the system's Python, which another
# python3 earlier on PATH may not see.
numpy_python=
for candidate in python3 /usr/bin/python3; do
    if "$candidate" -c 'import numpy' 2>/dev/null; then numpy_python=$candidate; break; fi
done
if [[ -n $numpy_python ]]; then
    "$numpy_python" "$here/numpy_adev.py" "$work" "$cpp"
else
    echo "  NumPy: skipped, python3-numpy is not installed"
fi
