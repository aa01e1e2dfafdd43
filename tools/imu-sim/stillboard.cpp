// SPDX-License-Identifier: GPL-3.0-or-later
#include "stillboard.h"

#include <cmath>

namespace {
constexpr double MicroPerMilli = 1000.0;
constexpr double SecondsPerMinute = 60.0;
constexpr double GravityMg = 1000.0;
constexpr int HalfTurnHundredths = 18000;

qint16 roundMg(double mg)
{
    return static_cast<qint16>(std::lround(std::fmax(-32768.0, std::fmin(32767.0, mg))));
}

qint16 hundredths(double degrees)
{
    return static_cast<qint16>(std::lround(degrees * 100));
}

// The yaw as the board wraps it, in (-180, 180] degrees, in hundredths:
// the wrap applies after rounding, so that -180.00 never appears.
qint16 yawHundredths(double degrees)
{
    long h = std::lround(std::remainder(degrees, 360.0) * 100);
    if (h <= -HalfTurnHundredths)
        h += 2 * HalfTurnHundredths;
    else if (h > HalfTurnHundredths)
        h -= 2 * HalfTurnHundredths;
    return static_cast<qint16>(h);
}
} // namespace

StillBoard::StillBoard(const StillNoise& noise, std::uint64_t seed, double framesPerSecond)
    : noise(noise), framesPerSecond(framesPerSecond), white(seed ^ 0x7768697465000000ull),
      walk(seed ^ 0x77616c6b00000000ull), angles(seed ^ 0x616e676c65730000ull)
{
}

double StillBoard::whiteSigmaMg(int axis) const
{
    return noise.densityUg[std::size_t(axis)] / MicroPerMilli * std::sqrt(framesPerSecond);
}

double StillBoard::walkStepMg(int axis) const
{
    return noise.randomWalkUg[std::size_t(axis)] / MicroPerMilli / std::sqrt(framesPerSecond);
}

UART_RCV StillBoard::next()
{
    // Specific force of a level board: the table's push, against Z.
    const std::array<double, 3> truth {0.0, 0.0, -GravityMg};
    std::array<double, 3> measured {};
    for (int axis = 0; axis < 3; ++axis) {
        const auto a = std::size_t(axis);
        measured[a] = truth[a] + noise.biasMg[a] + walkMg[a] + whiteSigmaMg(axis) * white.gaussian();
        walkMg[a] += walkStepMg(axis) * walk.gaussian();
    }
    const double seconds = double(sample) / framesPerSecond;
    const double yaw = noise.yawDriftDegPerMin / SecondsPerMinute * seconds + noise.angleNoiseDeg * angles.gaussian();
    const double pitch = noise.angleNoiseDeg * angles.gaussian();
    const double roll = noise.angleNoiseDeg * angles.gaussian();
    ++sample;

    // The board's own conventions on the wire (see BoardMotion).
    UART_RCV record {};
    record.angle1 = qint16(-yawHundredths(yaw));
    record.angle2 = hundredths(roll);
    record.angle3 = hundredths(pitch);
    record.accel1 = roundMg(measured[0]);
    record.accel2 = roundMg(measured[1]);
    record.accel3 = roundMg(-measured[2]);
    return record;
}

void StillBoard::restart()
{
    walkMg = {0.0, 0.0, 0.0};
    sample = 0;
}
