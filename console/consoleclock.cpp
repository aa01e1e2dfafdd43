// SPDX-License-Identifier: GPL-3.0-or-later
#include "consoleclock.h"

#include <QDateTime>
#include <QStringBuilder>

namespace {

constexpr qint64 MsPerSecond = 1000;
constexpr qint64 MsPerDay = 24 * 60 * 60 * MsPerSecond;

qint64 floorDiv(qint64 value, qint64 divisor)
{
    return value / divisor - (value % divisor < 0 ? 1 : 0);
}

void putDigits(QChar*& out, int value, int digits)
{
    for (int i = digits - 1; i >= 0; --i) {
        out[i] = QChar('0' + value % 10);
        value /= 10;
    }
    out += digits;
}

} // namespace

QString ConsoleClock::now()
{
    return at(QDateTime::currentMSecsSinceEpoch());
}

QString ConsoleClock::at(qint64 msSinceEpoch)
{
    const qint64 second = floorDiv(msSinceEpoch, MsPerSecond);
    if (second != offsetSecond) {
        offsetSecond = second;
        offsetMs = QDateTime::fromSecsSinceEpoch(second).offsetFromUtc() * MsPerSecond;
    }
    qint64 ms = (msSinceEpoch + offsetMs) % MsPerDay;
    if (ms < 0)
        ms += MsPerDay;

    QString text(12, Qt::Uninitialized);
    QChar* out = text.data();
    putDigits(out, int(ms / 3600000), 2);
    *out++ = QLatin1Char(':');
    putDigits(out, int(ms / 60000 % 60), 2);
    *out++ = QLatin1Char(':');
    putDigits(out, int(ms / 1000 % 60), 2);
    *out++ = QLatin1Char('.');
    putDigits(out, int(ms % 1000), 3);
    return text;
}

QString ConsoleClock::line(qint64 msSinceEpoch, const QString& message)
{
    // "[%1] %2" with the 12 characters of the time: put together in one
    // piece, without parsing a pattern and making a string for each step.
    return QLatin1Char('[') % at(msSinceEpoch) % QLatin1String("] ") % message;
}

QString ConsoleClock::duration(qint64 ms)
{
    const qint64 seconds = ms / 1000;
    return QStringLiteral("%1:%2:%3.%4")
        .arg(seconds / 3600)
        .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(seconds % 60, 2, 10, QLatin1Char('0'))
        .arg(ms % 1000, 3, 10, QLatin1Char('0'));
}
