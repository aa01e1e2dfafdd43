// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef PLAYBACKKEYS_H
#define PLAYBACKKEYS_H

#include <QObject>
#include <QPointer>
#include <QVector>

class PlayHead;
class QAbstractButton;
class QWidget;

// The keys that move the play head, wherever the focus is in the windows
// watched (but in a text field, which keeps its keys): Space plays and
// pauses (through the play button, so it reads what it does), Left and
// Right step a record, Page Up and Page Down a second, Home and End go to
// the first and the last record.
//
// It watches the application's key presses rather than the windows'
// shortcuts: a focused slider or combo box would otherwise take the arrows,
// Home and End for itself.
class PlaybackKeys : public QObject
{
    Q_OBJECT

public:
    static constexpr double PageMs = 1000.0;

    PlaybackKeys(PlayHead* head, QAbstractButton* play, QWidget* window);
    // Another window whose keys move the head (e.g. a window that follows it).
    void watch(QWidget* window);

    static bool textFieldHasFocus();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool isWatched(QObject* receiver) const;

    PlayHead* head;
    QPointer<QAbstractButton> play;
    QVector<QPointer<QWidget>> windows;
};

#endif // PLAYBACKKEYS_H
