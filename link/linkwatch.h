// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef LINKWATCH_H
#define LINKWATCH_H

#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <array>
#include <functional>

class QTimer;

// How the open link does, from what the window sees of it: bytes read,
// frames decoded, checksum misses. Once a second it states the rates, and it
// says once when a problem starts and once when it is over: the board falls
// silent, sends bytes that hold no valid frame (another baud rate), or too
// many of its frames fail their checksum (the cable). A window that looks
// the same for a quiet board and a dead one leaves the user guessing.
//
// The window reports each read and each frame: counting is all that happens
// then. Everything else waits for the tick, once a second.
class LinkWatch : public QObject
{
    Q_OBJECT

public:
    // Milliseconds on a monotonic clock; the tests step their own.
    using Clock = std::function<qint64()>;

    static constexpr int TickMs = 1000;
    // No byte, or bytes but no valid frame, for this long is a problem: a
    // board sends many frames a second, and a second's gap is a hiccup.
    static constexpr qint64 QuietMs = 2000;
    // The checksum share is judged over the last ChecksumTicks ticks, once
    // they hold enough valid frames to mean something. It must fall clearly
    // back under the alarm before the all-clear, so a share hovering at the
    // limit does not say so every other second.
    static constexpr int ChecksumTicks = 10;
    static constexpr int ChecksumMinFrames = 20;
    static constexpr double ChecksumAlarm = 0.05;
    static constexpr double ChecksumAllClear = 0.04;
    // 8-N-1: a start bit, eight data bits and a stop bit per byte.
    static constexpr int LineBitsPerByte = 10;

    explicit LinkWatch(QObject* parent = nullptr, Clock clock = {});

    void portOpened(const QString& name, qint32 baudRate);
    void portClosed();
    void bytesRead(qint64 count);
    void frameDecoded()
    {
        if (Q_UNLIKELY(frameless))
            framesBack();
        ++frames;
        lastFrameAt = lastByteAt;
    }
    // The parser's running total of checksum misses, after each read.
    void checksumMisses(uint total)
    {
        misses += total - knownMisses;
        knownMisses = total;
    }
    void tick();

    static QString notConnected() { return QStringLiteral("Not connected"); }

signals:
    // The label's text: the rates, or why there are none.
    void statusChanged(const QString& text);
    // A line for the console.
    void said(const QString& line);

private:
    static constexpr qint64 Never = -1;

    void framesBack();
    void judgeChecksums();
    QString rates(qint64 spanMs) const;
    // A measured span, to a tenth of a second.
    static QString seconds(qint64 ms);

    Clock clock;
    QElapsedTimer uptime;
    QTimer* ticker = nullptr;

    bool open = false;
    QString name;
    qint32 baudRate = 0;
    qint64 openedAt = 0;
    qint64 lastTickAt = 0;
    qint64 lastByteAt = Never;
    qint64 lastFrameAt = Never;
    // Since when bytes have come without a pause long enough to be silence.
    qint64 streamSince = Never;

    // Counted since the last tick.
    qint64 bytes = 0;
    quint64 frames = 0;
    quint64 misses = 0;
    // The parser's total when last told; its count runs on across ports.
    uint knownMisses = 0;

    struct Tick
    {
        quint64 frames = 0;
        quint64 misses = 0;
    };
    std::array<Tick, ChecksumTicks> recent {};
    int newest = 0;

    // The problems being told of, each said once as it starts and once as
    // it ends.
    bool silent = false;
    bool frameless = false;
    bool failing = false;
};

#endif // LINKWATCH_H
