// SPDX-License-Identifier: GPL-3.0-or-later
#include "attitudewindow.h"

#include "attitudeview.h"

#include <QAbstractButton>
#include <QCloseEvent>
#include <QTimer>
#include <QVBoxLayout>

AttitudeWindow::AttitudeWindow(QAbstractButton* button, QTimer* redrawTick, QWidget* monitor)
    : QWidget(monitor, Qt::Tool)
    , button(button)
    , attitudeView(new AttitudeView(this))
{
    setObjectName("attitude_window");
    setWindowTitle("Attitude");
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(attitudeView);
    resize(attitudeView->sizeHint());

    connect(button, &QAbstractButton::toggled, this, &QWidget::setVisible);
    connect(redrawTick, &QTimer::timeout, attitudeView, &AttitudeView::redrawIfChanged);
}

void AttitudeWindow::showRecord(const UART_RCV& displayed)
{
    attitudeView->setValues(
        {displayed.angle1, displayed.angle2, displayed.angle3, displayed.accel1, displayed.accel2, displayed.accel3});
}

void AttitudeWindow::closeEvent(QCloseEvent* event)
{
    event->accept();
    if (button)
        button->setChecked(false);
}
