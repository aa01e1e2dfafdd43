// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef TESTRECORDS_H
#define TESTRECORDS_H

// Building, comparing and printing records in the tests.

#include "parser.h"

#include <QString>

inline UART_RCV makeRecord(quint8 index, qint16 angle1, qint16 angle2, qint16 angle3, qint16 accel1,
                           qint16 accel2, qint16 accel3)
{
    return UART_RCV {index, angle1, angle2, angle3, accel1, accel2, accel3};
}

inline bool sameRecord(const UART_RCV& a, const UART_RCV& b)
{
    return a.index == b.index && a.angle1 == b.angle1 && a.angle2 == b.angle2 && a.angle3 == b.angle3
        && a.accel1 == b.accel1 && a.accel2 == b.accel2 && a.accel3 == b.accel3;
}

inline QString describeRecord(const UART_RCV& r)
{
    return QStringLiteral("{index %1: %2 %3 %4 / %5 %6 %7}")
        .arg(r.index)
        .arg(r.angle1)
        .arg(r.angle2)
        .arg(r.angle3)
        .arg(r.accel1)
        .arg(r.accel2)
        .arg(r.accel3);
}

#endif // TESTRECORDS_H
