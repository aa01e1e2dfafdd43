// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef STILLBOARD_H
#define STILLBOARD_H

#include "motion.h"
#include "parser.h"

#include <array>
#include <cstdint>

// What the sensor of a board lying still adds to the truth, per axis of the
// monitor's physical frame (X, Y, Z as it shows them), in the units a
// datasheet gives: the figures the noise analysis should read back.
struct StillNoise
{
    // The defaults are a mid-range MEMS accelerometer, chosen so that every
    // figure stands well clear of what the stream itself adds: rounding to
    // 1 mg is white noise of 0.289 mg per sample, 11.7 ug/sqrt(Hz) at the
    // link's full rate and 28.9 at 100 frames/s, so 200 ug/sqrt(Hz) is 17
    // and 7 times that floor (and adds under 0.4 % and 2 % to it). A random
    // walk of 20 ug/sqrt(s) meets the white noise's line at
    // tau = sqrt(3) * N / K, about 17 s, so a still test of ten minutes
    // already shows the rising half of the Allan curve. 0.4 deg/min is a
    // usual yaw drift of a 6-axis part, and 0.01 deg (the stream's step) of
    // angle noise keeps the angles' last digit alive, as a real board's is.
    static constexpr double DefaultDensity = 200.0;    // ug/sqrt(Hz), two-sided
    static constexpr double DefaultRandomWalk = 20.0;  // ug/sqrt(s)
    static constexpr double DefaultYawDrift = 0.4;     // deg/min
    static constexpr double DefaultAngleNoise = 0.01;  // deg per sample

    // White noise density of each axis (two-sided, as the Allan deviation
    // reads it at tau = 1 s).
    std::array<double, 3> densityUg {DefaultDensity, DefaultDensity, DefaultDensity};
    // Rate random walk of each axis' bias (the +1/2 line's value at 3 s).
    std::array<double, 3> randomWalkUg {DefaultRandomWalk, DefaultRandomWalk, DefaultRandomWalk};
    // A constant offset of each axis, in mg.
    std::array<double, 3> biasMg {0.0, 0.0, 0.0};
    // A steady turn of the yaw; positive turns the nose right.
    double yawDriftDegPerMin = DefaultYawDrift;
    // White noise of each angle, the deviation of one sample.
    double angleNoiseDeg = DefaultAngleNoise;
};

// A level board at rest, as the board reports it: angles 0 apart from the
// yaw's drift, specific force -1000 mg on Z (the board sends accel3 about
// +1000), and the noise of StillNoise on top, rounded to the stream's
// integers (1 mg, 0.01 deg).
class StillBoard
{
public:
    // framesPerSecond is the rate the frames are really generated at: the
    // densities turn into per-sample deviations through it.
    StillBoard(const StillNoise& noise, std::uint64_t seed, double framesPerSecond);

    // The next record, one frame period after the one before. The index is
    // left 0; the caller numbers the frames.
    UART_RCV next();
    // The board's reset: back to yaw 0, the bias walk back at its start.
    void restart();

    // Per-sample deviations in mg: white noise N * sqrt(fs), and the bias
    // walk's step K / sqrt(fs).
    double whiteSigmaMg(int axis) const;
    double walkStepMg(int axis) const;

private:
    StillNoise noise;
    double framesPerSecond;
    // One stream per kind, so that changing one figure leaves the draws of
    // the others as they were.
    SeededRandom white;
    SeededRandom walk;
    SeededRandom angles;
    std::array<double, 3> walkMg {0.0, 0.0, 0.0};
    std::uint64_t sample = 0;
};

#endif // STILLBOARD_H
