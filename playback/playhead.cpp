// SPDX-License-Identifier: GPL-3.0-or-later
#include "playhead.h"

#include "history.h"

#include <QElapsedTimer>

#include <memory>

PlayHead::PlayHead(const History* history, Clock clock, QObject* parent)
    : QObject(parent)
    , history(history)
    , clock(clock ? std::move(clock) : systemClock())
{
    if (!history->isEmpty())
        seekToRecord(0);
}

PlayHead::Clock PlayHead::systemClock()
{
    auto timer = std::make_shared<QElapsedTimer>();
    timer->start();
    return [timer] { return timer->nsecsElapsed() / 1e6; };
}

void PlayHead::setClock(Clock clock)
{
    const double at = position();
    this->clock = clock ? std::move(clock) : systemClock();
    anchor(at);
}

double PlayHead::clampedPosition(double ms) const
{
    if (history->isEmpty())
        return 0.0;
    return qBound(double(history->firstTime()), ms, double(history->lastTime()));
}

double PlayHead::positionAt(double wallMs) const
{
    if (!playing)
        return anchorPosition;
    return clampedPosition(anchorPosition + (wallMs - anchorWall) * rate);
}

double PlayHead::position() const
{
    return positionAt(playing ? clock() : 0.0);
}

qint64 PlayHead::record() const
{
    if (history->isEmpty())
        return -1;
    if (pinned >= 0)
        return pinned;
    return qMax<qint64>(0, history->upperBound(position()) - 1);
}

double PlayHead::achievedSpeed() const
{
    if (!playing || samples.size() < 2)
        return 0.0;
    const double wall = samples.back().first - samples.front().first;
    // Less than a quarter of the window says too little.
    if (wall < AchievedWindowMs / 4)
        return 0.0;
    return (samples.back().second - samples.front().second) / wall;
}

void PlayHead::anchor(double position)
{
    anchorPosition = position;
    anchorWall = clock();
    samples.clear();
}

void PlayHead::setPlaying(bool play)
{
    if (play == playing || (play && history->isEmpty()))
        return;
    if (play) {
        if (record() == history->size() - 1 && position() >= history->lastTime())
            seekToRecord(0);
        pinned = -1;
        playing = true;
        anchor(anchorPosition);
    } else {
        anchorPosition = position();
        playing = false;
        samples.clear();
    }
    emit playingChanged(playing);
}

void PlayHead::setSpeed(double speed)
{
    if (speed <= 0.0 || speed == rate)
        return;
    anchor(position());
    rate = speed;
}

void PlayHead::seek(double msSinceEpoch)
{
    pinned = -1;
    anchor(clampedPosition(msSinceEpoch));
    emit moved();
}

void PlayHead::seekToRecord(qint64 record)
{
    if (history->isEmpty())
        return;
    pinned = qBound<qint64>(0, record, history->size() - 1);
    anchor(history->timeAt(pinned));
    emit moved();
}

void PlayHead::stepRecords(qint64 records)
{
    seekToRecord(record() + records);
}

void PlayHead::stepTime(double ms)
{
    seek(position() + ms);
}

void PlayHead::toLast()
{
    seekToRecord(history->size() - 1);
}

void PlayHead::advance()
{
    if (!playing)
        return;
    const double now = clock();
    const double at = positionAt(now);
    samples.emplace_back(now, at);
    // One sample at or before the window's start stays, so the window is
    // covered whole.
    while (samples.size() > 2 && samples[1].first <= now - AchievedWindowMs)
        samples.pop_front();
    if (at >= history->lastTime()) {
        playing = false;
        anchorPosition = history->lastTime();
        pinned = history->size() - 1;
        samples.clear();
        emit playingChanged(false);
    }
}
