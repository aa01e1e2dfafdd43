// SPDX-License-Identifier: GPL-3.0-or-later
#include "screenfit.h"

#include <QCloseEvent>
#include <QScreen>
#include <QScrollBar>
#include <QStyle>
#include <QWindow>

namespace {

int scrollBarExtent(const QWidget* widget)
{
    return widget->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, widget);
}

QSize roomOn(const QSize& available, const QMargins& frame)
{
    return QSize(available.width() - frame.left() - frame.right(), available.height() - frame.top() - frame.bottom());
}

} // namespace

ScreenFit ScreenFit::of(const QSize& available, const QSize& form, const QMargins& frame, int scrollBarExtent)
{
    const QSize room = roomOn(available, frame);
    ScreenFit fit;
    fit.size = form;
    bool vertical = form.height() > room.height();
    bool horizontal = form.width() > room.width();
    if (!vertical && !horizontal)
        return fit;
    fit.scrolls = true;
    // A scroll bar takes room across the form: it may need the other.
    if (vertical && !horizontal)
        horizontal = form.width() + scrollBarExtent > room.width();
    if (horizontal && !vertical)
        vertical = form.height() + scrollBarExtent > room.height();
    fit.size = QSize(qMin(room.width(), form.width() + (vertical ? scrollBarExtent : 0)),
                     qMin(room.height(), form.height() + (horizontal ? scrollBarExtent : 0)))
                   .expandedTo(QSize(1, 1));
    return fit;
}

FittedWindow::FittedWindow(QWidget* form)
    : shown(form)
{
    setObjectName(QStringLiteral("fitted_window"));
    // The form's own background, and no frame of the scroll area's around it.
    setFrameShape(QFrame::NoFrame);
    setBackgroundRole(form->backgroundRole());
    // Keys go where they went in the form: a scroll area that took the
    // focus would keep them from it.
    setFocusPolicy(Qt::NoFocus);
    setWidget(form);
    setWindowTitle(form->windowTitle());
    setWindowIcon(form->windowIcon());
    form->installEventFilter(this);
    fit();
}

FittedWindow::~FittedWindow()
{
    if (shown) {
        shown->removeEventFilter(this);
        takeWidget();
    }
}

void FittedWindow::fit()
{
    const QScreen* screen = this->screen();
    if (!shown || !screen)
        return;
    const QRect area = screen->availableGeometry();
    // The frame is known once the window manager has put it around the
    // shown window; without one (a virtual display) there is none.
    const QMargins frame = fittedToFrame && handle ? handle->frameMargins() : ScreenFit::expectedFrame();
    resize(ScreenFit::of(area.size(), shown->size(), frame, scrollBarExtent(this)).size);
    if (!fittedToFrame)
        return;
    // The whole window on the screen, title bar included.
    const QRect outer = frameGeometry();
    const int x = qBound(area.left(), outer.left(), qMax(area.left(), area.right() + 1 - outer.width()));
    const int y = qBound(area.top(), outer.top(), qMax(area.top(), area.bottom() + 1 - outer.height()));
    if (QPoint(x, y) != outer.topLeft())
        move(x, y);
}

bool FittedWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == shown && event->type() == QEvent::WindowTitleChange) {
        setWindowTitle(shown->windowTitle());
    } else if (watched == shown && event->type() == QEvent::WindowIconChange) {
        // Without an icon of its own the form shows this window's, which
        // then comes back here unchanged.
        const QIcon icon = shown->windowIcon();
        if (icon.cacheKey() != windowIcon().cacheKey())
            setWindowIcon(icon);
    } else if (watched == handle && event->type() == QEvent::Expose && !fittedToFrame && handle->isExposed()) {
        fittedToFrame = true;
        fit();
    }
    return QScrollArea::eventFilter(watched, event);
}

void FittedWindow::closeEvent(QCloseEvent* event)
{
    // Whatever the form does on closing it does here; refused, the window
    // stays.
    if (!shown || shown->close())
        event->accept();
    else
        event->ignore();
}

void FittedWindow::showEvent(QShowEvent* event)
{
    if (shown && shown->isHidden())
        shown->show();
    if (windowHandle() != handle) {
        handle = windowHandle();
        if (handle)
            handle->installEventFilter(this);
    }
    QScrollArea::showEvent(event);
}

std::unique_ptr<FittedWindow> showFitted(QWidget* form)
{
    const QScreen* screen = form->screen();
    const bool fits = !screen
        || !ScreenFit::of(screen->availableGeometry().size(), form->size(), ScreenFit::expectedFrame(),
                          scrollBarExtent(form))
                .scrolls;
    if (fits) {
        form->show();
        return nullptr;
    }
    auto window = std::make_unique<FittedWindow>(form);
    window->show();
    return window;
}

void limitToScreen(QWidget* window)
{
    const QScreen* screen = window->screen();
    if (!screen)
        return;
    const QSize room = roomOn(screen->availableGeometry().size(), ScreenFit::expectedFrame());
    const QSize wanted = window->testAttribute(Qt::WA_Resized) ? window->size() : window->sizeHint();
    window->resize(wanted.boundedTo(room).expandedTo(window->minimumSizeHint()).expandedTo(window->minimumSize()));
}
