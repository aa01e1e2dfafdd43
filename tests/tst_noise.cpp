// SPDX-License-Identifier: GPL-3.0-or-later
// The noise analysis against published references (NIST SP 1065's NBS14
// set, the chi-squared interval, the analytic levels of white noise) and
// against the faults such tools are known for: rate fed as phase, a missing
// sqrt(2), a wrap of the yaw, a constant channel. Then imu-noise as a user runs it.

#include "allan.h"
#include "noiseanalysis.h"
#include "noisereport.h"
#include "noisesource.h"
#include "recordcsv.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <random>

namespace {

// A span of six channels from one generator per channel.
template<typename Generate>
Noise::Span makeSpan(qint64 n, double rateHz, Generate generate)
{
    Noise::Span span;
    span.rateHz = rateHz;
    for (int c = 0; c < Noise::Channels; ++c) {
        span.raw[std::size_t(c)].resize(std::size_t(n));
        for (qint64 i = 0; i < n; ++i)
            span.raw[std::size_t(c)][std::size_t(i)] = qint16(generate(c, i));
    }
    return span;
}

// Angles in hundredths wrapped into (-18000, 18000], as the board sends them.
int wrapped(qint64 hundredths)
{
    qint64 v = ((hundredths + 18000) % 36000 + 36000) % 36000 - 18000;
    return int(v == -18000 ? 18000 : v);
}

bool allFinite(const Noise::Result& r)
{
    for (const Noise::ChannelResult& c : r.channels) {
        for (const double v : {c.mean, c.sd, c.whiteNoise.value, c.biasInstability.value, c.randomWalk.value,
                               c.biasRawMinimum, c.biasTauS, c.driftDegPerMin, c.driftStdErrDegPerMin,
                               c.spectrum.floor}) {
            if (!std::isfinite(v))
                return false;
        }
        for (const Noise::AdevPoint& p : c.adev) {
            if (!std::isfinite(p.dev) || !std::isfinite(p.lo) || !std::isfinite(p.hi))
                return false;
        }
        for (const double a : c.spectrum.asd) {
            if (!std::isfinite(a))
                return false;
        }
    }
    return true;
}

} // namespace

class TestNoise : public QObject
{
    Q_OBJECT

private slots:
    void nbs14_data();
    void nbs14();
    void interval_data();
    void interval();
    void angleIsPhase();
    void whiteNoiseDensity();
    void randomWalk();
    void constantChannel();
    void liveEqualsBatch_data();
    void liveEqualsBatch();
    void spanLimit_data();
    void spanLimit();
    void tool_data();
    void tool();

private:
    QTemporaryDir dir;
};

void TestNoise::nbs14_data()
{
    // Whole numbers and the unit they count: the octave grid sums them
    // exactly, past 2^53 too.
    QTest::addColumn<QVector<double>>("rate");
    QTest::addColumn<double>("unit");
    QTest::addColumn<qint64>("m");
    QTest::addColumn<double>("expected");
    QVector<double> thousand;
    qint64 n = 1234567890;
    for (int i = 0; i < 1000; ++i) {
        thousand.append(double(n));
        n = 16807 * n % 2147483647;
    }
    const double lcg = 1.0 / 2147483647.0;
    QTest::newRow("NBS14-1000 tau 1") << thousand << lcg << qint64(1) << 2.922319e-1;
    QTest::newRow("NBS14-1000 tau 10") << thousand << lcg << qint64(10) << 9.159953e-2;
    QTest::newRow("NBS14-1000 tau 100") << thousand << lcg << qint64(100) << 3.241343e-2;
    const QVector<double> ten{892, 809, 823, 798, 671, 644, 883, 903, 677};
    QTest::newRow("NBS14-10 tau 1") << ten << 1.0 << qint64(1) << 91.22945;
    QTest::newRow("NBS14-10 tau 2") << ten << 1.0 << qint64(2) << 85.95287;
}

