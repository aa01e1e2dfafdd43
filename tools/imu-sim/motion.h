// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef MOTION_H
#define MOTION_H

#include "parser.h"

#include <cstdint>

// The simulated board's movement, as the board reports it.
//
// Physical frame (what the monitor shows after its remapping): X forward,
// Y right, Z down; yaw turns the nose right, pitch raises it, roll lowers
// the right side. The accelerometer measures specific force, so a board
// lying still reads -1000 mg on the displayed Z axis (the table pushes it
// up, against Z). On the wire the board's conventions apply: angle1 is the
// negated yaw, angle2 the roll, angle3 the pitch, accel3 the negated Z
// acceleration, so a still board sends accel3 = +1000.
//
// The board rests for the first second after start or reset, then eases into
// a motion that turns the yaw through the whole circle every 20 s while pitch
// and roll swing within +-50 and +-55 degrees. The board only rotates about
// its sensor, so the measured acceleration is gravity alone plus noise.
class BoardMotion
{
public:
    // Seconds of rest after start and after every reset.
    static constexpr double RestSeconds = 1.0;
    static constexpr double YawTurnSeconds = 20.0;
    static constexpr double PitchAmplitudeDegrees = 50.0;
    static constexpr double RollAmplitudeDegrees = 55.0;
    // Each acceleration axis gets uniform noise within +-NoiseMg.
    static constexpr int NoiseMg = 8;

    explicit BoardMotion(std::uint64_t seed);

    // The record the board sends t seconds after start or reset. The index is
    // left 0; the caller numbers the frames. Deterministic for a seed and the
    // sequence of calls.
    UART_RCV sample(double t);

    // Physical orientation in degrees (yaw in (-180, 180]) at time t.
    static void orientation(double t, double& yaw, double& pitch, double& roll);

private:
    std::uint64_t noiseState;
    int noise();
};

// A small deterministic generator (splitmix64): the same seed gives the same
// stream on every platform and standard library.
class SeededRandom
{
public:
    explicit SeededRandom(std::uint64_t seed) : state(seed) {}
    std::uint64_t next();
    // Uniform in [0, 1).
    double uniform();
    // True with probability p.
    bool chance(double p) { return p > 0 && uniform() < p; }
    // Standard normal (mean 0, deviation 1), by Marsaglia's polar method.
    double gaussian();

private:
    std::uint64_t state;
};

#endif // MOTION_H
