// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef ATTITUDEWINDOW_H
#define ATTITUDEWINDOW_H

#include <QPointer>
#include <QWidget>

#include "parser.h"

class AttitudeView;
class QAbstractButton;
class QTimer;

// The attitude view in a tool window of the monitor, paired with a
// checkable button: checking it shows the window, closing the window
// unchecks it. It draws on the monitor's redraw tick, and only while shown.
class AttitudeWindow : public QWidget
{
    Q_OBJECT

public:
    AttitudeWindow(QAbstractButton* button, QTimer* redrawTick, QWidget* monitor);

    // A displayed record (axes already mapped to the displayed ones).
    void showRecord(const UART_RCV& displayed);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    // The monitor's form goes first when the monitor is destroyed.
    QPointer<QAbstractButton> button;
    AttitudeView* attitudeView;
};

#endif // ATTITUDEWINDOW_H
