// SPDX-License-Identifier: GPL-3.0-or-later
#include "allan.h"

#include <boost/math/distributions/chi_squared.hpp>

#include <algorithm>
#include <cmath>
#include <vector>

namespace Noise::Allan {

namespace {
// The stop ratio: overlapping ADEV is taken up to a quarter of the data.
constexpr qint64 StopRatio = 4;
// 68.3 %: one standard deviation of a normal distribution either side.
constexpr double LowerTail = (1.0 - 0.6827) / 2.0;
// Phase values summed per octave before the next octave's turn: with the
// next 2m values this stays in the second-level cache for the small m.
constexpr qint64 BlockPoints = 8192;

// Four doubles: one AVX register, or two SSE2 ones; loaded from any double's
// address (GCC and Clang let a vector alias its element type).
typedef double Quad __attribute__((vector_size(4 * sizeof(double)), aligned(alignof(double))));
// Four phase values modulo 2^32, and their second differences as signed
// numbers: converted, they fill a Quad.
typedef quint32 Quartet __attribute__((vector_size(4 * sizeof(quint32)), aligned(alignof(quint32))));
typedef qint32 SignedQuartet __attribute__((vector_size(4 * sizeof(qint32))));

// The same sum from the phase modulo 2^32: unsigned arithmetic wraps
// without fault, and the difference, under 2^31 in size, is read back as a
// signed number.
__attribute__((target_clones("avx2", "default")))
double wrappedSecondDifferenceSum(const quint32* x, qint64 n, qint64 m)
{
    const Quartet* qa = reinterpret_cast<const Quartet*>(x);
    const Quartet* qb = reinterpret_cast<const Quartet*>(x + m);
    const Quartet* qc = reinterpret_cast<const Quartet*>(x + 2 * m);
    Quad s0 = {}, s1 = {}, s2 = {}, s3 = {};
    qint64 q = 0;
    for (; 4 * (q + 4) <= n; q += 4) {
        const Quad d0 = __builtin_convertvector((SignedQuartet)(qc[q] - 2u * qb[q] + qa[q]), Quad);
        const Quad d1 = __builtin_convertvector((SignedQuartet)(qc[q + 1] - 2u * qb[q + 1] + qa[q + 1]), Quad);
        const Quad d2 = __builtin_convertvector((SignedQuartet)(qc[q + 2] - 2u * qb[q + 2] + qa[q + 2]), Quad);
        const Quad d3 = __builtin_convertvector((SignedQuartet)(qc[q + 3] - 2u * qb[q + 3] + qa[q + 3]), Quad);
        s0 += d0 * d0;
        s1 += d1 * d1;
        s2 += d2 * d2;
        s3 += d3 * d3;
    }
    const Quad s = (s0 + s1) + (s2 + s3);
    double sum = (s[0] + s[1]) + (s[2] + s[3]);
    for (qint64 i = 4 * q; i < n; ++i) {
        const double d = qint32(x[i + 2 * m] - 2u * x[i + m] + x[i]);
        sum += d * d;
    }
    return sum;
}

} // namespace

// The sums are of exact integers below 2^53, so summing in any order gives
// the same result: the reduction is spread over four independent vector
// accumulators, which do not wait on one another.
__attribute__((target_clones("avx2", "default")))
double secondDifferenceSum(const double* x, qint64 n, qint64 m)
{
    const double* a = x;
    const double* b = x + m;
    const double* c = x + 2 * m;
    const Quad* qa = reinterpret_cast<const Quad*>(a);
    const Quad* qb = reinterpret_cast<const Quad*>(b);
    const Quad* qc = reinterpret_cast<const Quad*>(c);
    Quad s0 = {}, s1 = {}, s2 = {}, s3 = {};
    qint64 q = 0;
    for (; 4 * (q + 4) <= n; q += 4) {
        const Quad d0 = qc[q] - 2.0 * qb[q] + qa[q];
        const Quad d1 = qc[q + 1] - 2.0 * qb[q + 1] + qa[q + 1];
        const Quad d2 = qc[q + 2] - 2.0 * qb[q + 2] + qa[q + 2];
        const Quad d3 = qc[q + 3] - 2.0 * qb[q + 3] + qa[q + 3];
        s0 += d0 * d0;
        s1 += d1 * d1;
        s2 += d2 * d2;
        s3 += d3 * d3;
    }
    const Quad s = (s0 + s1) + (s2 + s3);
    double sum = (s[0] + s[1]) + (s[2] + s[3]);
    for (qint64 i = 4 * q; i < n; ++i) {
        const double d = c[i] - 2.0 * b[i] + a[i];
        sum += d * d;
    }
    return sum;
}

qint64 maximumFactor(qint64 records)
{
    return records / StopRatio;
}

double edfWhiteFm(qint64 points, qint64 m)
{
    const double n = double(points);
    const double mm = double(m);
    const double edf = (3.0 * (n - 1.0) / (2.0 * mm) - 2.0 * (n - 2.0) / n) * 4.0 * mm * mm / (4.0 * mm * mm + 5.0);
    // Very short spans can drive the formula under one degree of freedom,
    // where the interval would be meaningless; one is the least there is.
    return std::max(edf, 1.0);
}

void confidenceInterval(double dev, double edf, double& lo, double& hi)
{
    const boost::math::chi_squared chi2(edf);
    lo = dev * std::sqrt(edf / boost::math::quantile(chi2, 1.0 - LowerTail));
    hi = dev * std::sqrt(edf / boost::math::quantile(chi2, LowerTail));
}

AdevPoint point(qint64 m, qint64 n, double sum, qint64 points, double rateHz, double scale)
{
    AdevPoint p;
    p.m = m;
    p.tauS = double(m) / rateHz;
    p.n = n;
    p.dev = n > 0 ? scale * std::sqrt(sum / (2.0 * double(n))) * rateHz / double(m) : 0.0;
    confidenceInterval(p.dev, edfWhiteFm(points, m), p.lo, p.hi);
    return p;
}

namespace {

// Below this a sum of squares of integers held in double is exact, whatever
// the order it was summed in.
constexpr double ExactBelow = 9007199254740992.0; // 2^53

// The block's sum without rounding, for a block whose double sum may
// have lost digits.
__int128 exactSum(const double* x, qint64 n, qint64 m)
{
    __int128 sum = 0;
    for (qint64 i = 0; i < n; ++i) {
        const qint64 d = qint64(x[i + 2 * m]) - 2 * qint64(x[i + m]) + qint64(x[i]);
        sum += __int128(d) * d;
    }
    return sum;
}

__int128 exactSum(const quint32* x, qint64 n, qint64 m)
{
    __int128 sum = 0;
    for (qint64 i = 0; i < n; ++i) {
        const qint64 d = qint32(x[i + 2 * m] - 2u * x[i + m] + x[i]);
        sum += __int128(d) * d;
    }
    return sum;
}

double blockSum(const double* x, qint64 n, qint64 m)
{
    return secondDifferenceSum(x, n, m);
}

double blockSum(const quint32* x, qint64 n, qint64 m)
{
    return wrappedSecondDifferenceSum(x, n, m);
}

template<typename Phase>
QVector<AdevPoint> octavesOf(const Phase* x, qint64 points, qint64 records, double rateHz, double scale)
{
    std::vector<qint64> factors;
    for (qint64 m = 1; m <= maximumFactor(records) && points - 2 * m > 0; m *= 2)
        factors.push_back(m);
    std::vector<__int128> sums(factors.size(), 0);
    for (qint64 start = 0; start < points; start += BlockPoints) {
        for (std::size_t k = 0; k < factors.size(); ++k) {
            const qint64 terms = points - 2 * factors[k];
            const qint64 count = std::min(BlockPoints, terms - start);
            if (count <= 0)
                continue;
            const double block = blockSum(x + start, count, factors[k]);
            sums[k] += block < ExactBelow ? __int128(block) : exactSum(x + start, count, factors[k]);
        }
    }
    QVector<AdevPoint> result;
    result.reserve(int(factors.size()));
    for (std::size_t k = 0; k < factors.size(); ++k)
        result.append(point(factors[k], points - 2 * factors[k], double(sums[k]), points, rateHz, scale));
    return result;
}

} // namespace

QVector<AdevPoint> octaves(const double* x, qint64 points, qint64 records, double rateHz, double scale)
{
    return octavesOf(x, points, records, rateHz, scale);
}

QVector<AdevPoint> octaves(const quint32* x, qint64 points, qint64 records, double rateHz, double scale)
{
    return octavesOf(x, points, records, rateHz, scale);
}

} // namespace Noise::Allan
