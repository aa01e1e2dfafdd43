// SPDX-License-Identifier: GPL-3.0-or-later
// Measures how closely imu-sim --replay keeps to a recording's host_time:
// writes a recording at 100 Hz whose host_time jitters like a host's reads
// (a few milliseconds late, now and then two frames in one read), replays it
// into a pipe at the given speed, and compares each frame's arrival with
// its row's instant. Prints figures only.

#include "motion.h"
#include "parser.h"
#include "recordcsv.h"
#include "recordformat.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

namespace {

constexpr double FramesPerSecond = 100.0;
// A host reads a frame up to this late; one read in PairEvery holds two.
constexpr int ReadJitterMs = 3;
constexpr int PairEvery = 50;
// Frames at each end of the run whose mean error tells the drift.
constexpr std::size_t DriftFrames = 1000;

// The recording, and each row's instant in ms from the first.
std::vector<qint64> writeRecording(const QString& path, int seconds)
{
    BoardMotion motion(1);
    SeededRandom jitter(2);
    QByteArray csv = RecordCsv::Header;
    std::vector<qint64> instants;
    const QDateTime start = QDateTime::fromString("2026-12-08T06:06:27.924+01:00", Qt::ISODateWithMs);
    const int rows = int(seconds * FramesPerSecond);
    for (int i = 0; i < rows; ++i) {
        const double sent = i / FramesPerSecond * 1000.0;
        qint64 read = qint64(sent) + qint64(jitter.next() % (ReadJitterMs + 1));
        // The host's read of two frames at once: this one waits for the next.
        if (i % PairEvery == 0)
            read = qint64(sent + 1000.0 / FramesPerSecond);
        if (!instants.empty())
            read = std::max(read, instants.back());
        instants.push_back(read);
        UART_RCV record = motion.sample(i / FramesPerSecond);
        record.index = quint8(i);
        RecordFormat::remap(record);
        RecordCsv::appendRow(csv, start.addMSecs(read).toString(Qt::ISODateWithMs).toLatin1(), record);
    }
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(csv) != csv.size())
        return {};
    return instants;
}

double percentile(std::vector<double> values, double p)
{
    std::sort(values.begin(), values.end());
    return values[std::size_t(p * double(values.size() - 1))];
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: replay-pacing IMU_SIM [SECONDS] [SPEED]\n");
        return 2;
    }
    const int seconds = argc > 2 ? QByteArray(argv[2]).toInt() : 600;
    const double speed = argc > 3 ? QByteArray(argv[3]).toDouble() : 10.0;
    QTemporaryDir dir;
    const QString path = dir.filePath("recording.csv");
    const std::vector<qint64> instants = writeRecording(path, seconds);
    if (instants.empty()) {
        std::fprintf(stderr, "replay-pacing: cannot write %s\n", qPrintable(path));
        return 1;
    }

    QProcess sim;
    sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    sim.start(QString::fromLocal8Bit(argv[1]),
              {"--replay", path, "--out", "-", "--speed", QString::number(speed)});
    Parser parser;
    QElapsedTimer clock;
    std::vector<double> arrivals; // ms from the first frame's arrival
    arrivals.reserve(instants.size());
    QObject::connect(&parser, &Parser::dataReady, [&](UART_RCV&) {
        if (!clock.isValid())
            clock.start();
        arrivals.push_back(double(clock.nsecsElapsed()) / 1e6);
    });
    while (sim.state() != QProcess::NotRunning || sim.bytesAvailable() > 0) {
        if (sim.bytesAvailable() == 0)
            sim.waitForReadyRead(1000);
        parser.parse(sim.readAll());
    }
    if (arrivals.size() != instants.size()) {
        std::fprintf(stderr, "replay-pacing: %zu of %zu frames arrived\n", arrivals.size(), instants.size());
        return 1;
    }

    // Errors against the rows' instants, from the replay's start; that start
    // is the median offset, since the first frame's own arrival carries the
    // latency of a process just started.
    std::vector<double> errors;
    errors.reserve(arrivals.size());
    for (std::size_t i = 0; i < arrivals.size(); ++i)
        errors.push_back(arrivals[i] - double(instants[i] - instants[0]) / speed);
    const double offset = percentile(errors, 0.5);
    std::vector<double> magnitudes;
    for (double& e : errors)
        magnitudes.push_back(std::fabs(e -= offset));
    // Drift: the mean error of the last stretch against the first.
    const std::size_t stretch = std::min<std::size_t>(errors.size() / 2, DriftFrames);
    double early = 0, late = 0;
    for (std::size_t i = 0; i < stretch; ++i) {
        early += errors[i] / double(stretch);
        late += errors[errors.size() - 1 - i] / double(stretch);
    }
    const double expected = double(instants.back() - instants.front()) / speed;
    const double elapsed = arrivals.back() - arrivals.front();
    std::printf("replay of %d s at %.0f Hz (%zu rows, host_time with 0-%d ms of read jitter and a read of two "
                "frames every %d) at speed %g into a pipe:\n",
                seconds, FramesPerSecond, instants.size(), ReadJitterMs, PairEvery, speed);
    std::printf("  elapsed %.3f s for %.3f s of host_time: %+.3f ms (%+.1f ppm); drift from the first %zu "
                "frames to the last %zu: %+.3f ms\n",
                elapsed / 1000.0, expected / 1000.0, elapsed - expected, (elapsed - expected) / expected * 1e6,
                stretch, stretch, late - early);
    std::printf("  each frame's arrival against its row's instant: |error| median %.3f ms, 99th percentile "
                "%.3f ms, max %.3f ms (first frame %+.3f ms)\n",
                percentile(magnitudes, 0.5), percentile(magnitudes, 0.99),
                *std::max_element(magnitudes.begin(), magnitudes.end()), errors.front());
    return 0;
}
