// SPDX-License-Identifier: GPL-3.0-or-later
#include "coefficients.h"

#include "allan.h"

#include <cmath>

namespace Noise::Coefficients {

namespace {

bool shows(const QVector<AdevPoint>& adev, int segment, double slope)
{
    const AdevPoint& a = adev[segment];
    const AdevPoint& b = adev[segment + 1];
    if (!(a.dev > 0.0) || !(b.dev > 0.0))
        return false;
    const double local = std::log(b.dev / a.dev) / std::log(b.tauS / a.tauS);
    return std::abs(local - slope) <= SlopeTolerance;
}

double distance(double tauS, double from, double to)
{
    if (tauS < from)
        return std::log(from / tauS);
    if (tauS > to)
        return std::log(tauS / to);
    return 0.0;
}

} // namespace

Coefficient fixedSlope(const QVector<AdevPoint>& adev, double slope, double readTauS, qint64 points)
{
    Coefficient c;
    // The longest run of segments [first, last) showing the slope.
    int bestFirst = -1;
    int bestLength = 0;
    for (int first = 0; first + 1 < adev.size();) {
        if (!shows(adev, first, slope)) {
            ++first;
            continue;
        }
        int last = first;
        while (last + 1 < adev.size() && shows(adev, last, slope))
            ++last;
        const int length = last - first;
        const bool nearer = bestFirst >= 0 && length == bestLength
            && distance(readTauS, adev[first].tauS, adev[last].tauS)
                < distance(readTauS, adev[bestFirst].tauS, adev[bestFirst + bestLength].tauS);
        if (length > bestLength || nearer) {
            bestFirst = first;
            bestLength = length;
        }
        first = last;
    }
    if (bestFirst < 0)
        return c;

    double weightedSum = 0.0;
    double weights = 0.0;
    for (int i = bestFirst; i <= bestFirst + bestLength; ++i) {
        const double w = Allan::edfWhiteFm(points, adev[i].m);
        weightedSum += w * (std::log(adev[i].dev) - slope * std::log(adev[i].tauS));
        weights += w;
    }
    c.valid = true;
    c.value = std::exp(weightedSum / weights + slope * std::log(readTauS));
    c.fitFromTauS = adev[bestFirst].tauS;
    c.fitToTauS = adev[bestFirst + bestLength].tauS;
    c.extrapolated = readTauS < c.fitFromTauS || readTauS > c.fitToTauS;
    return c;
}

Coefficient biasInstability(const QVector<AdevPoint>& adev, double& rawMinimum, double& tauS)
{
    Coefficient c;
    rawMinimum = 0.0;
    tauS = 0.0;
    int at = -1;
    for (int i = 0; i < adev.size(); ++i) {
        if (at < 0 || adev[i].dev < adev[at].dev)
            at = i;
    }
    if (at < 0)
        return c;
    rawMinimum = adev[at].dev;
    tauS = adev[at].tauS;
    if (!(rawMinimum > 0.0))
        return c;
    int first = at;
    while (first > 0 && shows(adev, first - 1, 0.0))
        --first;
    int last = at;
    while (last + 1 < adev.size() && shows(adev, last, 0.0))
        ++last;
    c.valid = true;
    c.value = rawMinimum / BiasFactor;
    c.fitFromTauS = adev[first].tauS;
    c.fitToTauS = adev[last].tauS;
    // A minimum at the longest tau may lie further on.
    c.extrapolated = first == last || at == adev.size() - 1;
    return c;
}

} // namespace Noise::Coefficients
