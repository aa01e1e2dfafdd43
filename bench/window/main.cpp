// SPDX-License-Identifier: GPL-3.0-or-later
// Long run of the monitor window: the real Widget, offscreen, with its six
// charts redrawing on their own timers, fed through a pseudo-terminal by a
// child process that plays the board. The feeder runs in its own process, so
// the CPU figures (getrusage of this process) are the window's alone.
//
//   bench_window console             the console's cap: memory and cost per line
//   bench_window paced SECONDS [shown]
//                                    CPU share of a fresh window at the link's rate,
//                                    then (unless "shown") minimized and hidden
//                                    (run.sh runs it offscreen at 1x and 2x, under
//                                    Xvfb and under a headless Wayland compositor)
//   bench_window longrun N SECONDS   cost per record and RSS up to N records fed
//                                    as fast as the window takes them, then the
//                                    CPU share at the link's rate after them
//   bench_window recording SECONDS   CPU share at the link's rate without and
//                                    with a recording (to a file in a temporary
//                                    home's Documents), SECONDS each in turns,
//                                    after a warm-up, and what syncing it costs
//   bench_window linkwatch           what watching the link adds to a record
//   bench_window history SECONDS     an hour of history: bytes per record kept,
//                                    the six charts' redraw looking back at 8 s,
//                                    10 minutes and the hour, and the CPU share
//                                    at the link's rate with the history's
//                                    statistics and read-outs drawn and without,
//                                    SECONDS each in turns
//   bench_window hour FILE           writes an hour's recording at the link's rate
//   bench_window viewer FILE         opens it as imu-monitor FILE does: the time
//                                    to read it and to show it, and peak RSS
//   bench_window playback FILE [SECONDS [shown]]
//                                    plays it in the viewer at 10x and at 100x for
//                                    SECONDS each (default 10): the speed achieved
//                                    and the CPU share; then the GUI thread's time
//                                    of random seeks, each with its redraw; "shown"
//                                    then plays on at 10x with the attitude window
//                                    open for SECONDS, to be looked at
//   bench_window attitude SECONDS    CPU share at the link's rate with the attitude
//                                    window closed and open, SECONDS each in turns,
//                                    after a warm-up; then the time of one attitude
//                                    frame at the window's default size
//   bench_window noise SECONDS       CPU share at the link's rate with the Noise
//                                    window closed and open (analysing the records
//                                    since it opened, growing), SECONDS each in
//                                    turns, and the longest gap between two ticks
//                                    of the window's redraw; then what an hour of
//                                    records costs: the live Allan sums per record,
//                                    the span's copy on the window's thread and one
//                                    analysis on the worker
#include "attitudeview.h"
#include "chartgroup.h"
#include "frameencoder.h"
#include "highdpi.h"
#include "history.h"
#include "hostclock.h"
#include "linkwatch.h"
#include "loadedrecording.h"
#include "noiseanalysis.h"
#include "noisewindow.h"
#include "plotter.h"
#include "playback.h"
#include "playhead.h"
#include "pseudoterminal.h"
#include "recordcsv.h"
#include "viewerwindow.h"
#include "widget.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QComboBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QRandomGenerator>
#include <QPushButton>
#include <QSerialPort>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QWindow>
#include <qcustomplot.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <functional>
#include <utility>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// 115200 baud, 8-N-1: ten bits on the line per byte, 19 bytes per frame.
constexpr double LinkRecordsPerSecond = 115200.0 / 10.0 / 19.0;
constexpr qint64 SampleRecords = 10000;

// Record n of the stream. X and Y acceleration carry n in 15 bits each, so
// this process can tell how far the stream has come from the newest points
// of two charts; the angles and Z move like a board being handled.
UART_RCV record(qint64 n)
{
    UART_RCV r;
    r.index = quint8(n);
    r.angle1 = qint16(std::lround(9000.0 * std::sin(double(n) * 0.002)));
    r.angle2 = qint16(n % 36000 - 18000);
    r.angle3 = qint16((n * 7) % 18000 - 9000);
    r.accel1 = qint16(n & 0x7FFF);
    r.accel2 = qint16((n >> 15) & 0x7FFF);
    r.accel3 = qint16(1000 + (n * 13) % 41 - 20);
    return r;
}

// ---- the board, in a child process ---------------------------------------

struct Command
{
    enum Kind : int { Quit, Burst, Paced } kind;
    qint64 from;
    qint64 count;
};

[[noreturn]] void feederMain(PseudoTerminal& pty, int commandFd, int doneFd)
{
    Command command {};
    while (::read(commandFd, &command, sizeof command) == sizeof command
           && command.kind != Command::Quit) {
        const qint64 end = command.from + command.count;
        if (command.kind == Command::Burst) {
            // Large writes, as fast as the window drains the terminal.
            QByteArray chunk;
            for (qint64 n = command.from; n < end;) {
                chunk.clear();
                for (int k = 0; k < 3000 && n < end; ++k, ++n)
                    chunk += FrameEncoder::frame(record(n));
                if (!pty.write(chunk, 120000)) {
                    std::fprintf(stderr, "feeder: %s\n", qPrintable(pty.errorString()));
                    ::_exit(1);
                }
            }
        } else {
            // One frame per write on an absolute schedule at the link's rate.
            timespec start {};
            ::clock_gettime(CLOCK_MONOTONIC, &start);
            for (qint64 i = 0; i < command.count; ++i) {
                const double offset = double(i) / LinkRecordsPerSecond;
                timespec due = start;
                due.tv_sec += time_t(offset);
                due.tv_nsec += long((offset - std::floor(offset)) * 1e9);
                if (due.tv_nsec >= 1000000000L) {
                    due.tv_sec += 1;
                    due.tv_nsec -= 1000000000L;
                }
                ::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &due, nullptr);
                if (!pty.write(FrameEncoder::frame(record(command.from + i)), 120000))
                    ::_exit(1);
            }
        }
        const char done = 1;
        if (::write(doneFd, &done, 1) != 1)
            ::_exit(1);
    }
    ::_exit(0);
}