void TestNoise::nbs14()
{
    QFETCH(QVector<double>, rate);
    QFETCH(double, unit);
    QFETCH(qint64, m);
    QFETCH(double, expected);
    // Rate data: the phase is their running sum from 0.
    std::vector<double> phase(std::size_t(rate.size() + 1), 0.0);
    std::vector<double> steps(phase.size(), 0.0);
    for (int i = 0; i < rate.size(); ++i) {
        steps[std::size_t(i + 1)] = steps[std::size_t(i)] + rate[i];
        phase[std::size_t(i + 1)] = phase[std::size_t(i)] + rate[i] * unit;
    }
    const qint64 points = qint64(phase.size());
    const double sum = Noise::Allan::secondDifferenceSum(phase.data(), points - 2 * m, m);
    const Noise::AdevPoint p = Noise::Allan::point(m, points - 2 * m, sum, points, 1.0, 1.0);
    QVERIFY2(std::abs(p.dev / expected - 1.0) < 1e-4, qPrintable(QString::number(p.dev, 'g', 8)));
    // The octave grid gives the same at its own factors.
    if ((m & (m - 1)) == 0) {
        const QVector<Noise::AdevPoint> grid = Noise::Allan::octaves(steps.data(), points, rate.size(), 1.0, unit);
        const auto at = std::find_if(grid.cbegin(), grid.cend(), [m](const Noise::AdevPoint& q) { return q.m == m; });
        QVERIFY(at != grid.cend());
        QVERIFY(std::abs(at->dev / expected - 1.0) < 1e-4);
    }
}

void TestNoise::interval_data()
{
    // An hour at the full rate, white FM: SP 1065's Table 5 gives about 5400
    // degrees of freedom at 1 s, 52 at 100 s and 3 at 1000 s, and the
    // chi-squared distribution the 68.3 % factors beside them.
    QTest::addColumn<qint64>("m");
    QTest::addColumn<double>("edf");
    QTest::addColumn<double>("lo");
    QTest::addColumn<double>("hi");
    QTest::addColumn<double>("edfSpread"); // how closely the note rounds it
    QTest::newRow("tau 1 s") << qint64(606) << 5400.0 << 0.990 << 1.010 << 0.02;
    QTest::newRow("tau 100 s") << qint64(60630) << 52.0 << 0.91 << 1.11 << 0.02;
    QTest::newRow("tau 1000 s") << qint64(606300) << 3.0 << 0.77 << 1.77 << 0.5;
}

void TestNoise::interval()
{
    QFETCH(qint64, m);
    QFETCH(double, edf);
    QFETCH(double, lo);
    QFETCH(double, hi);
    QFETCH(double, edfSpread);
    const qint64 points = 2182700; // an hour at 606.3 Hz
    QVERIFY2(std::abs(Noise::Allan::edfWhiteFm(points, m) - edf) < edfSpread * std::max(edf, 1.0),
             qPrintable(QString::number(Noise::Allan::edfWhiteFm(points, m))));
    double low = 0.0;
    double high = 0.0;
    Noise::Allan::confidenceInterval(1.0, Noise::Allan::edfWhiteFm(points, m), low, high);
    QVERIFY2(std::abs(low - lo) < 0.03 && std::abs(high - hi) < 0.03,
             qPrintable(QStringLiteral("[%1, %2]").arg(low).arg(high)));
}

void TestNoise::angleIsPhase()
{
    // A yaw turning at 1°/s through ±180° many times over, with white phase
    // noise of ±0.5°: treated as phase, its deviation is sqrt(3)·0.5°/tau
    // (white PM) and its drift 60 °/min. Read as rate, or wrapped wrongly,
    // both would be far off.
    std::mt19937 random(7);
    const double rate = 100.0;
    const Noise::Span span = makeSpan(40000, rate, [&](int c, qint64 i) {
        return c < 3 ? wrapped(i + (random() % 2 ? 50 : -50)) : 0;
    });
    const Noise::Result r = Noise::analyse(span);
    const Noise::ChannelResult& yaw = r.channels[0];
    QVERIFY(std::abs(yaw.driftDegPerMin - 60.0) < 3 * yaw.driftStdErrDegPerMin + 1e-9);
    for (const Noise::AdevPoint& p : yaw.adev) {
        const double expected = std::sqrt(3.0) * 0.5 / p.tauS;
        QVERIFY2(std::abs(p.dev / expected - 1.0) < 0.05, qPrintable(QString::number(p.tauS)));
    }
    // A steady turn alone leaves no second difference, wrap or not.
    const Noise::Span steady = makeSpan(5000, rate, [](int c, qint64 i) { return c == 0 ? wrapped(17000 + i) : 0; });
    const Noise::ChannelResult still = Noise::analyse(steady).channels[0];
    for (const Noise::AdevPoint& p : still.adev)
        QCOMPARE(p.dev, 0.0);
    QVERIFY(std::abs(still.driftDegPerMin - 0.01 * rate * 60.0) < 1e-9);
}

