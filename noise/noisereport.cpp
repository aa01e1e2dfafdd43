// SPDX-License-Identifier: GPL-3.0-or-later
#include "noisereport.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QStringList>

#include <cmath>

namespace Noise {

namespace {

constexpr double MinutesPerHour = 60.0;

// JSON has no NaN or infinity; neither should ever reach here, but a
// document that will not parse is worse than a null.
QJsonValue number(double v)
{
    return std::isfinite(v) ? QJsonValue(v) : QJsonValue();
}

QJsonObject coefficient(const Coefficient& c)
{
    QJsonObject o;
    o[QStringLiteral("value")] = c.valid ? number(c.value) : QJsonValue();
    o[QStringLiteral("unit")] = c.unit;
    o[QStringLiteral("extrapolated")] = c.extrapolated;
    o[QStringLiteral("valid")] = c.valid;
    o[QStringLiteral("fit_from_tau_s")] = number(c.fitFromTauS);
    o[QStringLiteral("fit_to_tau_s")] = number(c.fitToTauS);
    return o;
}

QJsonObject channelJson(const ChannelResult& c)
{
    QJsonObject o;
    o[QStringLiteral("name")] = c.name;
    o[QStringLiteral("unit")] = c.unit;
    o[QStringLiteral("adev_unit")] = c.angle ? QStringLiteral("deg/s") : QStringLiteral("mg");
    o[QStringLiteral("mean")] = number(c.mean);
    o[QStringLiteral("sd")] = number(c.sd);
    QJsonArray adev;
    for (const AdevPoint& p : c.adev) {
        adev.append(QJsonObject{{QStringLiteral("m"), double(p.m)},
                                {QStringLiteral("tau_s"), number(p.tauS)},
                                {QStringLiteral("n"), double(p.n)},
                                {QStringLiteral("dev"), number(p.dev)},
                                {QStringLiteral("lo"), number(p.lo)},
                                {QStringLiteral("hi"), number(p.hi)}});
    }
    o[QStringLiteral("adev")] = adev;
    if (c.angle) {
        o[QStringLiteral("drift_deg_per_min")] = number(c.driftDegPerMin);
        o[QStringLiteral("drift_std_err_deg_per_min")] = number(c.driftStdErrDegPerMin);
        o[QStringLiteral("drift_deg_per_hour")] = number(c.driftDegPerMin * MinutesPerHour);
        o[QStringLiteral("drift_std_err_deg_per_hour")] = number(c.driftStdErrDegPerMin * MinutesPerHour);
    } else {
        o[QStringLiteral("white_noise")] = coefficient(c.whiteNoise);
        QJsonObject bias = coefficient(c.biasInstability);
        bias[QStringLiteral("tau_s")] = number(c.biasTauS);
        bias[QStringLiteral("raw_minimum")] = number(c.biasRawMinimum);
        o[QStringLiteral("bias_instability")] = bias;
        o[QStringLiteral("random_walk")] = coefficient(c.randomWalk);
        o[QStringLiteral("white_noise_floor")] =
            QJsonObject{{QStringLiteral("value"), number(c.whiteNoiseFloor)}, {QStringLiteral("unit"), QStringLiteral("µg/√Hz")}};
    }
    o[QStringLiteral("asd_floor")] =
        QJsonObject{{QStringLiteral("value"), number(c.spectrum.floor)}, {QStringLiteral("unit"), c.spectrum.unit}};
    o[QStringLiteral("at_resolution_limit")] = c.atResolutionLimit;
    QJsonArray peaks;
    for (const Peak& p : c.spectrum.peaks)
        peaks.append(QJsonObject{{QStringLiteral("hz"), number(p.hz)}, {QStringLiteral("asd"), number(p.asd)}});
    o[QStringLiteral("psd")] = QJsonObject{{QStringLiteral("nperseg"), c.spectrum.nperseg},
                                           {QStringLiteral("segments"), c.spectrum.segments},
                                           {QStringLiteral("peaks"), peaks}};
    return o;
}

QString figure(double v, int precision = 4)
{
    return std::isfinite(v) ? QString::number(v, 'g', precision) : QString();
}

QString cell(const Coefficient& c)
{
    return c.valid ? figure(c.value) : QString();
}

QString notes(const ChannelResult& c)
{
    QStringList n;
    if (!c.angle) {
        if (c.whiteNoise.valid && c.whiteNoise.extrapolated)
            n << QStringLiteral("N extrapolated");
        if (c.biasInstability.valid && c.biasInstability.extrapolated)
            n << QStringLiteral("B extrapolated");
        if (c.randomWalk.valid && c.randomWalk.extrapolated)
            n << QStringLiteral("K extrapolated");
    }
    if (c.atResolutionLimit)
        n << QStringLiteral("at resolution limit");
    return n.join(QStringLiteral("; "));
}

const AdevPoint* pointAt(const ChannelResult& c, qint64 m)
{
    for (const AdevPoint& p : c.adev) {
        if (p.m == m)
            return &p;
    }
    return nullptr;
}

} // namespace

QJsonDocument toJson(const Result& result, const QString& file, double secondsReading)
{
    QJsonObject top;
    top[QStringLiteral("file")] = file;
    top[QStringLiteral("records")] = double(result.records);
    top[QStringLiteral("lost_frames")] = double(result.lostFrames);
    top[QStringLiteral("rate_hz")] = number(result.rateHz);
    top[QStringLiteral("duration_s")] = number(result.durationS);
    top[QStringLiteral("seconds_reading")] = number(secondsReading);
    top[QStringLiteral("seconds_analysing")] = number(result.secondsAnalysing);
    QJsonArray channels;
    for (const ChannelResult& c : result.channels)
        channels.append(channelJson(c));
    top[QStringLiteral("channels")] = channels;
    return QJsonDocument(top);
}

QString tabSeparated(const Result& result)
{
    const QStringList header{
        QStringLiteral("channel"), QStringLiteral("unit"), QStringLiteral("mean"), QStringLiteral("sd"),
        QStringLiteral("N (µg/√Hz)"), QStringLiteral("B (µg)"), QStringLiteral("B tau (s)"),
        QStringLiteral("B raw minimum (µg)"), QStringLiteral("K (µg/√s)"),
        QStringLiteral("ASD floor (µg/√Hz; angles (°/s)/√Hz)"), QStringLiteral("drift (°/min)"),
        QStringLiteral("drift std err (°/min)"), QStringLiteral("drift (°/h)"), QStringLiteral("ADEV at 1 s (mg; angles °/s)"),
        QStringLiteral("records"), QStringLiteral("rate (Hz)"), QStringLiteral("lost frames"), QStringLiteral("notes")};
    QString text = header.join(QLatin1Char('\t')) + QLatin1Char('\n');
    for (const ChannelResult& c : result.channels) {
        const AdevPoint* atOne = nullptr;
        for (const AdevPoint& p : c.adev) {
            if (!atOne || std::abs(std::log(p.tauS)) < std::abs(std::log(atOne->tauS)))
                atOne = &p;
        }
        QStringList row{c.name, c.unit, figure(c.mean, 6), figure(c.sd)};
        if (c.angle) {
            row << QString() << QString() << QString() << QString() << QString() << figure(c.spectrum.floor)
                << figure(c.driftDegPerMin) << figure(c.driftStdErrDegPerMin)
                << figure(c.driftDegPerMin * MinutesPerHour);
        } else {
            row << cell(c.whiteNoise) << cell(c.biasInstability) << figure(c.biasTauS) << figure(c.biasRawMinimum)
                << cell(c.randomWalk) << figure(c.spectrum.floor) << QString() << QString() << QString();
        }
        row << (atOne ? figure(atOne->dev) : QString()) << QString::number(result.records)
            << figure(result.rateHz, 6) << QString::number(result.lostFrames) << notes(c);
        text += row.join(QLatin1Char('\t')) + QLatin1Char('\n');
    }
    return text;
}

QString textTable(const Result& result)
{
    QString t;
    t += QStringLiteral("%1 records at %2 Hz over %3 s, %4 lost frames\n\n")
             .arg(result.records)
             .arg(result.rateHz, 0, 'f', 2)
             .arg(result.durationS, 0, 'f', 1)
             .arg(result.lostFrames);

    t += QStringLiteral("%1 %2 %3 %4 %5 %6 %7 %8\n")
             .arg(QStringLiteral("acceleration"), -12)
             .arg(QStringLiteral("mean mg"), 11)
             .arg(QStringLiteral("sd mg"), 9)
             .arg(QStringLiteral("N µg/√Hz"), 10)
             .arg(QStringLiteral("B µg"), 9)
             .arg(QStringLiteral("at τ s"), 8)
             .arg(QStringLiteral("K µg/√s"), 9)
             .arg(QStringLiteral("ASD floor µg/√Hz"), 17);
    for (const ChannelResult& c : result.channels) {
        if (c.angle)
            continue;
        auto coeff = [](const Coefficient& k) {
            return k.valid ? QString::number(k.value, 'f', 2) + (k.extrapolated ? QStringLiteral("*") : QString())
                           : QStringLiteral("-");
        };
        t += QStringLiteral("%1 %2 %3 %4 %5 %6 %7 %8%9\n")
                 .arg(c.name, -12)
                 .arg(c.mean, 11, 'f', 3)
                 .arg(c.sd, 9, 'f', 3)
                 .arg(coeff(c.whiteNoise), 10)
                 .arg(coeff(c.biasInstability), 9)
                 .arg(c.biasInstability.valid ? QString::number(c.biasTauS, 'g', 3) : QStringLiteral("-"), 8)
                 .arg(coeff(c.randomWalk), 9)
                 .arg(c.spectrum.floor, 17, 'f', 2)
                 .arg(c.atResolutionLimit ? QStringLiteral("  at resolution limit") : QString());
    }
    t += QStringLiteral("(* read outside the tau range where its slope was seen; N two-sided, ASD one-sided)\n\n");

    t += QStringLiteral("%1 %2 %3 %4 %5 %6\n")
             .arg(QStringLiteral("angle"), -12)
             .arg(QStringLiteral("mean °"), 11)
             .arg(QStringLiteral("sd °"), 9)
             .arg(QStringLiteral("drift °/min"), 12)
             .arg(QStringLiteral("± std err"), 10)
             .arg(QStringLiteral("drift °/h"), 10);
    for (const ChannelResult& c : result.channels) {
        if (!c.angle)
            continue;
        t += QStringLiteral("%1 %2 %3 %4 %5 %6%7\n")
                 .arg(c.name, -12)
                 .arg(c.mean, 11, 'f', 3)
                 .arg(c.sd, 9, 'f', 4)
                 .arg(c.driftDegPerMin, 12, 'f', 4)
                 .arg(c.driftStdErrDegPerMin, 10, 'g', 2)
                 .arg(c.driftDegPerMin * MinutesPerHour, 10, 'f', 2)
                 .arg(c.atResolutionLimit ? QStringLiteral("  at resolution limit") : QString());
    }

    t += QStringLiteral("\nAllan deviation (overlapping; mg for accelerations, °/s for angles)\n%1")
             .arg(QStringLiteral("tau s"), 10);
    for (const ChannelResult& c : result.channels)
        t += QStringLiteral(" %1").arg(c.name, 11);
    t += QLatin1Char('\n');
    const QVector<AdevPoint>& grid = result.channels[Channels - 1].adev;
    for (const AdevPoint& g : grid) {
        t += QStringLiteral("%1").arg(g.tauS, 10, 'g', 4);
        for (const ChannelResult& c : result.channels) {
            const AdevPoint* p = pointAt(c, g.m);
            t += QStringLiteral(" %1").arg(p ? QString::number(p->dev, 'e', 4) : QStringLiteral("-"), 11);
        }
        t += QLatin1Char('\n');
    }
    return t;
}

} // namespace Noise
