// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef IMU_DECODE_OPTIONS_H
#define IMU_DECODE_OPTIONS_H

#include <QString>
#include <QStringList>

enum class OutputFormat { Csv, Console };

struct DecodeOptions
{
    // Exactly one of the two is set: a capture file ("-" for standard input)
    // or a serial port.
    QString inputFile;
    QString portName;

    QString outputFile; // empty: standard output
    QString rawFile;    // with a port: where the bytes received are kept; empty: nowhere
    OutputFormat format = OutputFormat::Csv;
    quint64 count = 0;     // 0: no limit
    double duration = 0.0; // seconds; 0: no limit
};

enum class ParseResult { Run, Help, Error };

// Reads the command line; on Error, error holds one line naming the fault.
ParseResult parseArguments(const QStringList& arguments, DecodeOptions& options, QString& error);

QString helpText();

#endif // IMU_DECODE_OPTIONS_H