void TestNoise::whiteNoiseDensity()
{
    // White noise of sigma mg at the full rate: N = sigma / sqrt(fs)
    // two-sided, the one-sided Welch density 2 sigma^2 / fs, its ASD floor
    // sqrt(2) N. The 1 mg rounding adds 1/12 mg^2 of its own.
    std::mt19937 random(3);
    std::normal_distribution<double> gauss(0.0, 20.0);
    const double fs = Noise::FullRateHz;
    const Noise::Span span = makeSpan(400000, fs, [&](int, qint64) { return std::lround(gauss(random)); });
    const Noise::Result r = Noise::analyse(span);
    const double sigma = std::sqrt(400.0 + 1.0 / 12.0);
    const double n = sigma / std::sqrt(fs) * 1000.0;
    for (int c = 3; c < Noise::Channels; ++c) {
        const Noise::ChannelResult& x = r.channels[std::size_t(c)];
        QVERIFY(x.whiteNoise.valid && !x.whiteNoise.extrapolated);
        QVERIFY2(std::abs(x.whiteNoise.value / n - 1.0) < 0.04, qPrintable(QString::number(x.whiteNoise.value)));
        QVERIFY2(std::abs(x.spectrum.floor / (std::sqrt(2.0) * n) - 1.0) < 0.03,
                 qPrintable(QString::number(x.spectrum.floor)));
        double power = 0.0;
        int bins = 0;
        for (int k = 1; k + 1 < x.spectrum.asd.size(); ++k, ++bins)
            power += x.spectrum.asd[k] * x.spectrum.asd[k] / 1e6;
        QVERIFY(std::abs(power / bins / (2.0 * sigma * sigma / fs) - 1.0) < 0.02);
        QVERIFY(std::abs(x.sd / sigma - 1.0) < 0.01);
        QVERIFY(!x.atResolutionLimit);
    }
}

void TestNoise::randomWalk()
{
    // White noise N = 2 mg·√s plus a rate random walk K = 0.35 mg/√s at
    // 100 Hz: K is the +1/2 line at 3 s (a factor sqrt(3) wrong otherwise),
    // N the -1/2 line at 1 s, B about their crossing over 0.664.
    std::mt19937 random(5);
    std::normal_distribution<double> gauss(0.0, 1.0);
    const double fs = 100.0;
    const double n = 2.0;
    const double k = 0.35;
    std::array<double, Noise::Channels> walk{};
    const Noise::Span span = makeSpan(400000, fs, [&](int c, qint64) {
        walk[std::size_t(c)] += k / std::sqrt(fs) * gauss(random);
        return std::lround(walk[std::size_t(c)] + n * std::sqrt(fs) * gauss(random));
    });
    const Noise::Result r = Noise::analyse(span);
    for (int c = 3; c < Noise::Channels; ++c) {
        const Noise::ChannelResult& x = r.channels[std::size_t(c)];
        QVERIFY(x.randomWalk.valid && x.whiteNoise.valid && x.biasInstability.valid);
        QVERIFY2(std::abs(x.randomWalk.value / (k * 1000.0) - 1.0) < 0.3, qPrintable(QString::number(x.randomWalk.value)));
        QCOMPARE(x.randomWalk.extrapolated, x.randomWalk.fitFromTauS > 3.0 || x.randomWalk.fitToTauS < 3.0);
        QVERIFY(std::abs(x.whiteNoise.value / (n * 1000.0) - 1.0) < 0.05);
        QCOMPARE(x.biasInstability.value, x.biasRawMinimum / 0.664);
        QVERIFY(x.biasTauS > 3.0 && x.biasTauS < 100.0);
    }
}

void TestNoise::constantChannel()
{
    const Noise::Span span = makeSpan(1000, Noise::FullRateHz, [](int c, qint64) { return c < 3 ? 9000 : -1000; });
    const Noise::Result r = Noise::analyse(span);
    QVERIFY(allFinite(r));
    for (const Noise::ChannelResult& c : r.channels) {
        QCOMPARE(c.sd, 0.0);
        QVERIFY(c.atResolutionLimit);
        QVERIFY(!c.whiteNoise.valid && !c.randomWalk.valid && !c.biasInstability.valid);
        for (const Noise::AdevPoint& p : c.adev)
            QVERIFY(p.dev == 0.0 && p.lo == 0.0 && p.hi == 0.0);
    }
    QJsonParseError error{};
    const QJsonDocument json = QJsonDocument::fromJson(Noise::toJson(r, QStringLiteral("f.csv"), 0.0).toJson(), &error);
    QCOMPARE(error.error, QJsonParseError::NoError);
    QCOMPARE(json.object()[QStringLiteral("channels")].toArray().size(), Noise::Channels);
    for (const QString& text : {Noise::tabSeparated(r), Noise::textTable(r)})
        QVERIFY(!text.contains(QLatin1String("nan"), Qt::CaseInsensitive) && !text.contains(QLatin1String("inf")));
}

