// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef TST_DECODE_SUPPORT_H
#define TST_DECODE_SUPPORT_H

// Running imu-decode and the numbers it should print, worked out here
// independently of the code the program shares with the monitor.

#include "frameencoder.h"
#include "parser.h"

#include <QByteArray>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <QVector>

#include <cstdio>

namespace DecodeTest {

struct Result
{
    bool finished = false;
    QProcess::ExitStatus exitStatus = QProcess::NormalExit;
    int exitCode = -1;
    QByteArray out;
    QByteArray err;

    QStringList errLines() const
    {
        return QString::fromUtf8(err).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
    QStringList outLines() const
    {
        return QString::fromUtf8(out).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
};

inline QString decoderPath()
{
    return QStringLiteral(IMU_DECODE_PATH);
}

inline Result runDecoder(const QStringList& arguments, const QByteArray& input = QByteArray(),
                         int timeoutMs = 60000)
{
    QProcess process;
    process.start(decoderPath(), arguments);
    Result result;
    if (!process.waitForStarted(10000))
        return result;
    if (!input.isEmpty())
        process.write(input);
    process.closeWriteChannel();
    result.finished = process.waitForFinished(timeoutMs);
    if (!result.finished) {
        process.kill();
        process.waitForFinished(5000);
    }
    result.exitStatus = process.exitStatus();
    result.exitCode = process.exitCode();
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}

inline UART_RCV record(int index, int a1, int a2, int a3, int x, int y, int z)
{
    UART_RCV r;
    r.index = quint8(index);
    r.angle1 = qint16(a1);
    r.angle2 = qint16(a2);
    r.angle3 = qint16(a3);
    r.accel1 = qint16(x);
    r.accel2 = qint16(y);
    r.accel3 = qint16(z);
    return r;
}

inline QByteArray capture(const QVector<UART_RCV>& records)
{
    QByteArray bytes;
    for (const UART_RCV& r : records)
        bytes.append(FrameEncoder::frame(r));
    return bytes;
}

inline qint16 negated(qint16 v)
{
    return v == -32768 ? qint16(-32768) : qint16(-v);
}

inline QString fixed(double value, int decimals)
{
    return QString::asprintf("%.*f", decimals, value);
}

inline QString msSquared(qint16 mg)
{
    return fixed(mg * 9.80665 / 1000.0, 3);
}

// The CSV row (without the host time column) of a record as the board sent it.
inline QString expectedRow(const UART_RCV& board)
{
    const qint16 yaw = negated(board.angle1);
    const qint16 pitch = board.angle3;
    const qint16 roll = board.angle2;
    const qint16 z = negated(board.accel3);
    return QStringLiteral("%1,%2,%3,%4,%5,%6,%7,%8,%9,%10")
        .arg(unsigned(board.index))
        .arg(fixed(yaw / 100.0, 2), fixed(pitch / 100.0, 2), fixed(roll / 100.0, 2))
        .arg(board.accel1)
        .arg(board.accel2)
        .arg(z)
        .arg(msSquared(board.accel1), msSquared(board.accel2), msSquared(z));
}

inline const char* csvHeader()
{
    return "host_time,index,yaw_deg,pitch_deg,roll_deg,x_mg,y_mg,z_mg,x_ms2,y_ms2,z_ms2";
}

// host_time of a recording from a port: local time, ISO 8601, milliseconds,
// UTC offset.
inline const QRegularExpression& hostTimePattern()
{
    static const QRegularExpression pattern(
        QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}(Z|[+-]\\d\\d:\\d\\d)$"));
    return pattern;
}

// Splits "time,rest" into its two parts.
inline QPair<QString, QString> splitHostTime(const QString& row)
{
    const int comma = row.indexOf(QLatin1Char(','));
    return {row.left(comma), row.mid(comma + 1)};
}

struct Summary
{
    bool valid = false;
    quint64 records = 0, checksumMisses = 0, indexMisses = 0, dropped = 0;
    double framesPerSecond = -1;
};

// The decoder's last line on standard error.
inline Summary parseSummary(const QStringList& errLines)
{
    Summary s;
    if (errLines.isEmpty())
        return s;
    static const QRegularExpression pattern(QStringLiteral(
        "^imu-decode: records decoded: (\\d+), checksum misses: (\\d+), index misses: (\\d+), "
        "bytes dropped: (\\d+)(?:, unfinished frame at the end: \\d+ bytes)?"
        "(?:, frames per second: ([0-9.]+))?$"));
    const auto match = pattern.match(errLines.constLast());
    if (!match.hasMatch())
        return s;
    s.valid = true;
    s.records = match.captured(1).toULongLong();
    s.checksumMisses = match.captured(2).toULongLong();
    s.indexMisses = match.captured(3).toULongLong();
    s.dropped = match.captured(4).toULongLong();
    if (!match.captured(5).isEmpty())
        s.framesPerSecond = match.captured(5).toDouble();
    return s;
}

inline QStringList readLines(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

} // namespace DecodeTest

#endif // TST_DECODE_SUPPORT_H
