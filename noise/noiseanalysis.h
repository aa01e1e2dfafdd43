// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef NOISEANALYSIS_H
#define NOISEANALYSIS_H

#include <QString>
#include <QVector>

#include <array>
#include <memory>
#include <vector>

// What a still board's records say about its sensors, as a datasheet states
// it: per displayed channel the bias and spread, the overlapping Allan
// deviation with its confidence interval, the noise coefficients read off
// it (accelerations), the drift rate (angles) and the spectrum.
//
// Conventions (IEEE Std 952/1554, NIST SP 1065):
// - accelerations are rate samples in mg; their Allan deviation is in mg;
// - angles are phase (the integral of their rate), unwrapped across ±180°
//   first, and their Allan deviation is a rate, in °/s;
// - the white noise N is the two-sided density read at tau = 1 s (µg/√Hz);
//   the spectrum is one-sided, so white noise sits at √2·N there.

namespace Noise {

constexpr int Channels = 6; // yaw, pitch, roll (degrees), X, Y, Z acceleration (mg): the charts' order
// The link's full rate: 115200 baud, ten bit times a byte, 19-byte frames.
constexpr double FullRateHz = 115200.0 / (10 * 19);
// The CSV column of a channel (yaw_deg, pitch_deg, roll_deg, x_mg, y_mg,
// z_mg) and whether it is an angle (phase) rather than an acceleration.
QString channelName(int channel);
constexpr bool isAngle(int channel) { return channel < 3; }
// An angle's step from the record before, in hundredths of a degree, taken
// the short way round: in (-18000, 18000].
constexpr int unwrapStep(int from, int to)
{
    int step = to - from;
    while (step > 18000)
        step -= 36000;
    while (step <= -18000)
        step += 36000;
    return step;
}

// Fewer records than this are no span to analyse.
constexpr qint64 MinimumRecords = 100;

// The records to analyse: the six displayed channels as stored (angles in
// hundredths of a degree, accelerations in mg), in the order they arrived,
// treated as evenly spaced at rateHz.
struct Span
{
    std::array<std::vector<qint16>, Channels> raw;
    double rateHz = FullRateHz;
    // Breaks in the frame index within the span: said, not interpolated.
    qint64 lostFrames = 0;
    // host_time of the first and last record in ms since the epoch; both 0
    // for rows without it.
    qint64 firstMs = 0;
    qint64 lastMs = 0;

    qint64 size() const { return qint64(raw[0].size()); }
    // records - 1 over the span of host_time; the full rate without it.
    static double rateFrom(qint64 records, qint64 firstMs, qint64 lastMs);
};

struct AdevPoint
{
    qint64 m = 0;      // averaging factor
    double tauS = 0.0; // m / rate
    qint64 n = 0;      // terms summed
    double dev = 0.0;  // mg, or °/s for angles
    double lo = 0.0;   // 68.3 % confidence interval (chi-squared, edf of white FM)
    double hi = 0.0;
};

// A coefficient read off the Allan deviation at a fixed tau, from a line of
// fixed slope fitted where the curve has that slope.
struct Coefficient
{
    bool valid = false;  // false: nothing to read it from (too short a span)
    double value = 0.0;
    QString unit;        // "µg/√Hz", "µg", "µg/√s"
    // Read outside the tau range where its slope was seen.
    bool extrapolated = false;
    double fitFromTauS = 0.0; // the tau range the line was fitted over
    double fitToTauS = 0.0;
};

struct Peak
{
    double hz = 0.0;
    double asd = 0.0; // µg/√Hz one-sided (accelerations), (°/s)/√Hz (angles)
};

struct Spectrum
{
    int nperseg = 0;      // Welch segment length, a power of two
    int segments = 0;
    QVector<double> hz;   // bin frequencies, 0 … rate/2
    QVector<double> asd;  // amplitude spectral density, one-sided
    double floor = 0.0;   // median ASD over 1 Hz … Nyquist
    QString unit;
    QVector<Peak> peaks;  // strongest narrow peaks, strongest first
};

struct ChannelResult
{
    QString name;  // the CSV column: yaw_deg … z_mg
    QString unit;  // "deg" or "mg"
    bool angle = false;
    double mean = 0.0;
    double sd = 0.0;
    QVector<AdevPoint> adev;

    // Accelerations.
    Coefficient whiteNoise;       // N, µg/√Hz two-sided, at tau = 1 s
    Coefficient biasInstability;  // B = flat minimum / 0.664, µg
    double biasTauS = 0.0;        // where the minimum is
    double biasRawMinimum = 0.0;  // the minimum itself, µg
    Coefficient randomWalk;       // K, µg/√s, at tau = 3 s
    // Under twice the floor a 1 mg step gives at this rate.
    bool atResolutionLimit = false;
    // That floor: the white noise of a 1 mg step at this rate, µg/√Hz
    // two-sided (accelerations; 0 for angles).
    double whiteNoiseFloor = 0.0;

    // Angles: least-squares slope of the unwrapped angle.
    double driftDegPerMin = 0.0;
    // The ordinary least-squares error, which takes the residuals as
    // independent: a wandering angle's true uncertainty is larger.
    double driftStdErrDegPerMin = 0.0;

    Spectrum spectrum;
};

struct Result
{
    qint64 records = 0;
    qint64 lostFrames = 0;
    double rateHz = 0.0;
    double durationS = 0.0;
    double secondsAnalysing = 0.0;
    std::array<ChannelResult, Channels> channels;
};

// The resolution floor of the Allan deviation at tauS: a 1 mg step is
// white frequency noise of 1/sqrt(12) mg a sample, N = that / sqrt(rate),
// falling as 1/sqrt(tau); a 0.01° step is white phase noise of
// 0.01/sqrt(12) ° a sample, whose deviation is sqrt(3) times that over tau,
// 0.005 °/s at 1 s, falling as 1/tau. In mg, or °/s for angles.
double adevFloor(bool angle, double rateHz, double tauS);

// The whole analysis of a span; span.size() >= MinimumRecords. With
// adev given (one list per channel, e.g. LiveAllan's), the Allan sums are
// not computed again.
Result analyse(const Span& span, const std::array<QVector<AdevPoint>, Channels>* adev = nullptr);

// The Allan sums kept up as records arrive, one term per octave and
// channel a record, for a window that analyses a growing still test.
class LiveAllan
{
public:
    void clear();
    // One record as displayed, in arrival order, with its frame index
    // broken from the one before (a lost frame) or not.
    void append(const std::array<qint16, Channels>& raw, qint64 msSinceEpoch, bool indexBroken);
    qint64 size() const;
    // Breaks in the frame index among the records so far.
    qint64 lostFrames() const;
    // Octaves m = 1, 2, 4, ... up to a quarter of the records so far.
    QVector<AdevPoint> adev(int channel, double rateHz) const;
    // The records so far, for the spectrum and the fits on a worker thread.
    Span span() const;

private:
    struct State;
    std::shared_ptr<State> state;
};

} // namespace Noise

#endif // NOISEANALYSIS_H
