// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef PLAYBACK_H
#define PLAYBACK_H

#include "playhead.h"

#include <QObject>

class ChartGroup;
class History;
class PlaybackBar;
class PlaybackKeys;
class QTimer;
class QWidget;

// A recording watched again: the play head, moved by its bar and its keys,
// drawn on the charts (which page along when it leaves their view, their
// read-out on the record shown), and the record shown told to whoever
// follows it.
//
// Moving the head costs a binary search; the charts, the bar and the
// followers are brought up to date on the next redraw tick, once however
// many moves came in between, and the tick runs only while playing or
// after a move.
class Playback : public QObject
{
    Q_OBJECT

public:
    static constexpr int RedrawPeriodMs = 25;

    // All of them outlive the playback; window is its parent, and where the
    // keys work.
    Playback(const History* history, ChartGroup* charts, PlaybackBar* bar, QWidget* window,
             PlayHead::Clock clock = {});

    PlayHead* head() const { return playHead; }
    PlaybackKeys* keys() const { return playbackKeys; }
    // Runs while something is to be redrawn: followers that draw on a tick
    // of their own connect to it after the playback was made, so they see
    // the record of this tick.
    QTimer* redrawTick() const { return tick; }

public slots:
    // What the next tick would do, at once (a seek timed, a test).
    void redraw();

signals:
    // The record at the head changed.
    void recordShown(qint64 record);

private:
    void schedule();

    const History* history;
    ChartGroup* charts;
    PlaybackBar* bar;
    PlayHead* playHead;
    PlaybackKeys* playbackKeys;
    QTimer* tick;
    qint64 shown = -1;
    bool readoutTaken = false;
};

#endif // PLAYBACK_H
