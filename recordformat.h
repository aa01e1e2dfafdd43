// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef RECORDFORMAT_H
#define RECORDFORMAT_H

#include "parser.h"

#include <QString>

// How a record is shown: the board's axes mapped to the displayed ones, and
// the console text of one record. Shared by the monitor window and the
// command-line recorder so both print exactly the same numbers.
namespace RecordFormat {

// Board axes to displayed axes, in place: yaw is the negated first angle,
// pitch and roll are swapped, Z acceleration is negated. Negation wraps in
// 16 bits, so -32768 stays -32768. The index is not touched.
void remap(UART_RCV& data);

// milli-g to m/s^2; multiplying before dividing keeps 10000 mg at 98.067.
double convertToMsSquared(short mg);

// Fixed-point text, independent of the user's locale.
QString degrees(qint16 hundredths);
QString metresPerSecondSquared(qint16 mg);

// The console line of a remapped record (without the time prefix).
QString consoleLine(const UART_RCV& remapped);

// Bytes from outside (a file, the host) in a form safe to print on one line:
// quoted, with control and non-ASCII bytes escaped, at most maxBytes of them.
QByteArray quoted(const QByteArray& bytes, int maxBytes = 64);

} // namespace RecordFormat

#endif // RECORDFORMAT_H
