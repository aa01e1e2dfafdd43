// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef CONSOLECLOCK_H
#define CONSOLECLOCK_H

#include <QString>

#include <limits>

// The local time of day that starts every console line, "hh:mm:ss.zzz".
// Turning the system clock into local time looks the time zone up on each
// call, which at the link's rate costs more than formatting the rest of the
// line. The offset from UTC only ever changes on a whole second, so it is
// looked up once a second and the times come out the same.
class ConsoleClock
{
public:
    QString now();
    // The same for any instant; successive calls within one second reuse the
    // offset.
    QString at(qint64 msSinceEpoch);
    // A console line as the console shows it: "[hh:mm:ss.zzz] message".
    QString line(qint64 msSinceEpoch, const QString& message);
    // A length of time as the console and the viewer write one,
    // "h:mm:ss.zzz" (the hours as many as there are).
    static QString duration(qint64 ms);

private:
    qint64 offsetSecond = std::numeric_limits<qint64>::min();
    qint64 offsetMs = 0;
};

#endif // CONSOLECLOCK_H
