// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef PLAYHEAD_H
#define PLAYHEAD_H

#include <QObject>

#include <deque>
#include <functional>

class History;

// Where a recording is being watched: an instant of the recording's own
// time (ms since the epoch, the history's times) and the record shown
// there, the last record at or before it.
//
// Playing is paced by a clock, never by counting ticks: the position is the
// position it started from plus the wall time elapsed since, times the
// speed. A late or missed redraw therefore never slows it down, and a ten
// minutes' recording at 10x ends after one minute of wall time. Every seek
// and every change of speed starts the reckoning afresh from where the head
// then is.
//
// A head moved to a record (a step, the first or last record, a mark)
// shows that very record, also among records of equal times; moved to an
// instant (playing, the slider, a second's step) it shows the last record at
// or before that instant.
class PlayHead : public QObject
{
    Q_OBJECT

public:
    // Monotonic wall time in milliseconds, from any origin.
    using Clock = std::function<double()>;
    // What the achieved speed is measured over.
    static constexpr double AchievedWindowMs = 1000.0;

    // clock: empty for the system's monotonic clock. history outlives the
    // head and does not change while it is watched.
    explicit PlayHead(const History* history, Clock clock = {}, QObject* parent = nullptr);
    // Another clock (a test's): the reckoning starts afresh on it.
    void setClock(Clock clock);

    // The instant at the head, within the first and the last record's
    // times; 0 for an empty history.
    double position() const;
    // The record shown at the head, -1 for an empty history.
    qint64 record() const;

    bool isPlaying() const { return playing; }
    double speed() const { return rate; }
    // Recording time advanced per wall time over the last second of
    // redraws while playing; 0 when not known (paused, or just started).
    double achievedSpeed() const;

public slots:
    // Playing from the last record starts again from the first.
    void setPlaying(bool play);
    void setSpeed(double speed);
    void seek(double msSinceEpoch);
    void seekToRecord(qint64 record);
    // By records from the one shown, and by time from the head.
    void stepRecords(qint64 records);
    void stepTime(double ms);
    void toFirst() { seekToRecord(0); }
    void toLast();
    // Called on every redraw while playing: stops at the last record, and
    // notes the position for the achieved speed.
    void advance();

signals:
    void playingChanged(bool playing);
    // The head was moved other than by playing.
    void moved();

private:
    double clampedPosition(double ms) const;
    double positionAt(double wallMs) const;
    static Clock systemClock();
    void anchor(double position);

    const History* history;
    Clock clock;
    bool playing = false;
    double rate = 1.0;
    // Where the reckoning starts: the head's position at that wall time.
    double anchorPosition = 0.0;
    double anchorWall = 0.0;
    // The record shown when the head was moved to one, else -1.
    qint64 pinned = -1;
    // (wall time, position) at the redraws of the last second or so.
    std::deque<std::pair<double, double>> samples;
};

#endif // PLAYHEAD_H
