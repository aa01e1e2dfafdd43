// SPDX-License-Identifier: GPL-3.0-or-later
#include "noiseanalysis.h"

#include "allan.h"
#include "coefficients.h"
#include "spectrum.h"

#include <QElapsedTimer>

#include <algorithm>
#include <atomic>
#include <limits>
#include <cmath>
#include <thread>

namespace Noise {

namespace {

constexpr double MsPerSecond = 1000.0;
constexpr double MicroPerMilli = 1000.0; // µg a mg
constexpr double DegreesPerStep = 0.01;  // an angle is in hundredths
// A figure under this many times its floor is at the resolution limit.
constexpr double ResolutionMargin = 2.0;
const double QuantisationSd = 1.0 / std::sqrt(12.0); // of a uniform step, in steps

// The buffers one worker reuses from channel to channel: the phase modulo
// 2^32, which is all that second differences and sums of samples need as
// long as they stay under 2^31 in size, and at half the memory; the phase
// in double where they may not.
struct Workspace
{
    std::vector<quint32> wrapped;
    std::vector<double> phase;
};

// A phase value from the first one: the angle's unwrapped travel.
double fromFirst(const double* x, qint64 i)
{
    return x[i] - x[0];
}

double fromFirst(const quint32* x, qint64 i)
{
    return qint32(x[i] - x[0]);
}

void accelerationStatistics(const std::vector<qint16>& raw, ChannelResult& c)
{
    // Exact integer sums: no cancellation in the variance of a large bias.
    // 64 bits hold the squares of 2^33 records of the largest value.
    qint64 sum = 0;
    qint64 squares = 0;
    for (const qint16 v : raw) {
        sum += v;
        squares += qint64(v) * v;
    }
    const __int128 n = qint64(raw.size());
    c.mean = double(sum) / double(n);
    if (n > 1) {
        const __int128 spread = n * __int128(squares) - __int128(sum) * sum; // n (n - 1) times the variance
        c.sd = std::sqrt(double(spread) / double(n) / double(n - 1));
    }
}

template<typename Phase>
void angleStatistics(const Phase* y, qint64 n, double origin, double rateHz, ChannelResult& c)
{
    // Four sums side by side, so that the additions do not wait on one
    // another; from the first value, which keeps them small.
    double s0 = 0.0, s1 = 0.0, s2 = 0.0, s3 = 0.0;
    qint64 i = 0;
    for (; i + 4 <= n; i += 4) {
        s0 += fromFirst(y, i);
        s1 += fromFirst(y, i + 1);
        s2 += fromFirst(y, i + 2);
        s3 += fromFirst(y, i + 3);
    }
    for (; i < n; ++i)
        s0 += fromFirst(y, i);
    const double mean = (s0 + s1 + s2 + s3) / double(n);
    const double centre = (double(n) - 1.0) / 2.0;
    double xy0 = 0.0, xy1 = 0.0, yy0 = 0.0, yy1 = 0.0;
    for (i = 0; i + 2 <= n; i += 2) {
        const double d0 = fromFirst(y, i) - mean;
        const double d1 = fromFirst(y, i + 1) - mean;
        xy0 += (double(i) - centre) * d0;
        xy1 += (double(i + 1) - centre) * d1;
        yy0 += d0 * d0;
        yy1 += d1 * d1;
    }
    for (; i < n; ++i) {
        const double d = fromFirst(y, i) - mean;
        xy0 += (double(i) - centre) * d;
        yy0 += d * d;
    }
    const double sumXy = xy0 + xy1;
    const double sumYy = yy0 + yy1;
    const double sxx = double(n) * (double(n) * double(n) - 1.0) / 12.0;
    // The mean angle as displayed, back within (-180°, 180°].
    double wrapped = std::remainder((origin + mean) * DegreesPerStep, 360.0);
    if (wrapped <= -180.0)
        wrapped += 360.0;
    c.mean = wrapped;
    c.sd = n > 1 ? std::sqrt(sumYy / double(n - 1)) * DegreesPerStep : 0.0;
    const double perMinute = rateHz * 60.0 * DegreesPerStep;
    const double slope = sxx > 0.0 ? sumXy / sxx : 0.0;
    c.driftDegPerMin = slope * perMinute;
    if (n > 2) {
        const double residual = std::max(0.0, sumYy - slope * sumXy);
        c.driftStdErrDegPerMin = std::sqrt(residual / double(n - 2) / sxx) * perMinute;
    }
}

const AdevPoint* nearestTo(const QVector<AdevPoint>& adev, double tauS)
{
    const AdevPoint* best = nullptr;
    for (const AdevPoint& p : adev) {
        if (!best || std::abs(std::log(p.tauS / tauS)) < std::abs(std::log(best->tauS / tauS)))
            best = &p;
    }
    return best;
}

void toMicro(Coefficient& c, const QString& unit)
{
    c.value *= MicroPerMilli;
    c.unit = unit;
}

// Everything from the phase x (points values), given as double or modulo
// 2^32; origin is its first value.
template<typename Phase>
void analysePhase(const Phase* x, qint64 points, double origin, const Span& span, const QVector<AdevPoint>* given,
                  ChannelResult& c)
{
    const qint64 n = span.size();
    const double rate = span.rateHz;
    const double scale = c.angle ? DegreesPerStep : 1.0 / rate;
    c.adev = given ? *given : Allan::octaves(x, points, n, rate, scale);

    if (c.angle) {
        angleStatistics(x, points, origin, rate, c);
        c.spectrum = Welch::welch(x, points, rate, DegreesPerStep * rate, QStringLiteral("(°/s)/√Hz"));
        const AdevPoint* atOne = nearestTo(c.adev, Coefficients::WhiteNoiseTauS);
        c.atResolutionLimit = c.sd < ResolutionMargin * QuantisationSd * DegreesPerStep
            || (atOne && atOne->dev < ResolutionMargin * adevFloor(true, rate, atOne->tauS));
        return;
    }

    c.spectrum = Welch::welch(x, points, rate, MicroPerMilli, QStringLiteral("µg/√Hz"));
    c.whiteNoise = Coefficients::fixedSlope(c.adev, -0.5, Coefficients::WhiteNoiseTauS, points);
    toMicro(c.whiteNoise, QStringLiteral("µg/√Hz"));
    c.randomWalk = Coefficients::fixedSlope(c.adev, 0.5, Coefficients::RandomWalkTauS, points);
    toMicro(c.randomWalk, QStringLiteral("µg/√s"));
    c.biasInstability = Coefficients::biasInstability(c.adev, c.biasRawMinimum, c.biasTauS);
    toMicro(c.biasInstability, QStringLiteral("µg"));
    c.biasRawMinimum *= MicroPerMilli;

    c.whiteNoiseFloor = adevFloor(false, rate, 1.0) * MicroPerMilli;
    const double floor = ResolutionMargin * c.whiteNoiseFloor;
    c.atResolutionLimit = c.sd < ResolutionMargin * QuantisationSd
        || (c.whiteNoise.valid && c.whiteNoise.value < floor)
        || c.spectrum.floor < std::sqrt(2.0) * floor;
}

void analyseChannel(const Span& span, int channel, const QVector<AdevPoint>* given, Workspace& work,
                    ChannelResult& c)
{
    const std::vector<qint16>& raw = span.raw[std::size_t(channel)];
    const qint64 n = qint64(raw.size());
    c.name = channelName(channel);
    c.angle = isAngle(channel);
    c.unit = c.angle ? QStringLiteral("deg") : QStringLiteral("mg");
    if (!c.angle)
        accelerationStatistics(raw, c);

    // The phase in whole steps: an angle's is its unwrapped value, an
    // acceleration's the running sum of its samples from 0. Its differences
    // are the rate samples, whose range bounds every second difference.
    const qint64 points = c.angle ? n : n + 1;
    work.wrapped.resize(std::size_t(points));
    quint32* wrapped = work.wrapped.data();
    qint64 x = c.angle ? raw[0] : 0;
    const qint64 origin = x;
    wrapped[0] = quint32(x);
    qint64 lowStep = std::numeric_limits<qint64>::max();
    qint64 highStep = std::numeric_limits<qint64>::min();
    qint64 low = x;
    qint64 high = x;
    for (qint64 i = 1; i < points; ++i) {
        const qint64 step = c.angle ? unwrapStep(raw[std::size_t(i - 1)], raw[std::size_t(i)]) : raw[std::size_t(i - 1)];
        x += step;
        wrapped[i] = quint32(x);
        lowStep = std::min(lowStep, step);
        highStep = std::max(highStep, step);
        low = std::min(low, x);
        high = std::max(high, x);
    }
    const bool fits = points < 2
        || (Allan::fitsWrapped(Allan::maximumFactor(n), highStep - lowStep) && high - low < (qint64(1) << 31));
    if (fits) {
        analysePhase(wrapped, points, double(origin), span, given, c);
        return;
    }
    // A board at full scale, or an angle many turns round: the phase in
    // double, exact up to 2^53.
    work.phase.resize(std::size_t(points));
    double* phase = work.phase.data();
    double y = double(origin);
    phase[0] = y;
    for (qint64 i = 1; i < points; ++i) {
        y += c.angle ? unwrapStep(raw[std::size_t(i - 1)], raw[std::size_t(i)]) : raw[std::size_t(i - 1)];
        phase[i] = y;
    }
    analysePhase(phase, points, double(origin), span, given, c);
}

} // namespace

QString channelName(int channel)
{
    static const char* const names[Channels] = {"yaw_deg", "pitch_deg", "roll_deg", "x_mg", "y_mg", "z_mg"};
    return channel >= 0 && channel < Channels ? QString::fromLatin1(names[channel]) : QString();
}

double Span::rateFrom(qint64 records, qint64 firstMs, qint64 lastMs)
{
    if (records < 2 || lastMs <= firstMs)
        return FullRateHz;
    return double(records - 1) * MsPerSecond / double(lastMs - firstMs);
}

double adevFloor(bool angle, double rateHz, double tauS)
{
    if (angle)
        return std::sqrt(3.0) * QuantisationSd * DegreesPerStep / tauS;
    return QuantisationSd / std::sqrt(rateHz * tauS);
}

Result analyse(const Span& span, const std::array<QVector<AdevPoint>, Channels>* adev)
{
    QElapsedTimer clock;
    clock.start();
    Result result;
    result.records = span.size();
    result.lostFrames = span.lostFrames;
    result.rateHz = span.rateHz;
    result.durationS = double(span.size()) / span.rateHz;
    if (span.size() < 2) {
        for (int c = 0; c < Channels; ++c) {
            result.channels[std::size_t(c)].name = channelName(c);
            result.channels[std::size_t(c)].angle = isAngle(c);
            result.channels[std::size_t(c)].unit = isAngle(c) ? QStringLiteral("deg") : QStringLiteral("mg");
        }
        return result;
    }

    // The channels are independent: each worker takes the next one.
    std::atomic<int> next{0};
    auto work = [&] {
        Workspace workspace;
        for (int c; (c = next.fetch_add(1)) < Channels;) {
            analyseChannel(span, c, adev ? &(*adev)[std::size_t(c)] : nullptr, workspace,
                           result.channels[std::size_t(c)]);
        }
    };
    const int workers = int(std::clamp<unsigned>(std::thread::hardware_concurrency(), 1, Channels));
    std::vector<std::thread> threads;
    for (int i = 1; i < workers; ++i)
        threads.emplace_back(work);
    work();
    for (std::thread& t : threads)
        t.join();
    result.secondsAnalysing = double(clock.nsecsElapsed()) / 1e9;
    return result;
}

} // namespace Noise
