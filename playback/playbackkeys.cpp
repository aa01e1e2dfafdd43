// SPDX-License-Identifier: GPL-3.0-or-later
#include "playbackkeys.h"

#include "playhead.h"

#include <QAbstractButton>
#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextEdit>

PlaybackKeys::PlaybackKeys(PlayHead* head, QAbstractButton* play, QWidget* window)
    : QObject(window)
    , head(head)
    , play(play)
{
    watch(window);
    qApp->installEventFilter(this);
}

void PlaybackKeys::watch(QWidget* window)
{
    windows.append(window);
}

bool PlaybackKeys::textFieldHasFocus()
{
    QWidget* focus = QApplication::focusWidget();
    const auto* line = qobject_cast<QLineEdit*>(focus);
    const auto* plain = qobject_cast<QPlainTextEdit*>(focus);
    const auto* rich = qobject_cast<QTextEdit*>(focus);
    return (line && !line->isReadOnly()) || (plain && !plain->isReadOnly()) || (rich && !rich->isReadOnly());
}

bool PlaybackKeys::isWatched(QObject* receiver) const
{
    const auto* widget = qobject_cast<QWidget*>(receiver);
    if (!widget)
        return false;
    // A combo box's open list is a window of its own: its keys stay its own.
    QWidget* window = widget->window();
    for (const QPointer<QWidget>& watched : windows)
        if (watched == window)
            return true;
    return false;
}

bool PlaybackKeys::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::KeyPress || !isWatched(watched) || textFieldHasFocus())
        return QObject::eventFilter(watched, event);
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
        return false;
    switch (key->key()) {
    case Qt::Key_Space:
        // Held down, it would play and pause in turns.
        if (!key->isAutoRepeat() && play)
            play->toggle();
        return true;
    case Qt::Key_Left:
        head->stepRecords(-1);
        return true;
    case Qt::Key_Right:
        head->stepRecords(1);
        return true;
    case Qt::Key_PageUp:
        head->stepTime(-PageMs);
        return true;
    case Qt::Key_PageDown:
        head->stepTime(PageMs);
        return true;
    case Qt::Key_Home:
        head->toFirst();
        return true;
    case Qt::Key_End:
        head->toLast();
        return true;
    default:
        return false;
    }
}
