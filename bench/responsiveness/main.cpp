// SPDX-License-Identifier: GPL-3.0-or-later
// How long the GUI thread of the monitor window can be kept from its timers.
// A 10 ms timer on that thread records the longest time between two of its
// runs: how long a user's click or a chart's redraw could have had to wait.
// Target: under 100 ms.
//
//   bench_responsiveness [MEGABYTES]          a separate thread pours random
//                                             bytes into a pseudo-terminal as
//                                             fast as the kernel takes them
//                                             (default 10 MB)
//   bench_responsiveness recording SECONDS    frames at the link's full rate,
//                                             SECONDS each: not recording,
//                                             recording to a file, and
//                                             recording while the writer is
//                                             blocked (a pipe nobody reads put
//                                             in place of the file); then
//                                             closing the window

#include "frameencoder.h"
#include "highdpi.h"
#include "pseudoterminal.h"
#include "widget.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPushButton>
#include <QRandomGenerator>
#include <QSerialPort>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <memory>
#include <poll.h>
#include <sys/ioctl.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// 115200 baud, 8-N-1: ten bits on the line per byte, 19 bytes per frame.
constexpr double LinkRecordsPerSecond = 115200.0 / 10.0 / 19.0;

// The gaps between runs of a 10 ms timer on the GUI thread.
class GapMeter
{
public:
    GapMeter()
    {
        gaps.reserve(100000);
        timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer, &QTimer::timeout, [this] {
            gaps.push_back(sinceLastTick.nsecsElapsed());
            sinceLastTick.restart();
        });
    }
    void start()
    {
        gaps.clear();
        timer.start(10);
        sinceLastTick.start();
    }
    // Stops, and returns the longest gap in ms.
    double stop(const char* what)
    {
        timer.stop();
        std::sort(gaps.begin(), gaps.end());
        auto ms = [](qint64 ns) { return ns / 1e6; };
        const double longest = gaps.empty() ? 0.0 : ms(gaps.back());
        std::printf("  %s10 ms timer: %zu runs, median gap %.1f ms, 99th percentile %.1f ms, "
                    "longest gap %.1f ms (target < 100 ms)\n",
                    what, gaps.size(), gaps.empty() ? 0.0 : ms(gaps[gaps.size() / 2]),
                    gaps.empty() ? 0.0 : ms(gaps[gaps.size() * 99 / 100]), longest);
        return longest;
    }

private:
    std::vector<qint64> gaps;
    QElapsedTimer sinceLastTick;
    QTimer timer;
};

void runEventLoopFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

std::unique_ptr<Widget> openWindow(const PseudoTerminal& pty, const char* description)
{
    auto window = std::make_unique<Widget>(nullptr, [&] { return QList<PortEntry>{{pty.slavePath(), description}}; });
    window->show();
    window->findChild<QPushButton*>("connect_button")->click();
    auto* port = window->findChild<QSerialPort*>();
    if (!port || !port->isOpen()) {
        std::fprintf(stderr, "the window did not open %s\n", qPrintable(pty.slavePath()));
        return nullptr;
    }
    return window;
}

int flood(QApplication& app, qint64 megabytes)
{
    const qint64 size = megabytes * 1024 * 1024;
    PseudoTerminal pty;
    if (!pty.isOpen()) {
        std::fprintf(stderr, "cannot open a pseudo-terminal: %s\n", qPrintable(pty.errorString()));
        return 1;
    }
    const auto window = openWindow(pty, "flood");
    if (!window)
        return 1;
    auto* port = window->findChild<QSerialPort*>();

    QByteArray bytes(int(size), '\0');
    QRandomGenerator(12345).fillRange(reinterpret_cast<quint32*>(bytes.data()), int(size / 4));

    GapMeter meter;
    std::atomic<bool> finished {false};
    QElapsedTimer wall;
    meter.start();
    wall.start();
    std::thread feeder([&] {
        qint64 done = 0;
        while (done < size) {
            const ssize_t n = ::write(pty.masterFd(), bytes.constData() + done,
                                      size_t(std::min<qint64>(65536, size - done)));
            if (n > 0) {
                done += n;
            } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
                break;
            } else {
                pollfd p {pty.masterFd(), POLLOUT, 0};
                ::poll(&p, 1, 50);
            }
        }
        finished = true;
    });
    QTimer stopper;
    QObject::connect(&stopper, &QTimer::timeout, [&] {
        int queued = 0;
        if (finished && port->bytesAvailable() == 0 && ::ioctl(port->handle(), FIONREAD, &queued) == 0
            && queued == 0)
            app.quit();
    });
    stopper.start(20);
    app.exec();
    feeder.join();
    const double seconds = wall.nsecsElapsed() / 1e9;

    std::printf("responsiveness: %lld MB of random bytes through %s in %.2f s (%.1f MB/s)\n",
                megabytes, qPrintable(pty.slavePath()), seconds, megabytes / seconds);
    const double longest = meter.stop("");
    std::printf("  %s\n", longest < 100 ? "within target" : "OVER TARGET");
    return 0;
}

