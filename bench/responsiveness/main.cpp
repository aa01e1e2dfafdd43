// SPDX-License-Identifier: GPL-3.0-or-later
// While a separate thread pours random bytes into a pseudo-terminal as fast
// as the kernel takes them, the monitor window reads them on the GUI thread.
// A 10 ms timer on that thread records the longest time between two of its
// runs: how long a user's click or a chart's redraw could have had to wait.
// Target: under 100 ms.

#include "highdpi.h"
#include "pseudoterminal.h"
#include "widget.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QRandomGenerator>
#include <QSerialPort>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <poll.h>
#include <sys/ioctl.h>
#include <thread>
#include <unistd.h>
#include <vector>

int main(int argc, char* argv[])
{
    enableHighDpiScaling(); // as the monitor itself
    QApplication app(argc, argv);
    const qint64 megabytes = argc > 1 ? QByteArray(argv[1]).toLongLong() : 10;
    if (megabytes <= 0) {
        std::fprintf(stderr, "usage: bench_responsiveness [MEGABYTES]\n");
        return 2;
    }
    const qint64 size = megabytes * 1024 * 1024;

    PseudoTerminal pty;
    if (!pty.isOpen()) {
        std::fprintf(stderr, "cannot open a pseudo-terminal: %s\n", qPrintable(pty.errorString()));
        return 1;
    }
    Widget window(nullptr, [&] { return QList<PortEntry>{{pty.slavePath(), "flood"}}; });
    window.show();
    window.findChild<QPushButton*>("connect_button")->click();
    auto* port = window.findChild<QSerialPort*>();
    if (!port || !port->isOpen()) {
        std::fprintf(stderr, "the window did not open %s\n", qPrintable(pty.slavePath()));
        return 1;
    }

    QByteArray bytes(int(size), '\0');
    QRandomGenerator(12345).fillRange(reinterpret_cast<quint32*>(bytes.data()), int(size / 4));

    std::vector<qint64> gaps;
    gaps.reserve(100000);
    QElapsedTimer sinceLastTick;
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        gaps.push_back(sinceLastTick.nsecsElapsed());
        sinceLastTick.restart();
    });

    std::atomic<bool> finished {false};
    QElapsedTimer wall;
    timer.start(10);
    sinceLastTick.start();
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

    std::sort(gaps.begin(), gaps.end());
    auto ms = [](qint64 ns) { return ns / 1e6; };
    const qint64 longest = gaps.empty() ? 0 : gaps.back();
    std::printf("responsiveness: %lld MB of random bytes through %s in %.2f s (%.1f MB/s)\n",
                megabytes, qPrintable(pty.slavePath()), seconds, megabytes / seconds);
    std::printf("  10 ms timer: %zu runs, median gap %.1f ms, 99th percentile %.1f ms, "
                "longest gap %.1f ms (target < 100 ms)\n",
                gaps.size(), gaps.empty() ? 0.0 : ms(gaps[gaps.size() / 2]),
                gaps.empty() ? 0.0 : ms(gaps[gaps.size() * 99 / 100]), ms(longest));
    std::printf("  %s\n", ms(longest) < 100 ? "within target" : "OVER TARGET");
    return 0;
}
