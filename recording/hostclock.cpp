// SPDX-License-Identifier: GPL-3.0-or-later
#include "hostclock.h"

#include <QDateTime>

namespace {
constexpr qint64 MsPerSecond = 1000;
} // namespace

QByteArray HostClock::now()
{
    return at(QDateTime::currentMSecsSinceEpoch());
}

QByteArray HostClock::at(qint64 msSinceEpoch)
{
    qint64 second = msSinceEpoch / MsPerSecond;
    int ms = int(msSinceEpoch % MsPerSecond);
    if (ms < 0) {
        --second;
        ms += MsPerSecond;
    }
    if (second != cachedSecond) {
        cachedSecond = second;
        const QDateTime local = QDateTime::fromMSecsSinceEpoch(second * MsPerSecond);
        secondText = local.toOffsetFromUtc(local.offsetFromUtc()).toString(Qt::ISODateWithMs).toLatin1();
        millisecondsAt = secondText.indexOf('.') + 1;
    }
    QByteArray text = secondText;
    char* digits = text.data() + millisecondsAt;
    digits[0] = char('0' + ms / 100);
    digits[1] = char('0' + ms / 10 % 10);
    digits[2] = char('0' + ms % 10);
    return text;
}
