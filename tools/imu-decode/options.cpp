// SPDX-License-Identifier: GPL-3.0-or-later
#include "options.h"

#include <QCommandLineParser>
#include <QFileInfo>

#include <cmath>

namespace {

QCommandLineOption portOption()
{
    return {QStringLiteral("port"), QString(), QStringLiteral("device")};
}
QCommandLineOption outputOption()
{
    return {{QStringLiteral("o"), QStringLiteral("output")}, QString(), QStringLiteral("file")};
}
QCommandLineOption rawOption()
{
    return {QStringLiteral("raw"), QString(), QStringLiteral("file")};
}
QCommandLineOption formatOption()
{
    return {QStringLiteral("format"), QString(), QStringLiteral("csv|console")};
}
QCommandLineOption countOption()
{
    return {QStringLiteral("count"), QString(), QStringLiteral("N")};
}
QCommandLineOption durationOption()
{
    return {QStringLiteral("duration"), QString(), QStringLiteral("S")};
}
QCommandLineOption helpOption()
{
    return QCommandLineOption(QStringList{QStringLiteral("h"), QStringLiteral("help")});
}

} // namespace

QString helpText()
{
    return QStringLiteral(
        "Usage: imu-decode [options] CAPTURE\n"
        "  or:  imu-decode [options] --port DEVICE\n"
        "\n"
        "Decodes the IMU board's frames with the monitor's own parser, from a capture\n"
        "file or live from a serial port, and writes one line per record.\n"
        "\n"
        "Input (exactly one):\n"
        "  CAPTURE              a file of raw bytes as received from the board;\n"
        "                       \"-\" reads standard input\n"
        "  --port DEVICE        record from a serial port (e.g. /dev/ttyUSB0) at\n"
        "                       115200 baud, 8 data bits, no parity, no flow control\n"
        "\n"
        "Output:\n"
        "  -o, --output FILE    write to FILE instead of standard output\n"
        "  --format csv         (default) a header line, then one row per record:\n"
        "                       host_time,index,yaw_deg,pitch_deg,roll_deg,\n"
        "                       x_mg,y_mg,z_mg,x_ms2,y_ms2,z_ms2\n"
        "                       host_time is the local time the bytes were read\n"
        "                       (frames that arrive together share it), ISO 8601\n"
        "                       with milliseconds and the UTC offset (Z for UTC),\n"
        "                       e.g. 2026-03-05T14:07:09.123+01:00; it is empty\n"
        "                       when decoding a capture\n"
        "  --format console     the monitor's console line, without its time prefix\n"
        "  --raw FILE           with --port: also keep the bytes exactly as received\n"
        "                       in FILE, written along with the output; a capture\n"
        "                       that replays the link byte for byte\n"
        "\n"
        "Stopping (whichever comes first; otherwise at end of file, or for a port\n"
        "until the device goes away):\n"
        "  --count N            after N records\n"
        "  --duration S         after S seconds (decimals allowed)\n"
        "  SIGINT or SIGTERM    (Ctrl+C) ends cleanly, with the summary\n"
        "\n"
        "  -h, --help           show this text\n"
        "\n"
        "At the end a summary goes to standard error: records decoded, checksum\n"
        "misses, index misses, bytes dropped outside frames and, for a port, the\n"
        "frames per second achieved. From a port, output is flushed at least once a\n"
        "second, so `tail -f` follows it.\n"
        "\n"
        "Exit status: 0 done; 1 writing the output failed part-way; 2 bad arguments,\n"
        "unreadable input, an output file that cannot be created or a port that\n"
        "cannot be opened; 3 the port was lost while recording (everything received\n"
        "until then is written).\n");
}

