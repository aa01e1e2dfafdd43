// SPDX-License-Identifier: GPL-3.0-or-later
#include "highdpi.h"
#include "widget.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    enableHighDpiScaling();
    QApplication app(argc, argv);
    int exitCode = 0;
    {
        Widget window;
        window.show();
        exitCode = app.exec();
    }
    return exitCode;
}