void TestNoise::liveEqualsBatch_data()
{
    // Still: the batch sums the phase modulo 2^32. Full scale: second
    // differences past 2^31 and sums past 2^53, summed in double and again
    // exactly where they lose digits.
    QTest::addColumn<qint64>("records");
    QTest::addColumn<int>("spread");
    QTest::newRow("still") << qint64(5000) << 200;
    QTest::newRow("full scale") << qint64(160000) << 65536;
}

void TestNoise::liveEqualsBatch()
{
    QFETCH(qint64, records);
    QFETCH(int, spread);
    std::mt19937 random(11);
    Noise::LiveAllan live;
    for (qint64 i = 0; i < records; ++i) {
        std::array<qint16, Noise::Channels> raw{};
        for (int c = 0; c < Noise::Channels; ++c)
            raw[std::size_t(c)] = qint16(c < 3 ? wrapped(17900 + 3 * i + int(random() % 41) - 20)
                                               : int(random() % spread) - spread / 2);
        live.append(raw, 1700000000000 + i * 10, i % 1000 == 999);
    }
    QCOMPARE(live.size(), records);
    const Noise::Span span = live.span();
    QCOMPARE(span.lostFrames, records / 1000);
    QCOMPARE(span.rateHz, 100.0);
    const Noise::Result batch = Noise::analyse(span);
    std::array<QVector<Noise::AdevPoint>, Noise::Channels> kept;
    for (int c = 0; c < Noise::Channels; ++c) {
        kept[std::size_t(c)] = live.adev(c, span.rateHz);
        const QVector<Noise::AdevPoint>& b = batch.channels[std::size_t(c)].adev;
        QCOMPARE(kept[std::size_t(c)].size(), b.size());
        QVERIFY(b.constLast().m <= records / 4 && 2 * b.constLast().m > records / 4);
        for (int k = 0; k < b.size(); ++k) {
            QCOMPARE(kept[std::size_t(c)][k].n, b[k].n);
            QCOMPARE(kept[std::size_t(c)][k].dev, b[k].dev);
        }
    }
    QCOMPARE(Noise::analyse(span, &kept).channels[3].whiteNoise.value, batch.channels[3].whiteNoise.value);
    live.clear();
    QCOMPARE(live.size(), qint64(0));
}

void TestNoise::spanLimit_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("kind");
    QTest::addColumn<double>("value"); // seconds, or ms of the day
    QTest::newRow("time of day") << "14:07:09" << int(Noise::SpanLimit::Kind::TimeOfDay) << 50829000.0;
    QTest::newRow("with ms") << "14:07:09.25" << int(Noise::SpanLimit::Kind::TimeOfDay) << 50829250.0;
    QTest::newRow("seconds") << "12.5" << int(Noise::SpanLimit::Kind::Seconds) << 12.5;
    QTest::newRow("hour 24") << "24:00:00" << -1 << 0.0;
    QTest::newRow("negative") << "-3" << -1 << 0.0;
    QTest::newRow("word") << "soon" << -1 << 0.0;
}

void TestNoise::spanLimit()
{
    QFETCH(QString, text);
    QFETCH(int, kind);
    QFETCH(double, value);
    Noise::SpanLimit limit;
    QString error;
    QCOMPARE(Noise::SpanLimit::parse(text, limit, error), kind >= 0);
    QCOMPARE(error.isEmpty(), kind >= 0);
    if (kind < 0)
        return;
    QCOMPARE(int(limit.kind), kind);
    QCOMPARE(limit.kind == Noise::SpanLimit::Kind::Seconds ? limit.seconds : double(limit.msOfDay), value);
}

