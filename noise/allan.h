// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef NOISE_ALLAN_H
#define NOISE_ALLAN_H

#include "noiseanalysis.h"

#include <QtGlobal>

// The overlapping Allan deviation (NIST SP 1065, eq. 11) from phase data:
// sigma^2(m tau0) = sum of (x[i+2m] - 2 x[i+m] + x[i])^2 / (2 (m tau0)^2 n),
// n = points - 2m terms, at the octaves m = 1, 2, 4, ... up to a quarter of
// the records.
namespace Noise::Allan {

// The sum of the n squared second differences of x at averaging factor m;
// x holds n + 2m points. Exact when x holds integers and the sum stays
// under 2^53.
double secondDifferenceSum(const double* x, qint64 n, qint64 m);

// The largest averaging factor for this many records: a quarter of them.
qint64 maximumFactor(qint64 records);

// Equivalent degrees of freedom of white frequency noise for the
// overlapping estimator (SP 1065, Table 5), points phase points.
double edfWhiteFm(qint64 points, qint64 m);

// The 68.3 % interval of a deviation with edf degrees of freedom:
// dev * sqrt(edf / chi2(p)) at p = 0.8415 (lo) and 0.1585 (hi).
void confidenceInterval(double dev, double edf, double& lo, double& hi);

// One octave's point from its sum of squared second differences of the
// phase in steps: dev = scale * sqrt(sum / (2 n)) / (m tau0).
AdevPoint point(qint64 m, qint64 n, double sum, qint64 points, double rateHz, double scale);

// All octaves of x (points phase values holding whole numbers of steps
// under 2^53), records records (records + 1 phase points for rate data,
// records for phase data). The octaves are summed block by block, all of
// them over each block, so that the phase is read from memory about once
// for all the shorter octaves. The sums are exact, so LiveAllan's, summed
// in another order, are the same.
QVector<AdevPoint> octaves(const double* x, qint64 points, qint64 records, double rateHz, double scale);
// The same from the phase modulo 2^32, half the memory to stream: exact
// when no second difference reaches 2^31 in size, which fitsWrapped() says.
QVector<AdevPoint> octaves(const quint32* x, qint64 points, qint64 records, double rateHz, double scale);
// A second difference at factor m is a sum of m differences of two rate
// samples, so it stays under m times their range.
constexpr bool fitsWrapped(qint64 maximumFactor, qint64 rateRange)
{
    return maximumFactor * rateRange < (qint64(1) << 31);
}

} // namespace Noise::Allan

#endif // NOISE_ALLAN_H
