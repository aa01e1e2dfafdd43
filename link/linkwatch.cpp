// SPDX-License-Identifier: GPL-3.0-or-later
#include "linkwatch.h"

#include <QTimer>

LinkWatch::LinkWatch(QObject* parent, Clock clock)
    : QObject(parent)
    , clock(std::move(clock))
    , ticker(new QTimer(this))
{
    if (!this->clock) {
        uptime.start();
        this->clock = [this] { return uptime.elapsed(); };
    }
    connect(ticker, &QTimer::timeout, this, &LinkWatch::tick);
}

void LinkWatch::portOpened(const QString& name, qint32 baudRate)
{
    // Whatever the last port went through is over: this one starts afresh.
    open = true;
    this->name = name;
    this->baudRate = baudRate;
    openedAt = lastTickAt = clock();
    lastByteAt = lastFrameAt = streamSince = Never;
    bytes = 0;
    frames = misses = 0;
    recent.fill({});
    silent = frameless = failing = false;
    ticker->start(TickMs);
    emit statusChanged(
        QStringLiteral("%1 open at %2 baud · counting the first second").arg(name, QString::number(baudRate)));
}

void LinkWatch::portClosed()
{
    // The window says the port closed; that ends every problem with it.
    open = false;
    ticker->stop();
    emit statusChanged(notConnected());
}

void LinkWatch::bytesRead(qint64 count)
{
    const qint64 now = clock();
    bytes += count;
    if (Q_UNLIKELY(silent)) {
        silent = false;
        emit said(lastByteAt == Never
                      ? QStringLiteral("First data from %1 after %2 s").arg(name, seconds(now - openedAt))
                      : QStringLiteral("Data from %1 again after %2 s").arg(name, seconds(now - lastByteAt)));
    }
    if (streamSince == Never)
        streamSince = now;
    lastByteAt = now;
}

void LinkWatch::framesBack()
{
    frameless = false;
    emit said(lastFrameAt == Never
                  ? QStringLiteral("First valid frame from %1 after %2 s").arg(name, seconds(lastByteAt - openedAt))
                  : QStringLiteral("Valid frames from %1 again after %2 s")
                        .arg(name, seconds(lastByteAt - lastFrameAt)));
}

void LinkWatch::tick()
{
    if (!open)
        return;
    const qint64 now = clock();
    if (now > lastTickAt)
        emit statusChanged(rates(now - lastTickAt));
    lastTickAt = now;

    newest = (newest + 1) % ChecksumTicks;
    recent[newest] = {frames, misses};
    bytes = 0;
    frames = misses = 0;

    const qint64 heardAt = lastByteAt == Never ? openedAt : lastByteAt;
    if (!silent && now - heardAt >= QuietMs) {
        silent = true;
        streamSince = Never;
        emit said(QStringLiteral("No data from %1 for %2 s: is the board powered and sending?")
                      .arg(name, QString::number(QuietMs / 1000)));
    }
    if (!silent && !frameless && streamSince != Never && now - qMax(streamSince, lastFrameAt) >= QuietMs) {
        frameless = true;
        emit said(QStringLiteral("Bytes from %1 for %2 s but no valid frame: is the board sending at %3 baud?")
                      .arg(name, QString::number(QuietMs / 1000), QString::number(baudRate)));
    }
    judgeChecksums();
}

void LinkWatch::judgeChecksums()
{
    Tick sum;
    for (const Tick& t : recent) {
        sum.frames += t.frames;
        sum.misses += t.misses;
    }
    // Without valid frames the trouble is not the cable but the stream
    // itself, which the lines on silence and missing frames tell of.
    if (sum.frames < ChecksumMinFrames)
        return;
    const double share = double(sum.misses) / double(sum.frames + sum.misses);
    const QString percent = QString::number(share * 100, 'f', 1);
    const QString span = QString::number(ChecksumTicks * TickMs / 1000);
    if (!failing && share > ChecksumAlarm) {
        failing = true;
        emit said(QStringLiteral("%1 % of the frames from %2 failed their checksum in the last %3 s: "
                                 "a loose or long cable or a noisy line is the likely cause")
                      .arg(percent, name, span));
    } else if (failing && share < ChecksumAllClear) {
        failing = false;
        emit said(QStringLiteral("Checksum failures from %1 down to %2 % in the last %3 s")
                      .arg(name, percent, span));
    }
}

QString LinkWatch::rates(qint64 spanMs) const
{
    const double perSecond = 1000.0 / double(spanMs);
    const double bytesPerSecond = double(bytes) * perSecond;
    QString text = QStringLiteral("%1 frames/s · %2 kB/s")
                       .arg(qRound64(double(frames) * perSecond))
                       .arg(bytesPerSecond / 1000, 0, 'f', 1);
    if (baudRate > 0)
        text += QStringLiteral(" · %1 % of %2 baud")
                    .arg(qRound64(bytesPerSecond * LineBitsPerByte * 100 / baudRate))
                    .arg(baudRate);
    return text;
}

QString LinkWatch::seconds(qint64 ms)
{
    return QString::number(double(ms) / 1000, 'f', 1);
}
