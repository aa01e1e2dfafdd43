// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef PLAYBACKBAR_H
#define PLAYBACKBAR_H

#include <QVector>
#include <QWidget>

class QComboBox;
class QLabel;
class QPushButton;
class QSlider;
class QTimer;

// The controls of a recording watched again: play_pb (checked while it
// plays), speed_combobox with the speeds offered, achieved_l with the speed
// actually reached, position_slider over the whole recording and position_l
// with the head's time into it. It only says what the user asked for; what
// the head does comes back through setPosition() and setPlaying().
class PlaybackBar : public QWidget
{
    Q_OBJECT

public:
    // Log-spaced, as the user picks a pace rather than a number.
    static const QVector<double>& speeds();
    static constexpr double DefaultSpeed = 1.0;
    // A drag of the slider seeks at most this often.
    static constexpr int ScrubIntervalMs = 33;

    // The recording spans firstMs to lastMs (ms since the epoch).
    PlaybackBar(qint64 firstMs, qint64 lastMs, QWidget* parent = nullptr);

    QPushButton* playButton() const { return play; }

public slots:
    void setPlaying(bool playing);
    void setPosition(double msSinceEpoch);
    // 0: not known.
    void setAchievedSpeed(double speed);

signals:
    void playRequested(bool play);
    void speedChosen(double speed);
    void seekRequested(double msSinceEpoch);

private:
    double msAt(int step) const;
    void scrubbed(int step);
    void flushScrub();

    qint64 firstMs;
    qint64 lastMs;
    // Slider steps are whole milliseconds, coarser only for recordings too
    // long for an int of them (over 24 days).
    double msPerStep = 1.0;
    QPushButton* play;
    QComboBox* speed;
    QLabel* achieved;
    QSlider* slider;
    QLabel* positionText;
    QTimer* scrub;
    int pendingStep = -1;
};

#endif // PLAYBACKBAR_H
