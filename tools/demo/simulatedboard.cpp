// SPDX-License-Identifier: GPL-3.0-or-later
#include "simulatedboard.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFileInfo>

#include <csignal>
#include <sys/prctl.h>

namespace {
constexpr int StartTimeoutMs = 5000;
constexpr int ReplayStartTimeoutMs = 60000;
// imu-sim's exit status for a bad argument or a file it cannot replay.
constexpr int BadArgumentStatus = 2;

bool isExecutable(const QString& path)
{
    const QFileInfo info(path);
    return info.isFile() && info.isExecutable();
}
} // namespace

SimulatedBoard::SimulatedBoard()
{
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    process.setChildProcessModifier(&SimulatedBoard::endWithParent);
#endif
}

SimulatedBoard::~SimulatedBoard()
{
    stop();
}

void SimulatedBoard::endWithParent()
{
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
}

QString SimulatedBoard::locateSimulator()
{
    const QString beside = QCoreApplication::applicationDirPath() + "/imu-sim";
    if (isExecutable(beside))
        return beside;
#ifdef IMU_SIM_BUILD_PATH
    if (isExecutable(QStringLiteral(IMU_SIM_BUILD_PATH)))
        return QStringLiteral(IMU_SIM_BUILD_PATH);
#endif
    return {};
}

bool SimulatedBoard::start(const QString& program, const QStringList& arguments, QString& error)
{
    description = Description;
    return start(program, arguments, StartTimeoutMs, error);
}

bool SimulatedBoard::startStill(const QString& program, const QStringList& arguments, QString& error)
{
    description = StillDescription;
    return start(program, QStringList {QStringLiteral("--still")} + arguments, StartTimeoutMs, error);
}

bool SimulatedBoard::startReplay(const QString& program, const QString& file, QString& error)
{
    description = QStringLiteral("Replay of %1").arg(QFileInfo(file).fileName());
    return start(program, {QStringLiteral("--replay"), file}, ReplayStartTimeoutMs, error);
}

bool SimulatedBoard::refusedItsArguments() const
{
    return process.state() == QProcess::NotRunning && process.exitStatus() == QProcess::NormalExit
           && process.exitCode() == BadArgumentStatus;
}

bool SimulatedBoard::start(const QString& program, const QStringList& arguments, int timeoutMs, QString& error)
{
    stop();
    if (program.isEmpty()) {
        error = "imu-sim was not found next to this program nor in the build tree";
        return false;
    }
    // Its messages (the reset, ignored input, the final counts) are worth
    // seeing in the terminal the demo runs in.
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(program, arguments);
    if (!process.waitForStarted(StartTimeoutMs)) {
        error = QString("%1: %2").arg(program, process.errorString());
        return false;
    }
    const QDeadlineTimer deadline(timeoutMs);
    while (!process.canReadLine() && process.state() == QProcess::Running && !deadline.hasExpired())
        process.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
    const QString line = QString::fromLocal8Bit(process.readLine()).trimmed();
    if (line.isEmpty() || process.state() != QProcess::Running) {
        error = process.state() == QProcess::Running
                    ? QString("%1 did not name its pseudo-terminal").arg(program)
                    : QString("%1 ended at start with status %2").arg(program).arg(process.exitCode());
        stop();
        return false;
    }
    path = line;
    return true;
}

QString SimulatedBoard::portPath() const
{
    return isRunning() ? path : QString();
}

bool SimulatedBoard::isRunning() const
{
    return process.state() == QProcess::Running && !path.isEmpty();
}

void SimulatedBoard::stop()
{
    if (process.state() != QProcess::NotRunning) {
        process.terminate();
        if (!process.waitForFinished(3000)) {
            process.kill();
            process.waitForFinished(3000);
        }
    }
    path.clear();
}

PortSource SimulatedBoard::portSource(PortSource real) const
{
    return [this, real = std::move(real)] {
        QList<PortEntry> ports;
        if (isRunning())
            ports.append({path, description});
        if (real)
            ports.append(real());
        return ports;
    };
}
