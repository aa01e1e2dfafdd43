// SPDX-License-Identifier: GPL-3.0-or-later
#include "motion.h"

#include <cmath>

namespace {
constexpr double Pi = 3.14159265358979323846;
constexpr double RampSeconds = 2.0;

// Motion strength: 0 at rest, rising smoothly (no jerk in the angles) to 1.
double envelope(double t)
{
    const double x = (t - BoardMotion::RestSeconds) / RampSeconds;
    if (x <= 0)
        return 0;
    if (x >= 1)
        return 1;
    return x * x * (3 - 2 * x);
}

// The integral of the envelope: the motion's own clock, which stands still
// at rest and then runs at the speed of time.
double motionClock(double t)
{
    const double x = (t - BoardMotion::RestSeconds) / RampSeconds;
    if (x <= 0)
        return 0;
    if (x >= 1)
        return RampSeconds / 2 + (t - BoardMotion::RestSeconds - RampSeconds);
    return RampSeconds * (x * x * x - x * x * x * x / 2);
}

qint16 hundredths(double degrees)
{
    return static_cast<qint16>(std::lround(degrees * 100));
}

qint16 clampMg(double mg)
{
    return static_cast<qint16>(std::lround(std::fmax(-32768.0, std::fmin(32767.0, mg))));
}
} // namespace

std::uint64_t SeededRandom::next()
{
    std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

double SeededRandom::uniform()
{
    return double(next() >> 11) * 0x1.0p-53;
}

double SeededRandom::gaussian()
{
    for (;;) {
        const double u = 2 * uniform() - 1;
        const double v = 2 * uniform() - 1;
        const double s = u * u + v * v;
        if (s > 0 && s < 1)
            return u * std::sqrt(-2 * std::log(s) / s);
    }
}

BoardMotion::BoardMotion(std::uint64_t seed)
    : noiseState(seed)
{
}

int BoardMotion::noise()
{
    SeededRandom random(noiseState);
    noiseState = random.next();
    return int(noiseState % (2 * NoiseMg + 1)) - NoiseMg;
}

void BoardMotion::orientation(double t, double& yaw, double& pitch, double& roll)
{
    const double e = envelope(t);
    const double u = motionClock(t);
    yaw = std::fmod(360.0 * u / YawTurnSeconds, 360.0);
    if (yaw > 180.0)
        yaw -= 360.0;
    // Periods that share no small common multiple, so the pattern does not
    // visibly repeat.
    pitch = PitchAmplitudeDegrees * e * std::sin(2 * Pi * u / 7.3);
    roll = RollAmplitudeDegrees * e * std::sin(2 * Pi * u / 5.1);
}

UART_RCV BoardMotion::sample(double t)
{
    double yaw = 0, pitch = 0, roll = 0;
    orientation(t, yaw, pitch, roll);
    const double theta = pitch * Pi / 180;
    const double phi = roll * Pi / 180;

    // Specific force in the body frame: minus gravity, rotated by pitch and
    // roll (yaw turns about gravity and leaves it unchanged).
    const double x = 1000.0 * std::sin(theta);
    const double y = -1000.0 * std::sin(phi) * std::cos(theta);
    const double z = -1000.0 * std::cos(phi) * std::cos(theta);

    UART_RCV record {};
    record.index = 0;
    // angle1 is the negated yaw; yaw 180 stays +-18000 on the wire either way.
    record.angle1 = hundredths(-yaw);
    record.angle2 = hundredths(roll);
    record.angle3 = hundredths(pitch);
    record.accel1 = clampMg(x + noise());
    record.accel2 = clampMg(y + noise());
    record.accel3 = clampMg(-z + noise());
    return record;
}
