// SPDX-License-Identifier: GPL-3.0-or-later
// imu-noise: a still board's bias, noise density, bias instability, random
// walk, drift and spectrum from a recording, headless.

#include "noiseanalysis.h"
#include "noisereport.h"
#include "noisesource.h"
#include "options.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstdio>

namespace {

// Bad arguments, a file that cannot be read, a span too short.
constexpr int UsageStatus = 2;

void printError(const QString& line)
{
    std::fprintf(stderr, "imu-noise: %s\n", qPrintable(line));
    std::fflush(stderr);
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("imu-noise"));

    NoiseOptions options;
    QString error;
    switch (parseArguments(QCoreApplication::arguments(), options, error)) {
    case ParseResult::Help:
        std::fputs(qPrintable(helpText()), stdout);
        return 0;
    case ParseResult::Version:
        std::fputs("imu-noise " IMU_VERSION "\n", stdout);
        return 0;
    case ParseResult::Error:
        printError(error + QStringLiteral(" (see --help)"));
        return UsageStatus;
    case ParseResult::Run:
        break;
    }

    QElapsedTimer reading;
    reading.start();
    Noise::SpanReader reader;
    reader.setLimits(options.from, options.to);
    Noise::Span span;
    if (!reader.read(options.inputFile, span, error)) {
        printError(error);
        return UsageStatus;
    }
    const double secondsReading = double(reading.nsecsElapsed()) / 1e9;
    if (!reader.warning().isEmpty())
        printError(reader.warning());
    if (span.size() < Noise::MinimumRecords) {
        printError(QStringLiteral("%1: the span holds %2 records of the file's %3; at least %4 are needed")
                       .arg(options.inputFile)
                       .arg(span.size())
                       .arg(reader.recordsInFile())
                       .arg(Noise::MinimumRecords));
        return UsageStatus;
    }

    const Noise::Result result = Noise::analyse(span);
    if (options.json) {
        std::fputs(Noise::toJson(result, options.inputFile, secondsReading).toJson(QJsonDocument::Indented).constData(),
                   stdout);
    } else {
        std::printf("%s: ", qPrintable(options.inputFile));
        std::fputs(qPrintable(Noise::textTable(result)), stdout);
        if (result.lostFrames > 0)
            std::printf("\n%lld lost frames in the span: the records are taken as evenly spaced regardless\n",
                        static_cast<long long>(result.lostFrames));
        std::printf("\nread in %.3f s, analysed in %.3f s\n", secondsReading, result.secondsAnalysing);
    }
    std::fflush(stdout);
    return std::ferror(stdout) ? 1 : 0;
}
