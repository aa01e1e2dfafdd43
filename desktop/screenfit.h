// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef SCREENFIT_H
#define SCREENFIT_H

#include <QMargins>
#include <QPointer>
#include <QScrollArea>
#include <QSize>

#include <memory>

class QWindow;

// How a window of a fixed-size form fits a screen's available area (the
// screen without its panels), its frame (title bar and borders) around it.
struct ScreenFit
{
    // The frame a window manager puts around a window, assumed until the
    // window is shown and the frame known: a title bar and thin borders.
    static QMargins expectedFrame() { return QMargins(4, 32, 4, 4); }

    // The window's size, frame excluded: the form's own where it fits,
    // else no larger than the area, with room for the scroll bars needed.
    static ScreenFit of(const QSize& available, const QSize& form, const QMargins& frame, int scrollBarExtent);

    QSize size;
    bool scrolls = false;
};

// A window that shows a form too large for the screen in a scroll area.
// The form keeps its children, their places and its own size; the window
// carries the form's title and icon as they change, and its close is the
// form's: the form hears it first and may refuse it. The form is given back,
// without a parent, when the window goes.
class FittedWindow : public QScrollArea
{
    Q_OBJECT

public:
    explicit FittedWindow(QWidget* form);
    ~FittedWindow() override;

    QWidget* form() const { return shown; }
    // Sized for its screen with the frame as known now.
    void fit();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    QPointer<QWidget> shown;
    QPointer<QWindow> handle;
    bool fittedToFrame = false;
};

// Shows form as a program's main window: the form itself where it fits the
// available area of its screen, else in a FittedWindow, returned; it must
// go before the form does.
std::unique_ptr<FittedWindow> showFitted(QWidget* form);

// A resizable window's first size: what it asks for, no larger than the
// available area of its screen (nor smaller than its minimum).
void limitToScreen(QWidget* window);

#endif // SCREENFIT_H