// ---- measuring this process ----------------------------------------------

double cpuSeconds()
{
    rusage usage {};
    ::getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double rssMiB()
{
    FILE* f = std::fopen("/proc/self/statm", "r");
    long pages = 0, resident = 0;
    if (f) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(f);
    }
    return double(resident) * double(::sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

QString count(qint64 n)
{
    // 10^k for exact powers of ten, the number otherwise.
    qint64 p = 1;
    for (int k = 0; k <= 18; ++k, p *= 10)
        if (p == n)
            return QString("1e%1").arg(k);
    return QString::number(n);
}

// ---- the window under test -------------------------------------------------

class Bench
{
public:
    Bench(PseudoTerminal& pty, int commandFd)
        : commandFd(commandFd)
        , window(nullptr, [path = pty.slavePath()] { return QList<PortEntry> {{path, "bench"}}; })
    {
        window.show();
        window.findChild<QPushButton*>("connect_button")->click();
        port = window.findChild<QSerialPort*>();
        if (!port || !port->isOpen()) {
            std::fprintf(stderr, "bench: could not open %s\n", qPrintable(pty.slavePath()));
            std::exit(1);
        }
        for (const char* name : {"x_acc_plotter", "y_acc_plotter"})
            progressGraphs.append(window.findChild<Plotter*>(name)->findChild<QCustomPlot*>()->graph(0));
        // Connected after the window's own slot, so it runs once each read has
        // gone through the whole path.
        QObject::connect(port, &QSerialPort::readyRead, [this] { noteProgress(); });
    }

    // Feeds records [from, from + n) as fast as the window takes them and
    // returns once the window has shown the last of them.
    struct Cost
    {
        double wallSeconds;
        double cpuSeconds;
    };
    Cost feed(Command::Kind kind, qint64 from, qint64 n)
    {
        const double cpu0 = cpuSeconds();
        QElapsedTimer wall;
        wall.start();
        const Command command {kind, from, n};
        if (::write(commandFd, &command, sizeof command) != sizeof command)
            std::exit(1);
        waitFor(from + n - 1);
        return {wall.nsecsElapsed() / 1e9, cpuSeconds() - cpu0};
    }

    // Feeds turns pairs of n records from fed on, each pair once without and
    // once with what setWith(true) switches on (and setWith(false) off
    // again), and sums each side: both see the same machine, whose other
    // processes come and go.
    std::pair<Cost, Cost> inTurns(qint64& fed, int turns, qint64 n, const std::function<void(bool)>& setWith)
    {
        Cost without {0, 0}, with {0, 0};
        for (int turn = 0; turn < 2 * turns; ++turn) {
            const bool on = turn % 2 == 1;
            if (on)
                setWith(true);
            const Cost cost = feed(Command::Paced, fed, n);
            fed += n;
            if (on)
                setWith(false);
            Cost& sum = on ? with : without;
            sum.wallSeconds += cost.wallSeconds;
            sum.cpuSeconds += cost.cpuSeconds;
        }
        return {without, with};
    }

    double idleShare(int ms)
    {
        const double cpu0 = cpuSeconds();
        QElapsedTimer wall;
        wall.start();
        QEventLoop loop;
        QTimer::singleShot(ms, &loop, &QEventLoop::quit);
        loop.exec();
        return (cpuSeconds() - cpu0) / (wall.nsecsElapsed() / 1e9);
    }

    qint64 lastSeen() const { return seen; }

    // Shows, minimizes or hides the window, and lets the window system
    // catch up.
    void setWindowState(const QString& state)
    {
        if (state == "minimized")
            window.showMinimized();
        else if (state == "hidden")
            window.hide();
        else
            window.showNormal();
        QElapsedTimer settle;
        settle.start();
        while (state == "shown" && !window.windowHandle()->isExposed() && settle.elapsed() < 5000)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        idleShare(500);
    }

    void clickRecord() { window.findChild<QPushButton*>("record_pb")->click(); }
    QWidget& widget() { return window; }
    void clickAttitude() { window.findChild<QPushButton*>("attitude_pb")->click(); }
    AttitudeView* attitudeView() { return window.findChild<AttitudeView*>(); }
    // The six charts' plots, not those of the tool windows.
    QList<QCustomPlot*> chartPlots()
    {
        QList<QCustomPlot*> plots;
        for (Plotter* chart : window.findChildren<Plotter*>())
            plots << chart->customPlot();
        return plots;
    }
    void clickNoise() { window.findChild<QPushButton*>("noise_pb")->click(); }
    NoiseWindow* noiseWindow() { return window.findChild<NoiseWindow*>(); }
    // The window's redraw tick: the timer at the charts' period.
    QTimer* redrawTick()
    {
        for (QTimer* timer : window.findChildren<QTimer*>(QString(), Qt::FindDirectChildrenOnly))
            if (timer->interval() == Plotter::RedrawPeriodMs)
                return timer;
        return nullptr;
    }

private:
    void noteProgress()
    {
        qint64 n = 0;
        for (int i = 0; i < progressGraphs.size(); ++i) {
            const auto data = progressGraphs[i]->data();
            if (data->isEmpty())
                return;
            n |= qint64((data->constEnd() - 1)->value) << (15 * i);
        }
        seen = n;
        if (loop && seen >= target)
            loop->quit();
    }

    void waitFor(qint64 last)
    {
        if (seen >= last)
            return;
        QEventLoop waiting;
        target = last;
        loop = &waiting;
        QTimer stuck;
        QObject::connect(&stuck, &QTimer::timeout, [&] {
            std::fprintf(stderr, "bench: stuck at record %lld waiting for %lld\n", seen, last);
            std::exit(1);
        });
        stuck.start(600000);
        waiting.exec();
        loop = nullptr;
    }

    int commandFd;
    Widget window;
    QSerialPort* port = nullptr;
    QList<QCPGraph*> progressGraphs;
    qint64 seen = -1;
    qint64 target = 0;
    QEventLoop* loop = nullptr;
};

void printCost(const char* what, qint64 n, const Bench::Cost& cost)
{
    std::printf("%-58s %8.2f us wall  %8.2f us CPU\n", what, cost.wallSeconds / double(n) * 1e6,
                cost.cpuSeconds / double(n) * 1e6);
}

void printShare(const char* what, const Bench::Cost& cost)
{
    std::printf("%-58s %6.1f %% of one core (%.1f s CPU in %.1f s)\n", what,
                cost.cpuSeconds / cost.wallSeconds * 100.0, cost.cpuSeconds, cost.wallSeconds);
}

int paced(Bench& bench, int seconds, bool shownOnly)
{
    const QString where = QString("%1, %2x").arg(QGuiApplication::platformName()).arg(qApp->devicePixelRatio());
    bench.setWindowState("shown");
    std::printf("%-58s %6.1f %% of one core\n", qPrintable("paced: idle, port open, no data (3 s, " + where + ")"),
                bench.idleShare(3000) * 100.0);
    const qint64 n = qint64(seconds * LinkRecordsPerSecond);
    qint64 fed = 0;
    // The window as the user sees it, then as nobody does: minimized, and
    // hidden, where nothing should be drawn at all.
    for (const char* state : {"shown", "minimized", "hidden"}) {
        bench.setWindowState(state);
        const Bench::Cost cost = bench.feed(Command::Paced, fed, n);
        fed += n;
        printShare(qPrintable(QString("paced: %1 (%2), %3 records/s for %4 s")
                                  .arg(state, where)
                                  .arg(LinkRecordsPerSecond, 0, 'f', 1)
                                  .arg(seconds)),
                   cost);
        if (shownOnly)
            break;
    }
    return 0;
}

int longrun(Bench& bench, qint64 total, int seconds)
{
    // The preload goes faster than any link, so the charts get the link's
    // time base instead of the wall clock: each record is 1/606 s after the
    // one before, and the charts hold what they would hold after that long.
    qint64 recordsFed = 0;
    bool replay = true;
    qint64 realOffsetMs = 0;
    QElapsedTimer realClock;
    // The window reads the clock once a record.
    Plotter::setClockSource([&]() -> qint64 {
        if (replay)
            return qint64(double(recordsFed++) * 1000.0 / LinkRecordsPerSecond);
        return realOffsetMs + realClock.elapsed();
    });

    QElapsedTimer all;
    all.start();
    qint64 fed = 0;
    auto sampleAt = [&](qint64 at) {
        if (fed < at) {
            bench.feed(Command::Burst, fed, at - fed);
            fed = at;
        }
        const Bench::Cost cost = bench.feed(Command::Burst, fed, SampleRecords);
        const QString what = fed == 0
            ? QString("longrun: cost per record, first %1 records").arg(count(SampleRecords))
            : QString("longrun: cost per record, %1 records after %2").arg(count(SampleRecords), count(fed));
        fed += SampleRecords;
        printCost(qPrintable(what), SampleRecords, cost);
        return cost;
    };
    auto rssAt = [&](qint64 at) {
        if (fed < at) {
            bench.feed(Command::Burst, fed, at - fed);
            fed = at;
        }
        std::printf("%-58s %8.1f MiB\n", qPrintable(QString("longrun: RSS after %1 records").arg(count(fed))),
                    rssMiB());
        std::fflush(stdout);
    };

    std::printf("%-58s %8.1f MiB\n", "longrun: RSS before the first record", rssMiB());
    const Bench::Cost first = sampleAt(0);
    rssAt(SampleRecords);
    rssAt(100000);
    const double rss5 = rssMiB();
    Bench::Cost last = first;
    for (qint64 at : {qint64(1000000), total}) {
        if (at <= fed || at > total)
            continue;
        last = sampleAt(at);
        rssAt(fed);
    }
    const double preloadSeconds = all.nsecsElapsed() / 1e9;
    std::printf("%-58s %8.1f s (%.0f records/s)\n",
                qPrintable(QString("longrun: %1 records fed in").arg(count(fed))), preloadSeconds,
                double(fed) / preloadSeconds);
    std::printf("%-58s %8.2f (target <= 1.2)\n", "longrun: cost ratio, last sample / first 1e4",
                (last.wallSeconds / first.wallSeconds));
    std::printf("%-58s %8.1f MiB (target <= 64)\n", "longrun: RSS growth from 1e5 records to the end",
                rssMiB() - rss5);

    // Back to real time, continuing the replayed time base.
    realOffsetMs = qint64(double(recordsFed) * 1000.0 / LinkRecordsPerSecond);
    realClock.start();
    replay = false;
    std::printf("%-58s %6.1f %% of one core\n", "longrun: idle after the preload, no data (3 s)",
                bench.idleShare(3000) * 100.0);
    const qint64 n = qint64(seconds * LinkRecordsPerSecond);
    const Bench::Cost cost = bench.feed(Command::Paced, fed, n);
    printShare(qPrintable(QString("longrun: after %1 records, %2 records/s for %3 s")
                              .arg(count(fed))
                              .arg(LinkRecordsPerSecond, 0, 'f', 1)
                              .arg(seconds)),
               cost);
    std::printf("%-58s %8.1f MiB\n", "longrun: RSS at the end", rssMiB());
    return 0;
}

// What the writer's sync once a second costs: a second's rows at the link's
// rate written, then fdatasync, on the disk the recordings go to.
void syncCost(const QString& folder, QByteArray& text)
{
    constexpr int Seconds = 20;
    HostClock clock;
    QFile sink(folder + "/synced.csv");
    if (!sink.open(QIODevice::WriteOnly))
        return;
    const qint64 rowsPerSecond = qint64(LinkRecordsPerSecond);
    double wallSum = 0, wallMax = 0;
    const double cpu0 = cpuSeconds();
    for (int second = 0; second < Seconds; ++second) {
        text.clear();
        for (qint64 i = 0; i < rowsPerSecond; ++i)
            RecordCsv::appendRow(text, clock.at(second * 1000 + i), record(i));
        sink.write(text);
        sink.flush();
        QElapsedTimer wall;
        wall.start();
        ::fdatasync(sink.handle());
        const double ms = wall.nsecsElapsed() / 1e6;
        wallSum += ms;
        wallMax = std::max(wallMax, ms);
        QThread::msleep(100); // the disk left alone a while, as between two syncs
    }
    std::printf("%-58s %8.2f ms mean, %.2f ms max (%lld KiB a second)\n",
                "recording: fdatasync of a second's rows, wall", wallSum / Seconds, wallMax,
                qint64(text.size() / 1024));
    std::printf("%-58s %8.2f %% of one core (rows made, written, synced)\n",
                "recording: CPU of writing and syncing at the link's rate", (cpuSeconds() - cpu0) / Seconds * 100.0);
}

int recording(Bench& bench, int seconds)
{
    // The console and the charts full, as in any run longer than a few seconds.
    qint64 fed = qint64(12 * LinkRecordsPerSecond);
    bench.feed(Command::Paced, 0, fed);
    // Without and with, in turns, so that both see the same machine: the
    // other processes on it come and go.
    constexpr int Turns = 4;
    const qint64 n = qint64(seconds * LinkRecordsPerSecond / Turns);
    const auto [plain, recorded] = bench.inTurns(fed, Turns, n, [&bench](bool) { bench.clickRecord(); });
    const QString rate = QString("%1 records/s for %2 s").arg(LinkRecordsPerSecond, 0, 'f', 1).arg(seconds);
    printShare(qPrintable("recording: none, " + rate), plain);
    printShare(qPrintable("recording: to a file, " + rate), recorded);
    const double added = recorded.cpuSeconds / recorded.wallSeconds - plain.cpuSeconds / plain.wallSeconds;
    std::printf("%-58s %+6.1f %% of one core (target <= 2)\n", "recording: what recording adds", added * 100.0);

    bench.idleShare(1000); // the files closed on the writer's thread
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation) + "/Telvorin IMU";
    const QFileInfoList files = QDir(folder).entryInfoList(QDir::Files);
    qint64 rows = 0;
    for (const QFileInfo& file : files) {
        QFile csv(file.filePath());
        if (csv.open(QIODevice::ReadOnly))
            rows += csv.readAll().count('\n') - 1;
    }
    std::printf("%-58s %8lld rows in %d files (%lld records recorded)\n", "recording: the files hold", rows,
                int(files.size()), n * Turns);

    // The same work without the noise of the rest: a row made and written.
    constexpr int Rows = 1000000;
    HostClock clock;
    QByteArray text;
    QFile sink(folder + "/rows.csv");
    if (!sink.open(QIODevice::WriteOnly)) {
        std::fprintf(stderr, "bench: cannot write %s\n", qPrintable(sink.fileName()));
        return 1;
    }
    const qint64 start = QDateTime::currentMSecsSinceEpoch();
    const double cpu0 = cpuSeconds();
    for (int i = 0; i < Rows; ++i) {
        RecordCsv::appendRow(text, clock.at(start + i * 2), record(i));
        if (text.size() > 64 * 1024) {
            sink.write(text);
            sink.flush();
            text.clear();
        }
    }
    const double perRow = (cpuSeconds() - cpu0) / Rows;
    std::printf("%-58s %8.2f us CPU (%.2f %% of one core at the link's rate)\n",
                "recording: cost per row, made and written", perRow * 1e6, perRow * LinkRecordsPerSecond * 100.0);
    syncCost(folder, text);
    return 0;
}

// An hour's recording at the link's rate, with host_time, as Record writes it.
int writeHour(const QString& path)
{
    QFile out(path);
    if (!out.open(QIODevice::WriteOnly)) {
        std::fprintf(stderr, "bench: cannot write %s\n", qPrintable(path));
        return 1;
    }
    const qint64 rows = qint64(3600 * LinkRecordsPerSecond);
    const qint64 start = QDateTime::currentMSecsSinceEpoch() - 3600 * 1000;
    HostClock clock;
    QByteArray text = RecordCsv::Header;
    for (qint64 n = 0; n < rows; ++n) {
        RecordCsv::appendRow(text, clock.at(start + qint64(double(n) * 1000.0 / LinkRecordsPerSecond)), record(n));
        if (text.size() > (1 << 20)) {
            out.write(text);
            text.clear();
        }
    }
    out.write(text);
    std::printf("%-58s %8lld rows, %.1f MiB\n", "viewer: an hour's recording", rows, out.size() / 1048576.0);
    return 0;
}

// What imu-monitor FILE does, timed: the file read into the viewer's store,
// then the viewer made, shown and drawn once.
int openInViewer(const QString& path, int argc, char** argv)
{
    QElapsedTimer clock;
    clock.start();
    QString error;
    std::unique_ptr<LoadedRecording> recording = LoadedRecording::load(path, error);
    if (!recording) {
        std::fprintf(stderr, "bench: %s\n", qPrintable(error));
        return 1;
    }
    const double readSeconds = clock.nsecsElapsed() / 1e9;
    const qint64 records = recording->history().size();
    const double rssRead = rssMiB();
    QApplication app(argc, argv);
    ViewerWindow viewer(std::move(recording));
    viewer.show();
    QCoreApplication::processEvents();
    viewer.grab();
    const double shownSeconds = clock.nsecsElapsed() / 1e9;
    rusage usage {};
    ::getrusage(RUSAGE_SELF, &usage);
    std::printf("%-58s %8.2f s (%lld records)\n", "viewer: the hour read", readSeconds, records);
    std::printf("%-58s %8.2f s (target <= 3)\n", "viewer: the hour read, shown and drawn", shownSeconds);
    std::printf("%-58s %8.1f MiB\n", "viewer: RSS once read", rssRead);
    std::printf("%-58s %8.1f MiB (target <= 250 MB, %.1f MiB)\n", "viewer: peak RSS of the process",
                usage.ru_maxrss / 1024.0, 250e6 / 1048576.0);
    return 0;
}

double threadCpuMs()
{
    timespec now {};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

// An hour's recording watched again: how fast the play head really goes at
// 10x and 100x, and how long a seek holds the GUI thread.
int playBack(const QString& path, int seconds, bool shown, int argc, char** argv)
{
    QString error;
    std::unique_ptr<LoadedRecording> recording = LoadedRecording::load(path, error);
    if (!recording) {
        std::fprintf(stderr, "bench: %s\n", qPrintable(error));
        return 1;
    }
    QApplication app(argc, argv);
    ViewerWindow viewer(std::move(recording));
    viewer.resize(1400, 900);
    viewer.show();
    QCoreApplication::processEvents();
    const History& history = viewer.recording().history();
    PlayHead* head = viewer.playback()->head();
    auto* speeds = viewer.findChild<QComboBox*>("speed_combobox");
    auto* play = viewer.findChild<QPushButton*>("play_pb");
    auto* achieved = viewer.findChild<QLabel*>("achieved_l");
    auto wait = [](double s) {
        QEventLoop loop;
        QTimer::singleShot(int(s * 1000), &loop, &QEventLoop::quit);
        loop.exec();
    };

    for (const char* speed : {"10×", "100×"}) {
        head->toFirst();
        speeds->setCurrentIndex(speeds->findText(QString::fromUtf8(speed)));
        wait(0.5);
        const double from = head->position();
        const double cpu0 = cpuSeconds();
        QElapsedTimer wall;
        wall.start();
        play->click();
        wait(seconds);
        const double advanced = head->position() - from;
        const double elapsed = wall.nsecsElapsed() / 1e6;
        const double cpu = cpuSeconds() - cpu0;
        const QString lastSecond = achieved->text();
        play->click();
        std::printf("%-58s %8.3f x over %d s (%s over the last second)\n",
                    qPrintable(QString("playback: achieved at %1, an hour's recording").arg(QString::fromUtf8(speed))),
                    advanced / elapsed, seconds, qPrintable(lastSecond));
        std::printf("%-58s %8.1f %% of one core\n",
                    qPrintable(QString("playback: CPU share playing at %1").arg(QString::fromUtf8(speed))),
                    100.0 * cpu / (elapsed / 1000.0));
    }

    // Each seek as the GUI thread does it: the search, the charts, bar and
    // read-out brought up to date, and all six drawn, in a view of 10 s that
    // pages to each new head and in the view of the whole hour.
    auto* charts = viewer.findChild<ChartGroup*>();
    QRandomGenerator random(24);
    for (const bool whole : {false, true}) {
        if (whole)
            charts->showAll();
        else
            charts->setView(history.firstTime() / 1000.0, history.firstTime() / 1000.0 + 10.0);
        // The new view drawn once first: that is the zoom's cost, not a seek's.
        for (int channel = 0; channel < History::Channels; ++channel)
            charts->chart(channel)->customPlot()->replot(QCustomPlot::rpImmediateRefresh);
        constexpr int Seeks = 200;
        double total = 0.0, worst = 0.0, cpuTotal = 0.0, cpuWorst = 0.0;
        for (int n = 0; n < Seeks; ++n) {
            const double to = history.firstTime() + random.bounded(1.0) * (history.lastTime() - history.firstTime());
            QElapsedTimer t;
            t.start();
            const double cpuFrom = threadCpuMs();
            head->seek(to);
            viewer.playback()->redraw();
            // What the charts' own tick then does, and their paint.
            for (int channel = 0; channel < History::Channels; ++channel) {
                QMetaObject::invokeMethod(charts->chart(channel), "realtimeDataSlot");
                charts->chart(channel)->customPlot()->repaint();
            }
            const double ms = t.nsecsElapsed() / 1e6;
            const double cpuMs = threadCpuMs() - cpuFrom;
            total += ms;
            worst = std::max(worst, ms);
            cpuTotal += cpuMs;
            cpuWorst = std::max(cpuWorst, cpuMs);
            QCoreApplication::processEvents();
        }
        // The thread's CPU time leaves out what other processes took.
        std::printf("%-58s %8.2f ms mean, %.2f ms worst of CPU (target < 20); wall %.2f ms mean, %.2f worst\n",
                    whole ? "playback: a random seek and its redraw, the hour in view"
                          : "playback: a random seek and its redraw, paging a 10 s view",
                    cpuTotal / Seeks, cpuWorst, total / Seeks, worst);
    }

    if (shown) {
        viewer.findChild<QPushButton*>("attitude_pb")->click();
        // Beside the viewer, where a desktop would place it.
        if (auto* attitudeWindow = viewer.findChild<QWidget*>("attitude_window"))
            attitudeWindow->move(viewer.frameGeometry().right() + 12, viewer.y());
        charts->setView(history.firstTime() / 1000.0, history.firstTime() / 1000.0 + 30.0);
        head->seek(history.firstTime() + 600000.0);
        speeds->setCurrentIndex(speeds->findText(QString::fromUtf8("10×")));
        play->click();
        std::printf("playback: shown, playing at 10x with the attitude window open\n");
        wait(seconds);
    }
    return 0;
}

// The records of an hour at the link's rate go through the window as fast
// as it takes them, on the link's time base, as in longrun.
int history(Bench& bench, int seconds)
{
    const qint64 hour = qint64(3600 * LinkRecordsPerSecond);
    const qint64 start = QDateTime::currentMSecsSinceEpoch() - 3600 * 1000;
    qint64 fed = 0;
    bool replay = true;
    qint64 realOffsetMs = 0;
    QElapsedTimer realClock;
    qint64 records = 0;
    Plotter::setClockSource([&]() -> qint64 {
        if (replay)
            return start + qint64(double(records++) * 1000.0 / LinkRecordsPerSecond);
        return realOffsetMs + realClock.elapsed();
    });

    const double rss0 = rssMiB();
    bench.feed(Command::Burst, 0, hour);
    fed = hour;
    std::printf("%-58s %8.1f MiB (%lld records)\n", "history: window's RSS growth over an hour of records",
                rssMiB() - rss0, hour);

    // The store on its own: its bytes and the cost of a record.
    {
        History alone;
        QVector<UART_RCV> some;
        for (int n = 0; n < 4096; ++n)
            some.append(record(n));
        QElapsedTimer t;
        t.start();
        for (qint64 n = 0; n < hour; ++n)
            alone.append(start + n * 1000 / 606, some.at(int(n % some.size())));
        const double appendNs = t.nsecsElapsed() / double(hour);
        std::printf("%-58s %8.1f B (target <= 64, aim < 50)\n", "history: bytes per record kept, an hour",
                    double(alone.bytesHeld()) / double(alone.size()));
        std::printf("%-58s %8.1f ns\n", "history: cost of a record kept", appendNs);
        t.restart();
        const qint64 last = alone.lastTime();
        for (int i = 0; i < 1000; ++i)
            for (int c = 0; c < History::Channels; ++c)
                alone.statistics(c, last - 8000 - i, last - i);
        std::printf("%-58s %8.2f us (%.2f %% of one core at 25 Hz)\n",
                    "history: statistics of the six over 8 s", t.nsecsElapsed() / 1000.0 / 1000.0,
                    t.nsecsElapsed() / 1000.0 / 1e9 * 25 * 100.0);
    }

    // The CPU share at the link's rate, history full: with what looking
    // back draws live (statistics, read-out) and without, in turns.
    realOffsetMs = start + qint64(double(records) * 1000.0 / LinkRecordsPerSecond);
    realClock.start();
    replay = false;
    QList<QCPAbstractItem*> drawn;
    for (QCustomPlot* plot : bench.chartPlots())
        for (int i = 0; i < plot->itemCount(); ++i)
            if (plot->item(i)->visible())
                drawn.append(plot->item(i));
    // Short turns: other processes on the machine come and go.
    constexpr int Turns = 10;
    const qint64 n = qint64(seconds * LinkRecordsPerSecond / Turns);
    const auto showDrawn = [&drawn](bool shown) {
        for (QCPAbstractItem* item : drawn)
            item->setVisible(shown);
    };
    showDrawn(false);
    const auto [without, with] = bench.inTurns(fed, Turns, n, showDrawn);
    const QString rate = QString("%1 records/s for %2 s").arg(LinkRecordsPerSecond, 0, 'f', 1).arg(seconds);
    printShare(qPrintable("history: live, statistics drawn, " + rate), with);
    printShare(qPrintable("history: live, nothing of it drawn, " + rate), without);
    std::printf("%-58s %+6.1f %% of one core (target <= 1)\n", "history: what drawing it live adds",
                (with.cpuSeconds / with.wallSeconds - without.cpuSeconds / without.wallSeconds) * 100.0);
    // The same without the machine's noise: a live redraw of the six, as
    // the tick does it, with and without what looking back draws.
    const QList<QCustomPlot*> livePlots = bench.chartPlots();
    for (const bool shown : {true, false}) {
        for (QCPAbstractItem* item : drawn)
            item->setVisible(shown);
        constexpr int Redraws = 200;
        QElapsedTimer t;
        t.start();
        for (int i = 0; i < Redraws; ++i)
            for (QCustomPlot* plot : livePlots)
                plot->replot(QCustomPlot::rpImmediateRefresh);
        const double ms = t.nsecsElapsed() / 1e6 / Redraws;
        std::printf("%-58s %8.3f ms (%.2f %% of one core at 25 Hz)\n",
                    shown ? "history: live redraw of the six, statistics drawn"
                          : "history: live redraw of the six, nothing of it drawn",
                    ms, ms * 25 / 10.0);
    }

    // Looking back: the six redrawn after the view moved (the columns made
    // again) and with nothing changed (the reduced view reused).
    bench.widget().findChild<QPushButton*>("pause_pb")->click();
    auto* group = bench.widget().findChild<ChartGroup*>();
    const QList<QCustomPlot*> plots = bench.chartPlots();
    const double newest = plots.first()->graph(0)->data()->constEnd()[-1].key;
    for (double span : {8.0, 600.0, 3600.0}) {
        constexpr int Redraws = 20;
        double moved = 0, still = 0;
        for (int i = 0; i < Redraws; ++i) {
            group->setView(newest - span - i * span / 1000.0, newest - i * span / 1000.0);
            QElapsedTimer t;
            t.start();
            for (QCustomPlot* plot : plots)
                plot->replot(QCustomPlot::rpImmediateRefresh);
            moved += t.nsecsElapsed() / 1e6;
            t.restart();
            for (QCustomPlot* plot : plots)
                plot->replot(QCustomPlot::rpImmediateRefresh);
            still += t.nsecsElapsed() / 1e6;
        }
        const QString view = span < 60 ? QString("%1 s").arg(span) : QString("%1 min").arg(span / 60);
        std::printf("%-58s %8.2f ms (target <= 20 for the hour)\n",
                    qPrintable("history: redraw of the six, view of " + view + ", moved"), moved / Redraws);
        std::printf("%-58s %8.2f ms\n", qPrintable("history: redraw of the six, view of " + view + ", unchanged"),
                    still / Redraws);
    }
    std::printf("%-58s %8lld points at most per chart\n", "history: drawn looking back",
                qint64(plots.first()->graph(1)->dataCount()));
    return 0;
}

int attitude(Bench& bench, int seconds)
{
    qint64 fed = qint64(12 * LinkRecordsPerSecond);
    bench.feed(Command::Paced, 0, fed);
    // The stream's angles change with every record, so the open window
    // redraws on every tick: the most it can cost.
    constexpr int Turns = 8;
    const qint64 n = qint64(seconds * LinkRecordsPerSecond / Turns);
    // Frames drawn, to tell the cost of one frame from how many there are.
    struct FrameCounter : QObject
    {
        int frames = 0;
        bool eventFilter(QObject*, QEvent* event) override
        {
            frames += event->type() == QEvent::Paint;
            return false;
        }
    } counter;
    bench.attitudeView()->installEventFilter(&counter);
    const auto [closed, open] = bench.inTurns(fed, Turns, n, [&bench](bool) { bench.clickAttitude(); });
    const QString where = QString("%1, %2x").arg(QGuiApplication::platformName()).arg(qApp->devicePixelRatio());
    const QString rate =
        QString("%1 records/s for %2 s (%3)").arg(LinkRecordsPerSecond, 0, 'f', 1).arg(seconds).arg(where);
    printShare(qPrintable("attitude: window closed, " + rate), closed);
    printShare(qPrintable("attitude: window open, " + rate), open);
    const double added = open.cpuSeconds / open.wallSeconds - closed.cpuSeconds / closed.wallSeconds;
    std::printf("%-58s %+6.1f %% of one core (target <= 1.5)\n", "attitude: what the open window adds", added * 100.0);
    std::printf("%-58s %8.1f frames/s\n", "attitude: frames drawn while open", counter.frames / open.wallSeconds);

    // One frame on its own: painted and put on the screen, new values each
    // time.
    bench.clickAttitude();
    bench.idleShare(300);
    AttitudeView* view = bench.attitudeView();
    constexpr int Frames = 500;
    const double cpu0 = cpuSeconds();
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < Frames; ++i) {
        const UART_RCV r = record(i * 97);
        view->setValues({r.angle1, r.angle2, r.angle3, r.accel1, r.accel2, r.accel3});
        view->repaint();
    }
    std::printf("%-58s %8.3f ms CPU (%.3f ms wall)\n",
                qPrintable(QString("attitude: one whole frame at %1x%2 (%3)").arg(view->width()).arg(view->height()).arg(where)),
                (cpuSeconds() - cpu0) * 1e3 / Frames, clock.nsecsElapsed() / 1e6 / Frames);
    bench.clickAttitude();
    return 0;
}

int noise(Bench& bench, int seconds)
{
    qint64 fed = qint64(12 * LinkRecordsPerSecond);
    bench.feed(Command::Paced, 0, fed);
    // The longest gap between two ticks of the window's redraw, on each
    // side: a stall of the window's thread shows there.
    QTimer* tick = bench.redrawTick();
    if (!tick) {
        std::fprintf(stderr, "bench: no redraw tick in the window\n");
        return 1;
    }
    QElapsedTimer sinceTick;
    sinceTick.start();
    qint64 longest[2] = {0, 0};
    bool open = false;
    QObject::connect(tick, &QTimer::timeout, [&] {
        longest[open] = std::max(longest[open], sinceTick.restart());
    });
    int analyses = 0;
    QObject::connect(bench.noiseWindow(), &NoiseWindow::analysed, [&analyses] { ++analyses; });
    // Few long turns: each opening starts the analysis afresh, and the span
    // it analyses grows for the whole turn.
    constexpr int Turns = 2;
    const qint64 n = qint64(seconds * LinkRecordsPerSecond / Turns);
    const auto [closed, opened] = bench.inTurns(fed, Turns, n, [&](bool on) {
        bench.clickNoise();
        bench.idleShare(50);
        open = on;
        sinceTick.restart();
    });
    const QString where = QString("%1, %2x").arg(QGuiApplication::platformName()).arg(qApp->devicePixelRatio());
    const QString rate =
        QString("%1 records/s for %2 s (%3)").arg(LinkRecordsPerSecond, 0, 'f', 1).arg(seconds).arg(where);
    printShare(qPrintable("noise: window closed, " + rate), closed);
    printShare(qPrintable("noise: window open, " + rate), opened);
    const double added = opened.cpuSeconds / opened.wallSeconds - closed.cpuSeconds / closed.wallSeconds;
    std::printf("%-58s %+6.1f %% of one core (target <= 1.5)\n", "noise: what the open window adds", added * 100.0);
    std::printf("%-58s %8d in %.0f s\n", "noise: analyses shown while open", analyses, opened.wallSeconds);
    std::printf("%-58s %8lld ms (tick %d ms)\n", "noise: longest gap between ticks, window closed", longest[0],
                Plotter::RedrawPeriodMs);
    std::printf("%-58s %8lld ms (tick %d ms)\n", "noise: longest gap between ticks, window open", longest[1],
                Plotter::RedrawPeriodMs);

    // An hour at the full rate, as the open window holds it at the end:
    // the sums kept up per record, the copy its thread makes for the worker,
    // and the worker's analysis, which waits NoiseWindow::CostFactor times
    // its own time before the next.
    const qint64 hour = qint64(3600 * LinkRecordsPerSecond);
    Noise::LiveAllan live;
    const qint64 origin = QDateTime::currentMSecsSinceEpoch();
    double cpu0 = cpuSeconds();
    for (qint64 i = 0; i < hour; ++i) {
        const UART_RCV r = record(i);
        live.append({r.angle1, r.angle2, r.angle3, r.accel1, r.accel2, r.accel3},
                    origin + qint64(double(i) * 1000.0 / LinkRecordsPerSecond), false);
    }
    std::printf("%-58s %8.3f us CPU\n", "noise: live Allan sums, per record (an hour)", (cpuSeconds() - cpu0) / hour * 1e6);
    QElapsedTimer clock;
    clock.start();
    const Noise::Span span = live.span();
    std::array<QVector<Noise::AdevPoint>, Noise::Channels> adev;
    for (int channel = 0; channel < Noise::Channels; ++channel)
        adev[size_t(channel)] = live.adev(channel, span.rateHz);
    const double copyMs = clock.nsecsElapsed() / 1e6;
    std::printf("%-58s %8.1f ms (tick %d ms)\n", "noise: an hour's span taken on the window's thread", copyMs,
                Plotter::RedrawPeriodMs);
    clock.restart();
    const Noise::Result result = Noise::analyse(span, &adev);
    const double analysisMs = clock.nsecsElapsed() / 1e6;
    const double periodMs = std::max<double>(NoiseWindow::ShortestPeriodMs, NoiseWindow::CostFactor * analysisMs);
    std::printf("%-58s %8.1f ms, every %.1f s\n", "noise: an hour's analysis on the worker", analysisMs, periodMs / 1e3);
    std::printf("%-58s %6.1f %% of one core\n", "noise: at an hour, worker and copy together",
                (analysisMs + copyMs) / periodMs * 100.0);
    return result.records == hour ? 0 : 1;
}

// The console alone at its cap: what 10,000 lines hold, and what one more
// line costs once the oldest must go.
int console()
{
    Widget window(nullptr, [] { return QList<PortEntry>(); });
    window.show();
    auto* console = window.findChild<QPlainTextEdit*>("console");
    QCoreApplication::processEvents();
    const int cap = console->maximumBlockCount();
    auto line = [](int i) {
        return QString("[12:34:56.789] Ind: %1; Yaw:   12.34; Pitch:  -90.00; Roll:   45.00; Xacc:   1000 mg "
                       "(  9.807 m/s2); Yacc:    -15 mg ( -0.147 m/s2); Zacc:   -980 mg ( -9.611 m/s2)")
            .arg(i % 256, 3);
    };
    auto fill = [&](int lines, int perAppend) {
        QElapsedTimer t;
        t.start();
        for (int i = 0; i < lines; i += perAppend) {
            QStringList batch;
            for (int k = 0; k < perAppend; ++k)
                batch << line(i + k);
            console->appendPlainText(batch.join('\n'));
            QCoreApplication::processEvents(); // the repaint each read would cause
        }
        return t.nsecsElapsed() / 1e3 / lines;
    };
    const double rss0 = rssMiB();
    const double belowCap = fill(cap, 1);
    const double rss1 = rssMiB();
    std::printf("%-58s %8.1f MiB (%d lines)\n", "console: RSS growth filling to the cap", rss1 - rss0,
                console->blockCount());
    std::printf("%-58s %8.2f us\n", "console: cost per line below the cap, 1 line per append", belowCap);
    std::printf("%-58s %8.2f us\n", "console: cost per line at the cap, 1 line per append", fill(cap, 1));
    std::printf("%-58s %8.2f us\n", "console: cost per line at the cap, 10 lines per append", fill(cap, 10));
    std::printf("%-58s %8.2f us\n", "console: cost per line at the cap, 200 lines per append", fill(cap * 2, 200));
    std::printf("%-58s %8.1f MiB (%d lines)\n", "console: RSS growth after 5 caps' worth", rssMiB() - rss0,
                console->blockCount());
    return 0;
}

// What watching the link costs a record, apart from the rest of the window:
// the calls the window makes, with a read for every frame (the most reads
// there can be) and a tick every 606 frames, on the real clock.
int linkWatch()
{
    constexpr qint64 Records = 20000000;
    LinkWatch watch;
    watch.portOpened("bench", 115200);
    uint misses = 0;
    const double cpu0 = cpuSeconds();
    for (qint64 n = 1; n <= Records; ++n) {
        watch.bytesRead(19);
        watch.frameDecoded();
        watch.checksumMisses(misses += uint(n % 1000 == 0));
        if (n % 606 == 0)
            watch.tick();
    }
    const double perRecord = (cpuSeconds() - cpu0) / Records;
    std::printf("%-58s %8.1f ns CPU (%.4f %% of one core at the link's rate)\n",
                "linkwatch: cost per record, one read per record", perRecord * 1e9,
                perRecord * LinkRecordsPerSecond * 100.0);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const QString mode = argc > 1 ? QString(argv[1]) : QString("paced");
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    enableHighDpiScaling(); // as the monitor itself

    if (mode == "console") {
        QApplication app(argc, argv);
        return console();
    }
    if (mode == "linkwatch") {
        QCoreApplication app(argc, argv);
        return linkWatch();
    }
    if (mode == "hour" && argc > 2)
        return writeHour(argv[2]);
    if (mode == "viewer" && argc > 2)
        return openInViewer(argv[2], argc, argv);
    if (mode == "playback" && argc > 2)
        return playBack(argv[2], argc > 3 ? atoi(argv[3]) : 10, argc > 4 && QString(argv[4]) == "shown", argc, argv);

    // The board first: fork before the application object starts any thread.
    PseudoTerminal pty;
    int commands[2], done[2];
    if (!pty.isOpen() || ::pipe(commands) != 0 || ::pipe(done) != 0) {
        std::fprintf(stderr, "bench: no pseudo-terminal: %s\n", qPrintable(pty.errorString()));
        return 1;
    }
    const pid_t feeder = ::fork();
    if (feeder == 0) {
        ::close(commands[1]);
        ::close(done[0]);
        feederMain(pty, commands[0], done[1]);
    }
    ::close(commands[0]);
    ::close(done[1]);

    // Recordings go to the Documents of a home made for the run.
    QTemporaryDir home;
    if (mode == "recording") {
        qputenv("HOME", QFile::encodeName(home.path()));
        qunsetenv("XDG_CONFIG_HOME");
    }

    int status = 0;
    {
        QApplication app(argc, argv);
        Bench bench(pty, commands[1]);
        if (mode == "paced")
            status = paced(bench, argc > 2 ? atoi(argv[2]) : 20, argc > 3 && QString(argv[3]) == "shown");
        else if (mode == "recording")
            status = recording(bench, argc > 2 ? atoi(argv[2]) : 20);
        else if (mode == "history")
            status = history(bench, argc > 2 ? atoi(argv[2]) : 20);
        else if (mode == "attitude")
            status = attitude(bench, argc > 2 ? atoi(argv[2]) : 20);
        else if (mode == "noise")
            status = noise(bench, argc > 2 ? atoi(argv[2]) : 20);
        else if (mode == "longrun")
            status = longrun(bench, argc > 2 ? atoll(argv[2]) : 10000000, argc > 3 ? atoi(argv[3]) : 20);
        else {
            std::fprintf(stderr, "usage: bench_window console | paced SECONDS [shown] | longrun RECORDS SECONDS"
                                 " | recording SECONDS | linkwatch | history SECONDS | hour FILE"
                                 " | viewer FILE | playback FILE [SECONDS [shown]] | attitude SECONDS | noise SECONDS\n");
            status = 2;
        }
        const Command quit {Command::Quit, 0, 0};
        if (::write(commands[1], &quit, sizeof quit) != sizeof quit)
            ::kill(feeder, SIGTERM);
    }
    ::waitpid(feeder, nullptr, 0);
    return status;
}
