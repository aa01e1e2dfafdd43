// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef NOISE_SPECTRUM_H
#define NOISE_SPECTRUM_H

#include "noiseanalysis.h"

#include <QtGlobal>

// Welch's method, as SciPy's welch() defaults do it: a periodic Hann
// window, 50 % overlap, each segment's mean removed, the one-sided density
// scaled by 1 / (fs sum(w^2)), the segments' densities averaged.
namespace Noise::Welch {

constexpr int MinimumSegment = 256;
// 8192 samples: 13.5 s at the link's full rate, 0.07 Hz apart; an hour
// still averages over 500 segments.
constexpr int MaximumSegment = 8192;
// At least this many segments (before overlap) where the span allows.
constexpr qint64 SegmentsWanted = 16;
constexpr int MaximumPeaks = 5;
// A peak stands this many times above the median of the bins around it.
constexpr double PeakFactor = 3.0;
constexpr int PeakNeighbourhood = 16; // bins either side for that median
constexpr double FloorFromHz = 1.0;

// A power of two for n samples: n / SegmentsWanted within the bounds above,
// and never more than n.
int segmentLength(qint64 n);

// The spectrum of the rate samples (x[i+1] - x[i]) * sampleScale given by
// the phase x (points values) at rateHz: ASD in the samples' unit per √Hz,
// with the floor and the peaks. The phase gives each segment's mean at no
// cost: (x[end] - x[start]) / length.
Spectrum welch(const double* x, qint64 points, double rateHz, double sampleScale, const QString& unit);
// The same from the phase modulo 2^32 (each difference of two values, a
// sample or a segment's sum, under 2^31 in size).
Spectrum welch(const quint32* x, qint64 points, double rateHz, double sampleScale, const QString& unit);

} // namespace Noise::Welch

#endif // NOISE_SPECTRUM_H
