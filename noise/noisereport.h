// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef NOISEREPORT_H
#define NOISEREPORT_H

#include "noiseanalysis.h"

#include <QJsonDocument>
#include <QString>

// The analysis as it leaves the program: the JSON document imu-noise --json
// prints and the window saves, the tab-separated figures "Copy figures"
// puts on the clipboard, and the readable table imu-noise prints.
// Every number is finite: a coefficient with nothing to read it from is
// null in JSON and an empty cell in the tables.
namespace Noise {

QJsonDocument toJson(const Result& result, const QString& file, double secondsReading);
// One row a channel, a header row first naming each column's unit.
QString tabSeparated(const Result& result);
QString textTable(const Result& result);

} // namespace Noise

#endif // NOISEREPORT_H
