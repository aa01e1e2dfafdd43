// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef HOSTCLOCK_H
#define HOSTCLOCK_H

#include <QByteArray>

#include <limits>

// The host_time of a recording: local time in ISO 8601 with milliseconds and
// the UTC offset ("Z" for UTC), e.g. 2026-12-08T14:02:11.377+01:00, so a
// stamp names one instant on its own. Converting to local time looks the
// time zone up, which at the link's rate would cost more than the rest of
// the row; everything but the milliseconds only changes on a whole second,
// so that part is made once a second and the milliseconds patched in.
class HostClock
{
public:
    QByteArray now();
    QByteArray at(qint64 msSinceEpoch);

private:
    qint64 cachedSecond = std::numeric_limits<qint64>::min();
    QByteArray secondText;
    int millisecondsAt = 0;
};

#endif // HOSTCLOCK_H
