// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef VIEWERWINDOW_H
#define VIEWERWINDOW_H

#include "consoleclock.h"

#include <QWidget>

#include <memory>

class AttitudeWindow;
class ChartGroup;
class LoadedRecording;
class Playback;
class QLabel;
class NoiseWindow;

// A recording shown whole in a window of its own: the live window's six
// charts over the recording's own times, with the same zoom, pan, read-outs
// and statistics, and its index misses counted as the live window counts
// them. It owns what it shows; opened from the live window it is a child of
// it, a window of its own that closes with it.
class ViewerWindow : public QWidget
{
    Q_OBJECT

public:
    explicit ViewerWindow(std::unique_ptr<LoadedRecording> recording, QWidget* parent = nullptr);
    ~ViewerWindow() override;

    const LoadedRecording& recording() const { return *loaded; }

    // The one way to move the play head to a record: it shows that very
    // record, also among records of equal times.
    void seekToRecord(qint64 record);
    Playback* playback() const { return player; }
    // The record at the play head, -1 before any.
    qint64 currentRecord() const;

private:
    void showRecord(qint64 record);

    std::unique_ptr<LoadedRecording> loaded;
    ChartGroup* charts = nullptr;
    // Watching it again: the record at the play head as the console showed
    // it, and its attitude.
    Playback* player = nullptr;
    QLabel* recordLine = nullptr;
    AttitudeWindow* attitude = nullptr;
    ConsoleClock consoleClock;
    NoiseWindow* noise = nullptr;
};

#endif // VIEWERWINDOW_H
