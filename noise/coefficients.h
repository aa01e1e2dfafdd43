// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef NOISE_COEFFICIENTS_H
#define NOISE_COEFFICIENTS_H

#include "noiseanalysis.h"

// Reading the IEEE noise terms off an Allan deviation curve.
//
// The rules:
// - The local slope of each segment between neighbouring octaves is
//   log(dev2 / dev1) / log(tau2 / tau1). A segment shows a slope when its
//   local slope is within SlopeTolerance of it; segments with a zero
//   deviation at either end show nothing.
// - White noise N (slope -1/2) and random walk K (+1/2): the longest run of
//   neighbouring segments that show the slope (of two equally long runs,
//   the one nearer the read-off tau). The line of that fixed slope is
//   fitted in log space over the run's octaves, each weighted by its
//   equivalent degrees of freedom (the variance of log dev is about
//   1 / (2 edf)). N is the line at tau = 1 s, K at tau = 3 s;
//   extrapolated when that tau lies outside the run.
// - Bias instability B: the smallest deviation, over 0.664 (sqrt(2 ln2/pi)),
//   with its tau and the minimum itself. Its fit range is the flat bottom:
//   the neighbouring segments around the minimum whose slope is within
//   SlopeTolerance of zero; extrapolated when there is none (a sharp corner:
//   the flat part is not seen) or when the minimum is the longest tau (the
//   curve may fall further).
// - Nothing seen (no run, or no non-zero deviation): valid is false.
namespace Noise::Coefficients {

constexpr double SlopeTolerance = 0.15;
constexpr double BiasFactor = 0.664; // sqrt(2 ln 2 / pi), to three figures as IEEE 952 gives it
constexpr double WhiteNoiseTauS = 1.0;
constexpr double RandomWalkTauS = 3.0;

// A line of fixed slope through the curve where it shows that slope, read
// at readTauS; value in the curve's unit times s^(slope).
Coefficient fixedSlope(const QVector<AdevPoint>& adev, double slope, double readTauS, qint64 points);

// The minimum; rawMinimum and tauS are set even when the result is invalid.
Coefficient biasInstability(const QVector<AdevPoint>& adev, double& rawMinimum, double& tauS);

} // namespace Noise::Coefficients

#endif // NOISE_COEFFICIENTS_H
