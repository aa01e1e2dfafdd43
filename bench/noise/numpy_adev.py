# SPDX-License-Identifier: GPL-3.0-or-later
# The same estimator in NumPy on the same hour: overlapping Allan deviation at
# the octaves up to a quarter of the records, from the phase (accelerations:
# running sum of the mg samples from 0; angles: unwrapped hundredths).
#   python3 numpy_adev.py FOLDER SECONDS_CPP
import sys
import time

import numpy as np

folder, cpp = sys.argv[1], float(sys.argv[2])
raw = np.fromfile(folder + "/hour.i16", dtype=np.int16).reshape(6, -1)
# The rate to full precision, as the C++ side used it; the deviations below.
theirs = {}
for line in open(folder + "/hour-adev.txt"):
    fields = line.split()
    if fields[0] == "rate":
        rate = float(fields[1])
    else:
        theirs[(int(fields[0]), int(fields[1]))] = float(fields[2])
n = raw.shape[1]


def adev(channel):
    y = raw[channel].astype(np.int64)
    if channel < 3:
        step = np.diff(y)
        step = (step + 18000) % 36000 - 18000
        step[step == -18000] = 18000
        x = np.concatenate(([y[0]], y[0] + np.cumsum(step))).astype(np.float64)
        scale = 0.01
    else:
        x = np.concatenate(([0], np.cumsum(y))).astype(np.float64)
        scale = 1.0 / rate
    out = []
    m = 1
    while m <= n // 4:
        d = x[2 * m:] - 2.0 * x[m:-m] + x[:-2 * m]
        out.append((channel, m, scale * np.sqrt(np.dot(d, d) / (2.0 * d.size)) * rate / m))
        m *= 2
    return out


best = float("inf")
for _ in range(3):
    start = time.perf_counter()
    ours = [p for c in range(6) for p in adev(c)]
    best = min(best, time.perf_counter() - start)
print("  NumPy %s, the same estimator, six channels: %.3f s (%.0f ms a channel); C++ on one thread is %.1f times as fast"
      % (np.__version__, best, best / 6 * 1e3, best / cpp))
worst = max(abs(dev - theirs[(c, m)]) / dev for c, m, dev in ours if dev > 0)
# NumPy's float64 dot product rounds once its sums pass 2^53, the C++ sums
# do not: expect differences around 1e-11 at the longest octaves.
print("  NumPy against C++: %d deviations, largest relative difference %.2e (%s 1e-9)"
      % (len(ours), worst, "within" if worst <= 1e-9 and len(ours) == len(theirs) else "NOT within"))
