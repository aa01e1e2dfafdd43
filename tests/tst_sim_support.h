// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef TST_SIM_SUPPORT_H
#define TST_SIM_SUPPORT_H

// Running imu-sim and reading what it sends, shared by the simulator's tests.

#include "parser.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QFile>
#include <QList>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace SimSupport {

struct Run
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

inline Run runSim(const QStringList& arguments, int timeoutMs = 60000)
{
    QProcess process;
    process.start(QStringLiteral(IMU_SIM_PATH), arguments);
    Run run;
    if (!process.waitForStarted(10000) || !process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}

struct Summary
{
    bool found = false;
    quint64 sent = 0, corrupted = 0, dropped = 0, garbage = 0;
};

// The closing line "imu-sim: frames sent: N, corrupted: C, dropped: D, garbage bytes: G".
inline Summary summary(const QByteArray& err)
{
    Summary s;
    for (const QByteArray& line : err.split('\n')) {
        unsigned long long n, c, d, g;
        if (std::sscanf(line.constData(),
                        "imu-sim: frames sent: %llu, corrupted: %llu, dropped: %llu, garbage bytes: %llu",
                        &n, &c, &d, &g) == 4) {
            s = {true, n, c, d, g};
        }
    }
    return s;
}

struct CsvRecord
{
    UART_RCV record;
    QByteArray fate;
};

inline QList<CsvRecord> readRecords(const QString& path, QByteArray* header = nullptr)
{
    QList<CsvRecord> rows;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return rows;
    const QByteArray first = file.readLine().trimmed();
    if (header)
        *header = first;
    while (!file.atEnd()) {
        const QList<QByteArray> f = file.readLine().trimmed().split(',');
        if (f.size() != 8)
            continue;
        CsvRecord row;
        row.record.index = quint8(f[0].toUInt());
        row.record.angle1 = qint16(f[1].toInt());
        row.record.angle2 = qint16(f[2].toInt());
        row.record.angle3 = qint16(f[3].toInt());
        row.record.accel1 = qint16(f[4].toInt());
        row.record.accel2 = qint16(f[5].toInt());
        row.record.accel3 = qint16(f[6].toInt());
        row.fate = f[7];
        rows.append(row);
    }
    return rows;
}

// Decodes a stream with the monitor's own parser.
struct Decoded
{
    QList<UART_RCV> records;
    uint checksumMisses = 0;
    uint indexMisses = 0;
    quint64 droppedBytes = 0;
};

inline Decoded decode(const QByteArray& bytes)
{
    Parser parser;
    Decoded d;
    QObject::connect(&parser, &Parser::dataReady, [&d](UART_RCV& r) { d.records.append(r); });
    parser.parse(bytes);
    d.checksumMisses = parser.getCSumMisses();
    d.indexMisses = parser.getIndexMisses();
    d.droppedBytes = parser.getDroppedBytes();
    return d;
}

// The host's end of the simulator's pseudo-terminal, raw like a serial port.
class HostPort
{
public:
    explicit HostPort(const QByteArray& path)
    {
        fd = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0) {
            termios t {};
            ::tcgetattr(fd, &t);
            ::cfmakeraw(&t);
            ::tcsetattr(fd, TCSANOW, &t);
            // As the monitor does on open: a frame the kernel still held from
            // before the last close is not current.
            ::tcflush(fd, TCIFLUSH);
        }
    }
    ~HostPort() { close(); }
    bool isOpen() const { return fd >= 0; }
    void close()
    {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
    bool write(const QByteArray& bytes) { return ::write(fd, bytes.constData(), size_t(bytes.size())) == bytes.size(); }
    // Reads for timeoutMs; stops early on end of file or error (the master closed).
    QByteArray read(int timeoutMs, bool* ended = nullptr)
    {
        QByteArray out;
        QElapsedTimer clock;
        clock.start();
        char buffer[4096];
        while (clock.elapsed() < timeoutMs) {
            pollfd p {fd, POLLIN, 0};
            ::poll(&p, 1, int(qMax<qint64>(1, timeoutMs - clock.elapsed())));
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n > 0) {
                out.append(buffer, int(n));
            } else if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
                if (ended)
                    *ended = true;
                break;
            }
        }
        return out;
    }

private:
    int fd = -1;
};

} // namespace SimSupport

#endif // TST_SIM_SUPPORT_H
