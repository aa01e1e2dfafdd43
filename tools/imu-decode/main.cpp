// SPDX-License-Identifier: GPL-3.0-or-later
// imu-decode: the monitor's parser without the window, for recording a board
// on a headless machine and for decoding captures afterwards.

#include "decodesession.h"
#include "filedecoder.h"
#include "options.h"
#include "portrecorder.h"
#include "stopsignals.h"

#include <QCoreApplication>
#include <QFile>

#include <memory>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

void printError(const QString& line)
{
    std::fprintf(stderr, "imu-decode: %s\n", qPrintable(line));
    std::fflush(stderr);
}

// Bad arguments, unreadable input, a port that cannot be opened.
constexpr int UsageStatus = 2;
constexpr int WriteFailedStatus = 1;

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("imu-decode"));

    DecodeOptions options;
    QString error;
    switch (parseArguments(QCoreApplication::arguments(), options, error)) {
    case ParseResult::Help:
        std::fputs(qPrintable(helpText()), stdout);
        return 0;
    case ParseResult::Error:
        printError(error + QStringLiteral(" (see --help)"));
        return UsageStatus;
    case ParseResult::Run:
        break;
    }

    if (!StopSignals::install()) {
        printError(QStringLiteral("cannot set up signal handling: %1").arg(QString::fromLocal8Bit(std::strerror(errno))));
        return UsageStatus;
    }

    // The input first, so that a missing capture or port leaves no empty
    // output file behind.
    const bool fromPort = !options.portName.isEmpty();
    FileDecoder file;
    PortRecorder recorder;
    if (fromPort ? !recorder.open(options.portName, error) : !file.open(options.inputFile, error)) {
        printError(error);
        return UsageStatus;
    }

    int outputFd = STDOUT_FILENO;
    if (!options.outputFile.isEmpty() && options.outputFile != QLatin1String("-")) {
        outputFd = ::open(QFile::encodeName(options.outputFile).constData(),
                          O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (outputFd < 0) {
            printError(QStringLiteral("cannot write '%1': %2")
                           .arg(options.outputFile, QString::fromLocal8Bit(std::strerror(errno))));
            return UsageStatus;
        }
    }
    int rawFd = -1;
    if (!options.rawFile.isEmpty()) {
        rawFd = ::open(QFile::encodeName(options.rawFile).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (rawFd < 0) {
            printError(QStringLiteral("cannot write '%1': %2")
                           .arg(options.rawFile, QString::fromLocal8Bit(std::strerror(errno))));
            if (outputFd != STDOUT_FILENO)
                ::close(outputFd);
            return UsageStatus;
        }
    }
    auto session = std::make_unique<DecodeSession>(options.format, outputFd, options.count);
    if (rawFd >= 0)
        session->keepRawBytes(rawFd);

    session->writeHeader();
    int status = 0;
    if (fromPort) {
        if (!session->flush()) // the header, so that tail -f shows it at once
            status = WriteFailedStatus;
        else
            status = recorder.run(*session, options.duration);
    } else {
        status = file.run(*session, options.duration, error);
        if (status != 0)
            printError(error);
    }

    if (!session->flush() || status == WriteFailedStatus) {
        QString failed = options.outputFile.isEmpty() ? QStringLiteral("standard output") : options.outputFile;
        if (session->rawOutputFailed())
            failed = options.rawFile;
        printError(QStringLiteral("cannot write '%1': %2").arg(failed, session->writeError()));
        if (status == 0)
            status = WriteFailedStatus;
    }
    const QString summary = fromPort ? session->summary(recorder.framesPerSecond()) : session->summary();
    std::fprintf(stderr, "%s\n", qPrintable(summary));
    std::fflush(stderr);

    session.reset();
    if (outputFd != STDOUT_FILENO)
        ::close(outputFd);
    if (rawFd >= 0)
        ::close(rawFd);
    return status;
}
