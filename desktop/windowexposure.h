// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef WINDOWEXPOSURE_H
#define WINDOWEXPOSURE_H

#include <QObject>
#include <QPointer>

class QWidget;
class QWindow;

// Whether anybody can see a top-level widget, also once it is shown inside
// another window: shown, its window not minimized, and on screen as far as
// the window system says (exposed). An X window is
// unexposed while unmapped; a Wayland window also while the compositor asks
// it for no frames, as for one on another workspace.
class WindowExposure : public QObject
{
    Q_OBJECT

public:
    // Watches window, and is its child.
    explicit WindowExposure(QWidget* window);

    bool isExposed() const { return exposed; }

signals:
    // On exposure, emitted before the window paints: what it is about to
    // show can still be brought up to date.
    void exposedChanged(bool exposed);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void update();

    QWidget* window;
    // The window it is shown in: itself, or the one it was put into.
    QPointer<QWidget> topLevel;
    // The window system's window, which exists from the first show on and
    // alone receives the expose events.
    QPointer<QWindow> handle;
    bool exposed = false;
};

#endif // WINDOWEXPOSURE_H
