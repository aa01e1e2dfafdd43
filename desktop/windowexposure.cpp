// SPDX-License-Identifier: GPL-3.0-or-later
#include "windowexposure.h"

#include <QEvent>
#include <QWidget>
#include <QWindow>

WindowExposure::WindowExposure(QWidget* window)
    : QObject(window)
    , window(window)
{
    window->installEventFilter(this);
    update();
}

bool WindowExposure::eventFilter(QObject*, QEvent* event)
{
    switch (event->type()) {
    case QEvent::Show:
    case QEvent::Hide:
    case QEvent::WindowStateChange:
    case QEvent::Expose:
        update();
        break;
    default:
        break;
    }
    return false;
}

void WindowExposure::update()
{
    QWindow* current = window->windowHandle();
    if (current != handle) {
        if (handle)
            handle->removeEventFilter(this);
        handle = current;
        if (handle)
            handle->installEventFilter(this);
    }
    // A minimized window may still count as exposed (the offscreen platform,
    // a Wayland compositor that keeps asking for frames); the toolkit does
    // not paint it either.
    const bool now = window->isVisible() && !window->isMinimized() && handle && handle->isExposed();
    if (now == exposed)
        return;
    exposed = now;
    emit exposedChanged(exposed);
}
