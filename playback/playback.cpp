// SPDX-License-Identifier: GPL-3.0-or-later
#include "playback.h"

#include "chartgroup.h"
#include "history.h"
#include "playbackbar.h"
#include "playbackkeys.h"

#include <QPushButton>
#include <QTimer>

Playback::Playback(const History* history, ChartGroup* charts, PlaybackBar* bar, QWidget* window,
                   PlayHead::Clock clock)
    : QObject(window)
    , history(history)
    , charts(charts)
    , bar(bar)
    , playHead(new PlayHead(history, std::move(clock), this))
    , playbackKeys(new PlaybackKeys(playHead, bar->playButton(), window))
    , tick(new QTimer(this))
{
    tick->setInterval(RedrawPeriodMs);
    connect(tick, &QTimer::timeout, this, &Playback::redraw);

    connect(bar, &PlaybackBar::playRequested, playHead, &PlayHead::setPlaying);
    connect(bar, &PlaybackBar::speedChosen, playHead, &PlayHead::setSpeed);
    connect(bar, &PlaybackBar::seekRequested, playHead, &PlayHead::seek);
    connect(playHead, &PlayHead::playingChanged, this, [this](bool playing) {
        this->bar->setPlaying(playing);
        schedule();
    });
    connect(playHead, &PlayHead::moved, this, [this] {
        // A hover may have taken the read-out: a move gives it back.
        readoutTaken = true;
        schedule();
    });
    schedule();
}

void Playback::schedule()
{
    if (!tick->isActive())
        tick->start();
}

void Playback::redraw()
{
    playHead->advance();
    if (!playHead->isPlaying())
        tick->stop();
    if (history->isEmpty())
        return;
    const double position = playHead->position();
    charts->setPlayHead(position / 1000.0);
    bar->setPosition(position);
    bar->setAchievedSpeed(playHead->achievedSpeed());
    const qint64 record = playHead->record();
    if (record != shown || readoutTaken)
        charts->showReadoutOf(record);
    readoutTaken = false;
    if (record != shown) {
        shown = record;
        emit recordShown(record);
    }
}
