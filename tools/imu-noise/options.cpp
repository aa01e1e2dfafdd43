// SPDX-License-Identifier: GPL-3.0-or-later
#include "options.h"

#include <QCommandLineParser>

QString helpText()
{
    return QStringLiteral(
        "Usage: imu-noise [options] FILE\n"
        "\n"
        "Judges a still IMU board from a recording (the monitor's or imu-decode's\n"
        "CSV, with or without host_time) or a raw capture of the link: per channel\n"
        "the mean and standard deviation, the overlapping Allan deviation at the\n"
        "octaves tau = 1, 2, 4, ... samples up to a quarter of the span with its\n"
        "68.3 % chi-squared confidence interval, and the spectrum (Welch).\n"
        "Accelerations (mg): white noise N (the falling half-slope line at tau = 1 s,\n"
        "ug/sqrt(Hz), two-sided), bias instability B (the minimum / 0.664, ug, with its\n"
        "tau and the minimum itself), random walk K (the rising half-slope line at\n"
        "tau = 3 s, ug/sqrt(s)) and the amplitude spectral density floor (median from\n"
        "1 Hz to Nyquist, one-sided, so sqrt(2) N for white noise). Angles: the Allan\n"
        "deviation of their rate in deg/s (the angle unwrapped across +-180 deg) and\n"
        "the drift rate (least-squares slope, deg/min and deg/h, with its standard\n"
        "error).\n"
        "\n"
        "The sample rate is the records' own (records - 1 over the span of host_time;\n"
        "the link's full rate without it); lost frames are counted, not filled in.\n"
        "A figure under twice the floor of the stream's 1 mg or 0.01 deg step is\n"
        "flagged as at the resolution limit.\n"
        "\n"
        "Options:\n"
        "  --from T             start of the span: a time of day hh:mm:ss[.zzz] on\n"
        "                       the recording's clock, or seconds from its start\n"
        "  --to T               end of the span, the same way (both ends included)\n"
        "  --json               print the whole result as one JSON document instead\n"
        "                       of the table\n"
        "  -h, --help           show this text\n"
        "  --version            show the version\n"
        "\n"
        "Exit status: 0 done; 1 writing the output failed; 2 bad arguments, a file\n"
        "that cannot be read or is no recording (the reader's line FILE:LINE: what,\n"
        "on standard error), or a span of fewer than 100 records.\n");
}

ParseResult parseArguments(const QStringList& arguments, NoiseOptions& options, QString& error)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsCompactedShortOptions);
    const QCommandLineOption from(QStringLiteral("from"), QString(), QStringLiteral("T"));
    const QCommandLineOption to(QStringLiteral("to"), QString(), QStringLiteral("T"));
    const QCommandLineOption json(QStringLiteral("json"));
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption version(QStringLiteral("version"));
    parser.addOptions({from, to, json, help, version});
    parser.addPositionalArgument(QStringLiteral("file"), QString());

    if (!parser.parse(arguments)) {
        error = parser.errorText();
        return ParseResult::Error;
    }
    if (parser.isSet(help))
        return ParseResult::Help;
    if (parser.isSet(version))
        return ParseResult::Version;
    for (const QCommandLineOption* option : {&from, &to}) {
        if (parser.values(*option).size() > 1) {
            error = QStringLiteral("--%1 given more than once").arg(option->names().constLast());
            return ParseResult::Error;
        }
    }
    const QStringList positional = parser.positionalArguments();
    if (positional.isEmpty()) {
        error = QStringLiteral("no file given");
        return ParseResult::Error;
    }
    if (positional.size() > 1) {
        error = QStringLiteral("more than one file given: %1").arg(positional.join(QLatin1Char(' ')));
        return ParseResult::Error;
    }
    options.inputFile = positional.constFirst();
    if (options.inputFile.isEmpty()) {
        error = QStringLiteral("empty file name");
        return ParseResult::Error;
    }
    if (parser.isSet(from) && !Noise::SpanLimit::parse(parser.value(from), options.from, error)) {
        error.prepend(QStringLiteral("--from: "));
        return ParseResult::Error;
    }
    if (parser.isSet(to) && !Noise::SpanLimit::parse(parser.value(to), options.to, error)) {
        error.prepend(QStringLiteral("--to: "));
        return ParseResult::Error;
    }
    options.json = parser.isSet(json);
    return ParseResult::Run;
}
