// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef SIMULATEDBOARD_H
#define SIMULATEDBOARD_H

#include "widget.h"

#include <QProcess>
#include <QString>
#include <QStringList>

// The imu-sim child process of the demo: a board on a pseudo-terminal that
// the window lists first, ahead of the system's serial ports.
class SimulatedBoard
{
public:
    static constexpr const char* Description = "Simulated IMU board";
    static constexpr const char* StillDescription = "Simulated still IMU board";

    SimulatedBoard();
    // Ends the simulator.
    ~SimulatedBoard();

    SimulatedBoard(const SimulatedBoard&) = delete;
    SimulatedBoard& operator=(const SimulatedBoard&) = delete;

    // imu-sim next to the running program (an installed demo), else the one
    // of the build tree; empty when neither exists.
    static QString locateSimulator();

    // Starts program and waits for the pseudo-terminal's path on its first
    // line of output. On failure returns false, with the reason in error.
    bool start(const QString& program, const QStringList& arguments, QString& error);

    // Starts program as the still board (imu-sim --still: level, at rest,
    // with known noise), listed as such; arguments go after --still.
    bool startStill(const QString& program, const QStringList& arguments, QString& error);

    // Starts program replaying a recording (or capture), listed as "Replay
    // of" the file's name. imu-sim checks the whole file before it names its
    // pseudo-terminal, which for hours of recording takes seconds.
    bool startReplay(const QString& program, const QString& file, QString& error);

    // The simulator ended at start because it refused its arguments or the
    // file to replay; it said why on standard error.
    bool refusedItsArguments() const;

    // The pseudo-terminal's path while the simulator runs, else empty.
    QString portPath() const;
    bool isRunning() const;

    // Terminates the simulator and waits for it.
    void stop();

    // The port list of the window: the simulated board first while it runs,
    // then whatever real lists.
    PortSource portSource(PortSource real = systemSerialPorts) const;

private:
    // Run in the child before it becomes the simulator: the simulator also
    // ends when the demo dies without closing its window (killed, crashed),
    // so none is left running on its own.
    static void endWithParent();

#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    // Qt 5 takes that step as a virtual hook, Qt 6 as a function given to
    // the process (setChildProcessModifier).
    class ChildProcess : public QProcess
    {
    protected:
        void setupChildProcess() override { endWithParent(); }
    };
    ChildProcess process;
#else
    QProcess process;
#endif
    bool start(const QString& program, const QStringList& arguments, int timeoutMs, QString& error);

    QString path;
    QString description = Description;
};

#endif // SIMULATEDBOARD_H