// The descriptor this process holds open on path, or -1.
int descriptorOf(const QString& path)
{
    const QDir fds("/proc/self/fd");
    for (const QString& fd : fds.entryList(QDir::System | QDir::Files))
        if (QFileInfo(fds.filePath(fd)).symLinkTarget() == path)
            return fd.toInt();
    return -1;
}

int recording(int seconds)
{
    PseudoTerminal pty;
    if (!pty.isOpen()) {
        std::fprintf(stderr, "cannot open a pseudo-terminal: %s\n", qPrintable(pty.errorString()));
        return 1;
    }
    auto window = openWindow(pty, "paced");
    if (!window)
        return 1;
    auto* record = window->findChild<QPushButton*>("record_pb");
    const QDir folder(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation) + "/Telvorin IMU");

    // The board: one frame per write on an absolute schedule at the link's rate.
    std::atomic<bool> stop {false};
    std::thread board([&] {
        timespec start {};
        ::clock_gettime(CLOCK_MONOTONIC, &start);
        for (qint64 i = 0; !stop; ++i) {
            const qint64 dueNs = qint64(double(i) * 1e9 / LinkRecordsPerSecond);
            timespec due = start;
            due.tv_sec += time_t(dueNs / 1000000000);
            due.tv_nsec += long(dueNs % 1000000000);
            if (due.tv_nsec >= 1000000000L) {
                due.tv_sec += 1;
                due.tv_nsec -= 1000000000L;
            }
            ::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &due, nullptr);
            UART_RCV r {quint8(i), qint16(i % 36000 - 18000), qint16(i % 9000), qint16(-(i % 9000)),
                        qint16(i % 2000 - 1000), qint16(i % 77), qint16(1000 - i % 50)};
            if (!pty.write(FrameEncoder::frame(r), 1000))
                break;
        }
    });

    std::printf("responsiveness while recording: %.1f records/s through %s, %d s each\n", LinkRecordsPerSecond,
                qPrintable(pty.slavePath()), seconds);
    GapMeter meter;
    runEventLoopFor(1000); // the console and charts under way
    meter.start();
    runEventLoopFor(seconds * 1000);
    meter.stop("not recording:                  ");

    record->click();
    meter.start();
    runEventLoopFor(seconds * 1000);
    meter.stop("recording to a file:            ");
    record->click();
    runEventLoopFor(1000);

    const QStringList before = folder.entryList(QDir::Files);
    record->click();
    int fd = -1;
    for (int waited = 0; fd < 0 && waited < 5000; waited += 20) {
        runEventLoopFor(20);
        for (const QString& name : folder.entryList(QDir::Files))
            if (!before.contains(name))
                fd = descriptorOf(folder.filePath(name));
    }
    int pipeFds[2];
    if (fd < 0 || ::pipe2(pipeFds, O_CLOEXEC) != 0) {
        std::fprintf(stderr, "cannot find the recording's file to block it\n");
        stop = true;
        board.join();
        return 1;
    }
    // A small pipe, so the writer blocks within a second.
    ::fcntl(pipeFds[1], F_SETPIPE_SZ, 4096);
    ::dup2(pipeFds[1], fd);
    meter.start();
    runEventLoopFor(seconds * 1000);
    meter.stop("recording, the writer blocked: ");

    stop = true;
    board.join();
    QElapsedTimer closing;
    closing.start();
    window.reset();
    std::printf("  closing the window with the writer blocked: %.1f s\n", closing.nsecsElapsed() / 1e9);
    return 0;
}

} // namespace

int main(int argc, char* argv[])
{
    enableHighDpiScaling(); // as the monitor itself
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const bool recordingMode = argc > 1 && QByteArray(argv[1]) == "recording";
    // Recordings go to the Documents of a home made for the run.
    QTemporaryDir home;
    if (recordingMode) {
        qputenv("HOME", QFile::encodeName(home.path()));
        qunsetenv("XDG_CONFIG_HOME");
    }
    QApplication app(argc, argv);
    if (recordingMode) {
        const int seconds = argc > 2 ? atoi(argv[2]) : 10;
        if (seconds <= 0) {
            std::fprintf(stderr, "usage: bench_responsiveness recording SECONDS\n");
            return 2;
        }
        return recording(seconds);
    }
    const qint64 megabytes = argc > 1 ? QByteArray(argv[1]).toLongLong() : 10;
    if (megabytes <= 0) {
        std::fprintf(stderr, "usage: bench_responsiveness [MEGABYTES] | recording SECONDS\n");
        return 2;
    }
    return flood(app, megabytes);
}
