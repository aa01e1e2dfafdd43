// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef RECORDER_H
#define RECORDER_H

#include "parser.h"
#include "recording.h"

#include <QObject>

class QPushButton;

// The window's Record button: a click starts a recording at once, whatever
// the port is doing, and the next click ends it. The button stays checked,
// with a red dot, for as long as the recording runs, and comes back when a
// fault ends it.
class Recorder : public QObject
{
    Q_OBJECT

public:
    // How long closing the window waits for each file to be complete.
    static constexpr int ClosingWaitMs = 5000;

    // button is checkable; it is checked while a recording runs.
    Recorder(QPushButton* button, QObject* parent);

    void add(const UART_RCV& remapped, qint64 msSinceEpoch)
    {
        if (current)
            current->add(remapped, msSinceEpoch);
    }

    // The recording in progress, or null.
    Recording* recording() const { return current; }

    // For the window's closing: ends every recording, each file complete,
    // and says so while the console is still there.
    void finishAll();

signals:
    void logged(const QString& line);

private:
    void onClicked(bool checked);
    void showRecording(bool recording);

    QPushButton* button;
    Recording* current = nullptr;
};

#endif // RECORDER_H
