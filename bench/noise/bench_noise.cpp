// SPDX-License-Identifier: GPL-3.0-or-later
// Synthetic still boards at the link's full rate (white noise and a rate
// random walk on the accelerations, a drifting noisy yaw), analysed as the
// tool and the window do; prints the times, and writes one hour for NumPy
// (raw int16 channels and our deviations) and as a CSV for imu-noise.
//   imu_bench_noise FOLDER

#include "allan.h"
#include "noiseanalysis.h"
#include "recordcsv.h"
#include "spectrum.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QTextStream>

#include <cmath>
#include <cstdio>
#include <ctime>
#include <random>
#include <thread>

namespace {

constexpr int Repeats = 3;

Noise::Span still(double hours)
{
    const qint64 n = std::llround(hours * 3600.0 * Noise::FullRateHz);
    Noise::Span span;
    std::mt19937_64 random(1);
    std::normal_distribution<double> gauss(0.0, 1.0);
    const double sigma = 2.0;   // mg a sample: N = 81 µg/√Hz
    const double walk = 0.02 / std::sqrt(Noise::FullRateHz); // K = 20 µg/√s
    for (int c = 0; c < Noise::Channels; ++c) {
        std::vector<qint16>& v = span.raw[std::size_t(c)];
        v.resize(std::size_t(n));
        double w = 0.0;
        double angle = 17000.0;
        for (qint64 i = 0; i < n; ++i) {
            if (Noise::isAngle(c)) {
                angle += 0.4 * 100.0 / 60.0 / Noise::FullRateHz; // 0.4 °/min, across ±180°
                long a = std::lround(angle + 3.0 * gauss(random));
                a = ((a + 18000) % 36000 + 36000) % 36000 - 18000;
                v[std::size_t(i)] = qint16(a);
            } else {
                w += walk * gauss(random);
                v[std::size_t(i)] = qint16(std::lround((c == 5 ? -1000.0 : 0.0) + w + sigma * gauss(random)));
            }
        }
    }
    return span;
}

double processCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// The best wall time of a few runs; cpu, when given, gets that run's
// processor time over all threads, which other load on the machine
// inflates less than the wall time.
template<typename Work>
double bestSeconds(Work work, double* cpu = nullptr, int repeats = Repeats)
{
    double best = 1e9;
    for (int i = 0; i < repeats; ++i) {
        const double cpuStart = processCpuSeconds();
        QElapsedTimer t;
        t.start();
        work();
        const double wall = double(t.nsecsElapsed()) / 1e9;
        if (wall < best && cpu)
            *cpu = processCpuSeconds() - cpuStart;
        best = std::min(best, wall);
    }
    return best;
}

// The six channels' phase, built and summed on this thread alone.
double allanOneThread(const Noise::Span& span, std::array<QVector<Noise::AdevPoint>, Noise::Channels>& out, double* cpu)
{
    return bestSeconds([&] {
        std::vector<double> x;
        for (int c = 0; c < Noise::Channels; ++c) {
            const std::vector<qint16>& raw = span.raw[std::size_t(c)];
            const qint64 n = qint64(raw.size());
            if (Noise::isAngle(c)) {
                x.resize(std::size_t(n));
                x[0] = raw[0];
                for (qint64 i = 1; i < n; ++i)
                    x[std::size_t(i)] = x[std::size_t(i - 1)] + Noise::unwrapStep(raw[std::size_t(i - 1)], raw[std::size_t(i)]);
            } else {
                x.resize(std::size_t(n + 1));
                x[0] = 0.0;
                for (qint64 i = 0; i < n; ++i)
                    x[std::size_t(i + 1)] = x[std::size_t(i)] + raw[std::size_t(i)];
            }
            out[std::size_t(c)] = Noise::Allan::octaves(x.data(), qint64(x.size()), n, span.rateHz,
                                                        Noise::isAngle(c) ? 0.01 : 1.0 / span.rateHz);
        }
    }, cpu);
}

void report(const char* name, double hours, bool writeData, const QString& folder)
{
    const Noise::Span span = still(hours);
    const qint64 n = span.size();
    std::printf("%s: %lld records x 6 channels at %.2f Hz\n", name, static_cast<long long>(n), span.rateHz);

    Noise::Result result;
    double cpu = 0.0;
    const double all = bestSeconds([&] { result = Noise::analyse(span); }, &cpu);
    std::printf("  whole analysis, six channels on %u threads: %.3f s wall, %.3f s of processor time\n",
                std::max(1u, std::thread::hardware_concurrency()), all, cpu);
    std::array<QVector<Noise::AdevPoint>, Noise::Channels> adev;
    const double allan = allanOneThread(span, adev, &cpu);
    std::printf("  Allan deviation alone, six channels on one thread: %.3f s (%.1f ms a channel, %d octaves; "
                "%.3f s of processor time)\n", allan, allan / 6 * 1e3, adev[3].size(), cpu);
    std::vector<double> phase(std::size_t(n + 1), 0.0);
    for (qint64 i = 0; i < n; ++i)
        phase[std::size_t(i + 1)] = phase[std::size_t(i)] + span.raw[3][std::size_t(i)];
    const double welch = bestSeconds([&] { Noise::Welch::welch(phase.data(), n + 1, span.rateHz, 1000.0, QString()); });
    std::printf("  spectrum of one channel: %.1f ms (nperseg %d)\n", welch * 1e3, Noise::Welch::segmentLength(n));
    const double withLive = bestSeconds([&] { Noise::analyse(span, &adev); }, &cpu);
    std::printf("  analysis with the Allan sums kept live (spectrum, fits, statistics): %.3f s wall, %.3f s of processor time\n",
                withLive, cpu);
    const Noise::ChannelResult& x = result.channels[3];
    std::printf("  x_mg: N %.2f µg/√Hz, B %.2f µg at %.0f s, K %.2f µg/√s%s, ASD floor %.2f µg/√Hz; yaw drift %.4f ± %.4f °/min\n",
                x.whiteNoise.value, x.biasInstability.value, x.biasTauS, x.randomWalk.value,
                x.randomWalk.extrapolated ? " (extrapolated)" : "", x.spectrum.floor,
                result.channels[0].driftDegPerMin, result.channels[0].driftStdErrDegPerMin);
    if (!writeData)
        return;

    // LiveAllan: an hour appended record by record.
    Noise::LiveAllan live;
    QElapsedTimer t;
    t.start();
    for (qint64 i = 0; i < n; ++i) {
        std::array<qint16, Noise::Channels> record;
        for (int c = 0; c < Noise::Channels; ++c)
            record[std::size_t(c)] = span.raw[std::size_t(c)][std::size_t(i)];
        live.append(record, 0, false);
    }
    const double liveSeconds = double(t.nsecsElapsed()) / 1e9;
    std::printf("  LiveAllan: %.0f ns a record (six channels, all octaves), %.2f %% of one core at the full rate\n",
                liveSeconds / double(n) * 1e9, liveSeconds / double(n) * span.rateHz * 100.0);
    bool same = true;
    for (int c = 0; c < Noise::Channels; ++c) {
        const QVector<Noise::AdevPoint> kept = live.adev(c, span.rateHz);
        same = same && kept.size() == adev[std::size_t(c)].size();
        for (int k = 0; same && k < kept.size(); ++k)
            same = kept[k].dev == adev[std::size_t(c)][k].dev && kept[k].dev == result.channels[std::size_t(c)].adev[k].dev;
    }
    std::printf("  LiveAllan equals the batch estimator (phase in double and modulo 2^32): %s\n",
                same ? "yes, exactly" : "NO");

    QFile raw(folder + QStringLiteral("/hour.i16"));
    raw.open(QIODevice::WriteOnly);
    for (int c = 0; c < Noise::Channels; ++c)
        raw.write(reinterpret_cast<const char*>(span.raw[std::size_t(c)].data()), qint64(n * 2));
    QFile devs(folder + QStringLiteral("/hour-adev.txt"));
    devs.open(QIODevice::WriteOnly | QIODevice::Text);
    QTextStream out(&devs);
    out.setRealNumberPrecision(17);
    out << "rate " << span.rateHz << '\n';
    for (int c = 0; c < Noise::Channels; ++c) {
        for (const Noise::AdevPoint& p : adev[std::size_t(c)])
            out << c << ' ' << p.m << ' ' << p.dev << '\n';
    }

    // The same hour as a recording, 10 ms of host_time per record group of
    // six as the link delivers them.
    QFile csv(folder + QStringLiteral("/hour.csv"));
    csv.open(QIODevice::WriteOnly);
    csv.write(RecordCsv::Header);
    const QDateTime start(QDate(2026, 3, 5), QTime(9, 0), Qt::OffsetFromUTC, 3600);
    QByteArray rows;
    for (qint64 i = 0; i < n; ++i) {
        const qint64 ms = std::llround(double(i) * 1000.0 / span.rateHz);
        const UART_RCV record{quint8(i), span.raw[0][std::size_t(i)], span.raw[1][std::size_t(i)],
                              span.raw[2][std::size_t(i)], span.raw[3][std::size_t(i)],
                              span.raw[4][std::size_t(i)], span.raw[5][std::size_t(i)]};
        RecordCsv::appendRow(rows, start.addMSecs(ms).toString(Qt::ISODateWithMs).toLatin1(), record);
        if (rows.size() > (1 << 20)) {
            csv.write(rows);
            rows.clear();
        }
    }
    csv.write(rows);
}

} // namespace

int main(int argc, char* argv[])
{
    // Other work on the machine lengthens the wall times: say how much.
    QFile load(QStringLiteral("/proc/loadavg"));
    if (load.open(QIODevice::ReadOnly))
        std::printf("load average before: %s", load.readLine().constData());
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    report("one hour", 1.0, true, folder);
    report("ten hours", 10.0, false, folder);
    return 0;
}
