// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef IMU_NOISE_OPTIONS_H
#define IMU_NOISE_OPTIONS_H

#include "noisesource.h"

#include <QString>
#include <QStringList>

struct NoiseOptions
{
    QString inputFile;
    Noise::SpanLimit from;
    Noise::SpanLimit to;
    bool json = false;
};

enum class ParseResult { Run, Help, Version, Error };

// Reads the command line; on Error, error holds one line naming the fault.
ParseResult parseArguments(const QStringList& arguments, NoiseOptions& options, QString& error);

QString helpText();

#endif // IMU_NOISE_OPTIONS_H
