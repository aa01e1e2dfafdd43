// SPDX-License-Identifier: GPL-3.0-or-later
// imu-monitor-demo: the monitor's window with a simulated board listed first,
// for trying the monitor without hardware.

#include "highdpi.h"
#include "screenfit.h"
#include "simulatedboard.h"
#include "widget.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QPushButton>
#include <QTimer>

#include <cstdio>
#include <cstring>
#include <memory>

namespace {

// The options QCommandLineParser::addHelpOption() answers to.
bool asksForHelp(int argc, char* argv[])
{
    for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i)
        for (const char* help : {"-h", "--help", "-?", "--help-all"})
            if (std::strcmp(argv[i], help) == 0)
                return true;
    return false;
}

} // namespace

int main(int argc, char* argv[])
{
    enableHighDpiScaling();
    // Printing the help needs no window, and a window application cannot
    // start without a display: asked for help, the demo starts without one.
    const std::unique_ptr<QCoreApplication> app(asksForHelp(argc, argv)
                                                    ? new QCoreApplication(argc, argv)
                                                    : new QApplication(argc, argv));

    QCommandLineParser options;
    options.setApplicationDescription(
        "Starts imu-sim, a simulated IMU board on a pseudo-terminal, and opens the monitor's "
        "window with that board listed first: click Connect to watch it.");
    const QCommandLineOption connectOption(
        "connect", "Connect to the first listed port at start, as if Connect were clicked.");
    const QCommandLineOption replayOption(
        "replay",
        "List a replay of <file> first instead: a recording (CSV) or a raw capture, as imu-sim --replay "
        "plays it. Reset IMU plays it again from the start.",
        "file");
    const QCommandLineOption recordOption(
        "record", "Start recording at start, as if Record were clicked (into Documents/Telvorin IMU).");
    const QCommandLineOption stillOption(
        "still",
        "List the still board instead: lying level with known noise (imu-sim --still with its defaults), "
        "the ground truth for the Noise window.");
    options.addOption(connectOption);
    options.addOption(recordOption);
    options.addOption(replayOption);
    options.addOption(stillOption);
    options.addHelpOption();
    options.process(*app);

    if (options.isSet(stillOption) && options.isSet(replayOption)) {
        std::fprintf(stderr, "imu-monitor-demo: --still and --replay exclude each other\n");
        return 2;
    }

    SimulatedBoard board;
    QString error;
    if (options.isSet(stillOption)) {
        if (!board.startStill(SimulatedBoard::locateSimulator(), {}, error))
            std::fprintf(stderr,
                         "imu-monitor-demo: the simulated still board did not start (%s); only the "
                         "system's serial ports are listed\n",
                         qPrintable(error));
    } else if (options.isSet(replayOption)) {
        // A window without the replay it was asked for would show nothing.
        if (!board.startReplay(SimulatedBoard::locateSimulator(), options.value(replayOption), error)) {
            if (board.refusedItsArguments())
                return 2; // imu-sim has said what is wrong with the file
            std::fprintf(stderr, "imu-monitor-demo: the replay did not start (%s)\n", qPrintable(error));
            return 1;
        }
    } else if (!board.start(SimulatedBoard::locateSimulator(), {}, error)) {
        std::fprintf(stderr,
                     "imu-monitor-demo: the simulated board did not start (%s); only the "
                     "system's serial ports are listed\n",
                     qPrintable(error));
    }

    int exitCode = 0;
    {
        Widget window(nullptr, board.portSource());
        const auto fitted = showFitted(&window);
        if (options.isSet(connectOption)) {
            auto* connectButton = window.findChild<QPushButton*>("connect_button");
            QTimer::singleShot(0, connectButton, [connectButton] {
                if (connectButton->isEnabled())
                    connectButton->click();
            });
        }
        if (options.isSet(recordOption))
            window.findChild<QPushButton*>("record_pb")->click();
        exitCode = QApplication::exec();
    }
    // The board goes with the window.
    board.stop();
    return exitCode;
}
