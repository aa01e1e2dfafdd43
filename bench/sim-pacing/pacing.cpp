// SPDX-License-Identifier: GPL-3.0-or-later
// Measures how closely imu-sim --rate max keeps to the 115200-baud link:
// runs it, opens its pseudo-terminal like the monitor would (raw), decodes
// for a fixed time and prints frames per second against the target.

#include "parser.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>

#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: sim-pacing IMU_SIM [SECONDS]\n");
        return 2;
    }
    const double seconds = argc > 2 ? QByteArray(argv[2]).toDouble() : 10.0;
    const double target = 115200.0 / 10.0 / 19.0;

    QProcess sim;
    sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    sim.start(QString::fromLocal8Bit(argv[1]), {"--rate", "max"});
    if (!sim.waitForStarted(5000) || !sim.waitForReadyRead(5000)) {
        std::fprintf(stderr, "sim-pacing: imu-sim did not start\n");
        return 1;
    }
    const QByteArray path = sim.readLine().trimmed();
    const int fd = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        std::fprintf(stderr, "sim-pacing: cannot open %s\n", path.constData());
        return 1;
    }
    termios settings {};
    ::tcgetattr(fd, &settings);
    ::cfmakeraw(&settings);
    ::tcsetattr(fd, TCSANOW, &settings);

    Parser parser;
    quint64 records = 0;
    QObject::connect(&parser, &Parser::dataReady, [&records](UART_RCV&) { ++records; });

    // The window starts with the first byte, so the time the simulator takes
    // to notice the open port is not counted.
    QElapsedTimer clock;
    char buffer[4096];
    while (!clock.isValid() || clock.nsecsElapsed() < qint64(seconds * 1e9)) {
        pollfd p {fd, POLLIN, 0};
        ::poll(&p, 1, 100);
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0)
            continue;
        if (!clock.isValid()) {
            clock.start();
            // Only whole frames from here on: the first read may start mid-frame.
        }
        parser.parse(QByteArray(buffer, int(n)));
    }
    const double elapsed = double(clock.nsecsElapsed()) * 1e-9;
    ::close(fd);
    sim.terminate();
    sim.waitForFinished(5000);

    const double rate = double(records) / elapsed;
    std::printf("imu-sim --rate max over %.1f s: %.1f frames/s, target %.1f frames/s, "
                "deviation %+.2f %% (checksum misses %u, index misses %u)\n",
                elapsed, rate, target, (rate - target) / target * 100.0, parser.getCSumMisses(),
                parser.getIndexMisses());
    return 0;
}
