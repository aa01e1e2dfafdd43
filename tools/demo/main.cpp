// SPDX-License-Identifier: GPL-3.0-or-later
// imu-monitor-demo: the monitor's window with a simulated board listed first,
// for trying the monitor without hardware.

#include "simulatedboard.h"
#include "widget.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QPushButton>
#include <QTimer>

#include <cstdio>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);

    QCommandLineParser options;
    options.setApplicationDescription(
        "Starts imu-sim, a simulated IMU board on a pseudo-terminal, and opens the monitor's "
        "window with that board listed first: click Connect to watch it.");
    const QCommandLineOption connectOption(
        "connect", "Connect to the first listed port at start, as if Connect were clicked.");
    options.addOption(connectOption);
    options.addHelpOption();
    options.process(app);

    SimulatedBoard board;
    QString error;
    if (!board.start(SimulatedBoard::locateSimulator(), {}, error))
        std::fprintf(stderr,
                     "imu-monitor-demo: the simulated board did not start (%s); only the "
                     "system's serial ports are listed\n",
                     qPrintable(error));

    int exitCode = 0;
    {
        Widget window(nullptr, board.portSource());
        window.show();
        if (options.isSet(connectOption)) {
            auto* connectButton = window.findChild<QPushButton*>("connect_button");
            QTimer::singleShot(0, connectButton, [connectButton] {
                if (connectButton->isEnabled())
                    connectButton->click();
            });
        }
        exitCode = app.exec();
    }
    // The board goes with the window.
    board.stop();
    return exitCode;
}
