// SPDX-License-Identifier: GPL-3.0-or-later
#include "highdpi.h"
#include "screenfit.h"
#include "loadedrecording.h"
#include "viewerwindow.h"
#include "widget.h"

#include <QApplication>
#include <QFile>

#include <cstdio>
#include <memory>
#include <vector>

namespace {

const char Usage[] = "usage: imu-monitor [FILE...]\n"
                     "Without FILE, the live monitor of a board on a serial port. With FILE, each\n"
                     "recording (CSV, as Record or imu-decode write it) in a viewer of its own, and\n"
                     "no live window; a file that is no recording is named with its line, status 2.\n";

} // namespace

int main(int argc, char* argv[])
{
    enableHighDpiScaling();

    // Recordings given on the command line (a file manager's "open with")
    // are read before any window opens: a bad one ends the run with the
    // reader's line, with no window flashing up.
    std::vector<std::unique_ptr<LoadedRecording>> recordings;
    bool optionsEnd = false;
    for (int i = 1; i < argc; ++i) {
        const QString argument = QFile::decodeName(argv[i]);
        if (!optionsEnd && argument == QLatin1String("--")) {
            optionsEnd = true;
            continue;
        }
        if (!optionsEnd && (argument == QLatin1String("--help") || argument == QLatin1String("-h"))) {
            std::fputs(Usage, stdout);
            return 0;
        }
        if (!optionsEnd && argument.startsWith(QLatin1Char('-')) && argument.size() > 1) {
            std::fprintf(stderr, "imu-monitor: unknown option %s\n%s", argv[i], Usage);
            return 2;
        }
        QString error;
        recordings.push_back(LoadedRecording::load(argument, error));
        if (!recordings.back()) {
            std::fprintf(stderr, "imu-monitor: %s\n", qPrintable(error));
            return 2;
        }
        if (!recordings.back()->cutOffText().isEmpty())
            std::fprintf(stderr, "imu-monitor: %s\n", qPrintable(recordings.back()->cutOffText()));
    }

    QApplication app(argc, argv);
    int exitCode = 0;
    if (!recordings.empty()) {
        // Only the viewers: the program ends when the last is closed.
        std::vector<std::unique_ptr<ViewerWindow>> viewers;
        for (auto& recording : recordings) {
            viewers.push_back(std::make_unique<ViewerWindow>(std::move(recording)));
            viewers.back()->show();
        }
        return QApplication::exec();
    }
    {
        Widget window;
        // Declared after the form, so it goes first and gives the form back.
        const auto fitted = showFitted(&window);
        exitCode = app.exec();
    }
    return exitCode;
}