void TestNoise::tool_data()
{
#ifndef IMU_NOISE_PATH
    QSKIP("imu-noise is not built");
#endif
    QVERIFY(dir.isValid());
    // A timed recording: 3000 records 10 ms apart from 23:59:50 at UTC+1,
    // index 5 lost at record 1000; still, with noise on the accelerations.
    QByteArray csv(RecordCsv::Header);
    const QDateTime start(QDate(2026, 3, 5), QTime(23, 59, 50), Qt::OffsetFromUTC, 3600);
    std::mt19937 random(2);
    for (int i = 0; i < 3000; ++i) {
        const UART_RCV record{quint8(i < 1000 ? i : i + 1), 100, 0, 0, qint16(random() % 9), 0, -1000};
        RecordCsv::appendRow(csv, start.addMSecs(10 * i).toString(Qt::ISODateWithMs).toLatin1(), record);
    }
    QFile file(dir.filePath(QStringLiteral("still.csv")));
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(csv) == csv.size());
    file.close();
    QFile bad(dir.filePath(QStringLiteral("bad.csv")));
    QVERIFY(bad.open(QIODevice::WriteOnly) && bad.write("hello, world\n") > 0);
    bad.close();

    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<qint64>("records"); // with --json; -1 otherwise
    QTest::addColumn<QString>("says");   // on standard error, or in the table
    const QString still = file.fileName();
    QTest::newRow("table") << QStringList{still} << 0 << qint64(-1) << "x_mg";
    QTest::newRow("json") << QStringList{"--json", still} << 0 << qint64(3000) << "";
    QTest::newRow("seconds") << QStringList{"--json", "--from", "5", "--to", "14.99", still} << 0 << qint64(1000) << "";
    QTest::newRow("across midnight") << QStringList{"--json", "--from", "00:00:00", "--to", "00:00:19.99", still}
                                     << 0 << qint64(2000) << "";
    QTest::newRow("too short") << QStringList{"--from", "1", "--to", "1.5", still} << 2 << qint64(-1) << "at least 100";
    QTest::newRow("backwards") << QStringList{"--from", "20", "--to", "10", still} << 2 << qint64(-1) << "ends before";
    QTest::newRow("bad file") << QStringList{bad.fileName()} << 2 << qint64(-1) << "bad.csv:1: ";
    QTest::newRow("missing file") << QStringList{dir.filePath("none.csv")} << 2 << qint64(-1) << "none.csv";
    QTest::newRow("bad argument") << QStringList{"--bogus", still} << 2 << qint64(-1) << "--help";
    QTest::newRow("bad limit") << QStringList{"--from", "noon", still} << 2 << qint64(-1) << "--from";
#ifdef IMU_SIM_PATH
    const QString capture = dir.filePath(QStringLiteral("capture.bin"));
    QCOMPARE(QProcess::execute(QStringLiteral(IMU_SIM_PATH), {"--count", "2000", "--out", capture}), 0);
    QTest::newRow("raw capture") << QStringList{"--json", capture} << 0 << qint64(2000) << "";
    QTest::newRow("capture by time of day") << QStringList{"--from", "10:00:00", capture} << 2 << qint64(-1) << "host_time";
#endif
}

void TestNoise::tool()
{
#ifdef IMU_NOISE_PATH
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(qint64, records);
    QFETCH(QString, says);
    QProcess tool;
    tool.start(QStringLiteral(IMU_NOISE_PATH), arguments);
    QVERIFY(tool.waitForFinished(60000));
    const QByteArray out = tool.readAllStandardOutput();
    const QString err = QString::fromUtf8(tool.readAllStandardError());
    QCOMPARE(tool.exitCode(), status);
    QVERIFY2(says.isEmpty() || err.contains(says) || QString::fromUtf8(out).contains(says, Qt::CaseInsensitive),
             qPrintable(err));
    if (records < 0)
        return;
    const QJsonObject top = QJsonDocument::fromJson(out).object();
    for (const char* key : {"file", "records", "lost_frames", "rate_hz", "duration_s", "seconds_reading",
                            "seconds_analysing", "channels"})
        QVERIFY2(top.contains(QLatin1String(key)), key);
    QCOMPARE(qint64(top["records"].toDouble()), records);
    const QJsonArray channels = top["channels"].toArray();
    QCOMPARE(channels.size(), Noise::Channels);
    QCOMPARE(channels[0].toObject()["name"].toString(), QStringLiteral("yaw_deg"));
    QVERIFY(channels[0].toObject().contains(QLatin1String("drift_deg_per_min")));
    const QJsonObject z = channels[5].toObject();
    QCOMPARE(z["name"].toString(), QStringLiteral("z_mg"));
    for (const char* key : {"unit", "mean", "sd", "adev", "white_noise", "bias_instability", "random_walk",
                            "asd_floor", "at_resolution_limit", "psd"})
        QVERIFY2(z.contains(QLatin1String(key)), key);
    for (const char* key : {"m", "tau_s", "n", "dev", "lo", "hi"})
        QVERIFY2(z["adev"].toArray().first().toObject().contains(QLatin1String(key)), key);
    QVERIFY(z["bias_instability"].toObject().contains(QLatin1String("raw_minimum")));
    if (arguments.size() == 2 && arguments.constLast().endsWith(QLatin1String("still.csv"))) {
        QCOMPARE(top["lost_frames"].toDouble(), 1.0);
        QCOMPARE(top["rate_hz"].toDouble(), 100.0);
        QCOMPARE(z["mean"].toDouble(), -1000.0);
    }
#endif
}

QTEST_GUILESS_MAIN(TestNoise)
#include "tst_noise.moc"
