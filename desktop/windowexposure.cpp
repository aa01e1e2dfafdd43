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
    // Shown in another window (a scroll area's on a small screen): that
    // window's state is what counts now.
    case QEvent::ParentChange:
        update();
        break;
    default:
        break;
    }
    return false;
}

void WindowExposure::update()
{
    QWidget* top = window->window();
    if (top != topLevel) {
        if (topLevel && topLevel != window)
            topLevel->removeEventFilter(this);
        topLevel = top;
        if (top != window)
            top->installEventFilter(this);
    }
    QWindow* current = top->windowHandle();
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
    const bool now = window->isVisible() && !top->isMinimized() && handle && handle->isExposed();
    if (now == exposed)
        return;
    exposed = now;
    emit exposedChanged(exposed);
}
