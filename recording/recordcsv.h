// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef RECORDCSV_H
#define RECORDCSV_H

#include "parser.h"

#include <QByteArray>

// The recording format: one CSV row per record, the same numbers as the
// console line without its padding. The window's recordings and imu-decode's
// output are this one format, and imu-sim reads it back.
namespace RecordCsv {

// The first line of every recording, with its line end.
extern const char Header[];
// The number of fields in the header and in every row.
constexpr int FieldCount = 11;

// Appends the row of a remapped record. hostTime is the local time the
// record's bytes were read, ISO 8601 with milliseconds and UTC offset, or
// empty when there is none (a capture decoded later).
void appendRow(QByteArray& out, const QByteArray& hostTime, const UART_RCV& remapped);

} // namespace RecordCsv

#endif // RECORDCSV_H