ParseResult parseArguments(const QStringList& arguments, DecodeOptions& options, QString& error)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsCompactedShortOptions);
    const QCommandLineOption port = portOption();
    const QCommandLineOption output = outputOption();
    const QCommandLineOption raw = rawOption();
    const QCommandLineOption format = formatOption();
    const QCommandLineOption count = countOption();
    const QCommandLineOption duration = durationOption();
    const QCommandLineOption help = helpOption();
    parser.addOptions({port, output, raw, format, count, duration, help});
    parser.addPositionalArgument(QStringLiteral("capture"), QString());

    if (!parser.parse(arguments)) {
        error = parser.errorText();
        return ParseResult::Error;
    }
    if (parser.isSet(help))
        return ParseResult::Help;

    // A repeated option would silently lose one of its values.
    for (const QCommandLineOption* option : {&port, &output, &raw, &format, &count, &duration}) {
        if (parser.values(*option).size() > 1) {
            error = QStringLiteral("--%1 given more than once").arg(option->names().constLast());
            return ParseResult::Error;
        }
    }

    const QStringList positional = parser.positionalArguments();
    if (positional.size() > 1) {
        error = QStringLiteral("more than one capture file given: %1").arg(positional.join(QLatin1Char(' ')));
        return ParseResult::Error;
    }
    if (parser.isSet(port)) {
        if (!positional.isEmpty()) {
            error = QStringLiteral("give either a capture file or --port, not both");
            return ParseResult::Error;
        }
        options.portName = parser.value(port);
        if (options.portName.isEmpty()) {
            error = QStringLiteral("--port needs a device name");
            return ParseResult::Error;
        }
    } else if (positional.isEmpty()) {
        error = QStringLiteral("no input: give a capture file, \"-\" for standard input, or --port DEVICE");
        return ParseResult::Error;
    } else {
        options.inputFile = positional.constFirst();
        if (options.inputFile.isEmpty()) {
            error = QStringLiteral("empty capture file name");
            return ParseResult::Error;
        }
    }

    if (parser.isSet(output)) {
        options.outputFile = parser.value(output);
        if (options.outputFile.isEmpty()) {
            error = QStringLiteral("-o needs a file name");
            return ParseResult::Error;
        }
    }

    if (parser.isSet(raw)) {
        options.rawFile = parser.value(raw);
        if (options.portName.isEmpty()) {
            error = QStringLiteral("--raw needs --port: a capture file already is the raw bytes");
            return ParseResult::Error;
        }
        if (options.rawFile.isEmpty() || options.rawFile == QLatin1String("-")) {
            error = QStringLiteral("--raw needs a file name");
            return ParseResult::Error;
        }
        // One file written twice over would hold neither.
        if (!options.outputFile.isEmpty()
            && QFileInfo(options.rawFile).absoluteFilePath() == QFileInfo(options.outputFile).absoluteFilePath()) {
            error = QStringLiteral("--raw and --output name the same file '%1'").arg(options.rawFile);
            return ParseResult::Error;
        }
    }

    if (parser.isSet(format)) {
        const QString name = parser.value(format);
        if (name == QLatin1String("csv")) {
            options.format = OutputFormat::Csv;
        } else if (name == QLatin1String("console")) {
            options.format = OutputFormat::Console;
        } else {
            error = QStringLiteral("unknown --format '%1' (expected csv or console)").arg(name);
            return ParseResult::Error;
        }
    }

    if (parser.isSet(count)) {
        bool ok = false;
        const QString text = parser.value(count);
        options.count = text.toULongLong(&ok);
        if (!ok || options.count == 0 || text.startsWith(QLatin1Char('+'))) {
            error = QStringLiteral("--count needs a whole number of records above 0, not '%1'").arg(text);
            return ParseResult::Error;
        }
    }

    if (parser.isSet(duration)) {
        bool ok = false;
        const QString text = parser.value(duration);
        options.duration = text.toDouble(&ok);
        // Beyond about 24 days the millisecond timer would overflow.
        if (!ok || !std::isfinite(options.duration) || options.duration <= 0.0
            || options.duration > 2.0e6) {
            error = QStringLiteral("--duration needs a number of seconds above 0 (at most 2000000), not '%1'")
                        .arg(text);
            return ParseResult::Error;
        }
    }
    return ParseResult::Run;
}
